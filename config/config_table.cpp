#include "config/config_table.h"

#include <string.h>
#include <wchar.h>

#include "config/replace_all.h"

// Plain comparison of code units: a key holding a zero never equals a shorter one.
static bool KeyEquals(const ConfigTable* table, const ConfigEntry& entry, const wchar_t* key,
                      int keyLength) {
  return entry.keyLength == keyLength &&
         wmemcmp(table->text + entry.key, key, (size_t)keyLength) == 0;
}

static const ConfigEntry* FindKey(const ConfigTable* table, const wchar_t* key, int keyLength) {
  for (int i = 0; i < table->count; ++i)
    if (KeyEquals(table, table->entries[i], key, keyLength)) return &table->entries[i];
  return NULL;
}

ConfigParseResult ParseConfigText(const wchar_t* text, int length, ConfigTable* table) {
  table->count = 0;
  if (length > CONFIG_TEXT_MAX) return CONFIG_TEXT_TOO_LONG;
  wmemcpy(table->text, text, (size_t)length);

  const wchar_t* const all = table->text;
  int start = 0;
  while (start < length) {
    const wchar_t* lineFeed = wmemchr(all + start, L'\n', (size_t)(length - start));
    int end = lineFeed != NULL ? (int)(lineFeed - all) : length;
    int lineLength = end - start;
    const int lineStart = start;
    start = end + 1;
    if (lineLength == 0) continue;
    if (all[lineStart + lineLength - 1] == L'\r') --lineLength;

    ConfigEntry entry = {lineStart, lineLength, lineStart, lineLength};
    const wchar_t* equals = wmemchr(all + lineStart, L'=', (size_t)lineLength);
    if (equals != NULL) {
      entry.keyLength = (int)(equals - all) - lineStart;
      entry.value = lineStart + entry.keyLength + 1;
      entry.valueLength = lineLength - entry.keyLength - 1;
    }
    if (FindKey(table, all + entry.key, entry.keyLength) != NULL) continue;
    if (table->count == CONFIG_MAX_ENTRIES) {
      table->count = 0;
      return CONFIG_TOO_MANY_ENTRIES;
    }
    table->entries[table->count++] = entry;
  }
  return CONFIG_PARSED;
}

const ConfigEntry* FindConfigEntry(const ConfigTable* table, const wchar_t* key) {
  return FindKey(table, key, (int)wcslen(key));
}

bool CopyConfigValue(const ConfigTable* table, const wchar_t* key, wchar_t* value, int capacity) {
  const ConfigEntry* entry = FindConfigEntry(table, key);
  int length = entry != NULL ? entry->valueLength : 0;
  if (length >= capacity) {
    if (capacity > 0) value[0] = L'\0';
    return false;
  }
  if (entry != NULL) wmemcpy(value, table->text + entry->value, (size_t)length);
  value[length] = L'\0';
  return true;
}

bool ExpandConfigEscapes(const wchar_t* value, wchar_t* text, int capacity) {
  // Backslash-n first: a doubled backslash before "n" becomes a backslash and a line feed.
  return ReplaceAll(value, L"\\n", L"\n", text, capacity) &&
         ReplaceAll(text, L"\\\\", L"\\", text, capacity);
}
