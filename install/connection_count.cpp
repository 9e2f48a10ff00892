#include "install/connection_count.h"

#include "http/range_plan.h"
#include "http/redirect.h"

static_assert(MAX_DOWNLOAD_CONNECTIONS < 10 && MAX_REDIRECTS < 10, "one digit each");

SettingRead ReadDigitSetting(bool present, const wchar_t* value, int lowest, int highest, int fallback,
                             int* number) {
  *number = fallback;
  if (!present) return SETTING_ABSENT;
  if (value[0] < L'0' + lowest || value[0] > L'0' + highest || value[1] != L'\0') return SETTING_MALFORMED;
  *number = value[0] - L'0';
  return SETTING_VALID;
}

SettingRead ReadConnectionSetting(bool present, const wchar_t* value, int* connections) {
  return ReadDigitSetting(present, value, 1, MAX_DOWNLOAD_CONNECTIONS, DEFAULT_CONNECTIONS, connections);
}
