// What the stamping tool knows of the pin keys and their values, below the
// configuration check that reports on them and the options that write them:
// which keys hold a pin, and why a value is not one that setup.exe takes.
#pragma once

#include <string>

#include "install/payload_pin.h"
#include "install/signer_pin.h"

// The three pin keys, product builds first.
extern const wchar_t* const PIN_KEYS[3];

bool IsPinKey(const std::wstring& key);

// app.signer or net2.signer.
bool IsSignerKey(const std::wstring& key);

// Empty when setup.exe takes `value` as a pin; otherwise why not.
std::wstring DescribePinProblem(const std::wstring& value);

// Empty when setup.exe takes `value` as a publisher pin; otherwise why not.
std::wstring DescribeSignerProblem(const std::wstring& value);
