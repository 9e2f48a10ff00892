// The product's configuration: key=value lines embedded in the executable.
#pragma once

#include <map>
#include <string>

typedef std::map<std::wstring, std::wstring> ConfigTable;

// Filled once at start-up, read-only afterwards. Never destroyed: when the user
// closes the window during a run, the process exits while the install worker
// may still be reading it.
extern ConfigTable& SetupConfig;

const int CONFIG_RESOURCE_TYPE = 1600;
const int CONFIG_RESOURCE_ID = 1601;

// The resource text decoded with the ANSI code page; empty when there is none.
std::wstring LoadConfigText();

void LoadSetupConfig();

// Splits the text into lines at LF (a CR before it is dropped) and each line at
// its first "=" (a line without one is key and value at once). The first
// occurrence of a key wins; empty lines are skipped.
void ParseConfigText(const std::wstring& text, ConfigTable& table);

// The value stored under `key`, or empty.
std::wstring GetConfigValue(const std::wstring& key);

// Tells a key that is present (with any value, empty included) from a missing
// one. When present, its value is copied into `value` (`capacity` code units,
// cut to fit and always terminated).
bool FindConfigValue(const wchar_t* key, wchar_t* value, int capacity);

// GetConfigValue with "\n" turned into a line feed, then "\\" into "\".
std::wstring GetConfigText(const std::wstring& key);
std::wstring ExpandConfigEscapes(const std::wstring& value);
