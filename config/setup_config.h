// The product's configuration: key=value lines embedded in the executable.
#pragma once

#include "config/config_table.h"

// Filled once at start-up, read-only afterwards. Plain storage without a
// destructor: the install worker may still read it while the process exits.
extern ConfigTable SetupConfig;

const int CONFIG_RESOURCE_TYPE = 1600;
const int CONFIG_RESOURCE_ID = 1601;

// Decodes the resource text with the ANSI code page into `text` (CONFIG_TEXT_MAX
// code units, no terminator). Returns its length: 0 when there is none, -1 when
// it is longer than that (nothing decoded; logged).
int LoadConfigText(wchar_t* text);

// Fills SetupConfig from the resource; a text beyond the table's limits leaves
// it empty, as a missing resource does, and is logged.
void LoadSetupConfig();

// The value stored under `key` copied into `value` (`capacity` code units, the
// terminator included); empty for a missing key. False, with `value` empty and
// a log line, when it does not fit.
bool GetConfigValue(const wchar_t* key, wchar_t* value, int capacity);

// Tells a key that is present (with any value, empty included) from a missing
// one. When present, its value is copied into `value` (`capacity` code units,
// cut to fit and always terminated).
bool FindConfigValue(const wchar_t* key, wchar_t* value, int capacity);

// GetConfigValue with "\n" turned into a line feed, then "\\" into "\".
bool GetConfigText(const wchar_t* key, wchar_t* text, int capacity);
