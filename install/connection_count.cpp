#include "install/connection_count.h"

#include "http/range_plan.h"

static_assert(MAX_DOWNLOAD_CONNECTIONS < 10, "one digit each");

ConnectionSetting ReadConnectionSetting(bool present, const wchar_t* value, int* connections) {
  *connections = DEFAULT_CONNECTIONS;
  if (!present) return CONNECTIONS_ABSENT;
  if (value[0] >= L'1' && value[0] <= L'0' + MAX_DOWNLOAD_CONNECTIONS && value[1] == L'\0') {
    *connections = value[0] - L'0';
    return CONNECTIONS_VALID;
  }
  *connections = 1;
  return CONNECTIONS_MALFORMED;
}
