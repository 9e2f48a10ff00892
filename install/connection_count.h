// The "app.connections" and "app.redirects" keys: how many connections each
// download of a run may open, and how many redirects it follows. Plain values
// only; setup.exe and the stamping tool read them the same way.
#pragma once

#include "config/config_table.h"

const wchar_t CONNECTIONS_KEY[] = L"app.connections";
// Without the key: one connection, the download as it always was. The maker,
// who knows the server's limits, asks for more (2 to 8 turn ranges on).
const int DEFAULT_CONNECTIONS = 1;

// Without it, or malformed: no redirect is followed (MAX_REDIRECTS at most).
const wchar_t REDIRECTS_KEY[] = L"app.redirects";

// A key of one decimal digit from `lowest` to `highest`: no sign, no blank, no
// second digit. `number` receives the digit when valid, `fallback` otherwise.
SettingRead ReadDigitSetting(bool present, const wchar_t* value, int lowest, int highest, int fallback,
                             int* number);

// Reads the key's value: digits only, no leading zero, no blank, from 1 to
// MAX_DOWNLOAD_CONNECTIONS. `connections` receives the count to use: the
// default without the key, the value when valid, and 1 (one connection, the
// download as it always was) when malformed, empty included.
SettingRead ReadConnectionSetting(bool present, const wchar_t* value, int* connections);
