#include "install/mirror_list.h"

#include "config/replace_all.h"
#include "http/url.h"

// The longer prefix with the largest int: any number a caller passes fits.
static_assert(sizeof L"net2.url2147483647" / sizeof(wchar_t) <= MIRROR_KEY_SIZE, "every mirror key fits");

void MirrorKey(const MirrorList& list, int number, wchar_t* key) {
  int length = 0;
  while (list.prefix[length] != L'\0') {
    key[length] = list.prefix[length];
    ++length;
  }
  if (!(list.firstBare && number == 1)) {
    wchar_t digits[10];
    int count = 0;
    do {
      digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
      number /= 10;
    } while (number > 0 && count < 10);
    while (count > 0) key[length++] = digits[--count];
  }
  key[length] = L'\0';
}

int MirrorNumber(const MirrorList& list, const wchar_t* key) {
  int at = 0;
  for (; list.prefix[at] != L'\0'; ++at)
    if (key[at] != list.prefix[at]) return 0;
  if (key[at] == L'\0') return list.firstBare ? 1 : 0;
  if (key[at] == L'0') return 0;
  int number = 0;
  for (; key[at] != L'\0'; ++at) {
    if (key[at] < L'0' || key[at] > L'9' || number > MIRROR_NUMBER_MAX / 10) return 0;
    number = number * 10 + (key[at] - L'0');
  }
  return list.firstBare && number == 1 ? 0 : number;
}

int CountMirrors(const ConfigTable* table, const MirrorList& list) {
  // A table holds at most CONFIG_MAX_ENTRIES keys: the count stops there.
  int count = 0;
  while (count < CONFIG_MAX_ENTRIES) {
    wchar_t key[MIRROR_KEY_SIZE];
    MirrorKey(list, count + 1, key);
    const ConfigEntry* entry = FindConfigEntry(table, key);
    if (entry == 0 || entry->valueLength == 0) break;
    ++count;
  }
  return count;
}

bool ProductInstallerUrl(const wchar_t* urlTemplate, const wchar_t* tag, wchar_t* url) {
  return ReplaceAll(urlTemplate, VERSION_PLACEHOLDER, tag, url, URL_BUFFER_SIZE);
}
