// The configuration table: key=value lines parsed into fixed storage. Plain
// values only (no Windows headers), so the parser builds on any host.
#pragma once

// Limits far beyond any real configuration (the shipped one has eleven lines,
// under a thousand characters). A text beyond either is refused whole: a table
// with some of its keys missing would mean something else than the text.
const int CONFIG_TEXT_MAX = 16384;  // UTF-16 code units of the whole text
const int CONFIG_MAX_ENTRIES = 64;  // distinct keys

// Where a key and its value lie in the table's copy of the text. A key or value
// may hold any character, a zero included; lengths say where each ends.
struct ConfigEntry {
  int key;
  int keyLength;
  int value;
  int valueLength;
};

struct ConfigTable {
  wchar_t text[CONFIG_TEXT_MAX];
  ConfigEntry entries[CONFIG_MAX_ENTRIES];  // in the order of first occurrence
  int count;
};

enum ConfigParseResult {
  CONFIG_PARSED = 0,
  CONFIG_TEXT_TOO_LONG = 1,
  CONFIG_TOO_MANY_ENTRIES = 2,
};

// Fills `table` from `length` code units of `text`: lines end at LF (one CR
// right before it is dropped), empty lines are skipped, each line splits at its
// first "=" (a line without one is key and value at once), nothing is trimmed,
// and the first occurrence of a key wins. On a refusal the table is empty.
ConfigParseResult ParseConfigText(const wchar_t* text, int length, ConfigTable* table);

// What a configuration says about one key whose value is checked (a pin, a
// count): a present key never counts as absent, whatever its value.
enum SettingRead {
  SETTING_ABSENT = 0,     // no key
  SETTING_MALFORMED = 1,  // present, but not what the key takes (empty included)
  SETTING_VALID = 2,
};

// The entry whose key equals `key` (zero-terminated, case-sensitive), or null.
const ConfigEntry* FindConfigEntry(const ConfigTable* table, const wchar_t* key);

// Copies the value stored under `key` into `value` (`capacity` code units, the
// terminator included); empty for a missing key. False, with `value` empty,
// when the value does not fit: a value is never cut.
bool CopyConfigValue(const ConfigTable* table, const wchar_t* key, wchar_t* value, int capacity);

// "\n" turned into a line feed, then "\\" into "\", into `text` (`capacity`
// units). Both passes only shorten the text, so `text` may be `value` itself.
bool ExpandConfigEscapes(const wchar_t* value, wchar_t* text, int capacity);
