#include "tools/setupstamp/pin_values.h"

#include <wchar.h>

const wchar_t* const PIN_KEYS[3] = {PRODUCT_PIN_KEY_V2, PRODUCT_PIN_KEY_V4, RUNTIME_PIN_KEY};

bool IsPinKey(const std::wstring& key) {
  for (size_t i = 0; i < sizeof(PIN_KEYS) / sizeof(PIN_KEYS[0]); ++i)
    if (key == PIN_KEYS[i]) return true;
  return false;
}

static bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsSignerKey(const std::wstring& key) {
  return key == PRODUCT_SIGNER_KEY || key == RUNTIME_SIGNER_KEY;
}

std::wstring DescribePinProblem(const std::wstring& value) {
  unsigned char digest[SHA256_SIZE];
  if (ParsePin(value.c_str(), digest)) return std::wstring();
  wchar_t text[96];
  if (value.size() != static_cast<size_t>(PIN_DIGITS)) {
    swprintf(text, 96, L"it has %d characters; a pin is 64 hexadecimal digits",
               static_cast<int>(value.size()));
  } else {
    size_t bad = 0;
    while (bad < value.size() && IsHexDigit(value[bad])) ++bad;
    swprintf(text, 96, L"character %d is not a hexadecimal digit; a pin is 64 of them",
               static_cast<int>(bad + 1));
  }
  text[95] = L'\0';
  return text;
}

std::wstring DescribeSignerProblem(const std::wstring& value) {
  SignerPins pins;
  if (ParseSignerPins(value.c_str(), &pins)) return std::wstring();
  wchar_t text[128];
  size_t start = 0;
  for (int entry = 1;; ++entry) {
    size_t comma = value.find(L',', start);
    std::wstring digest = value.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
    if (entry > MAX_SIGNER_PINS) {
      swprintf(text, 128, L"it lists more than %d keys", MAX_SIGNER_PINS);
      break;
    }
    std::wstring pinProblem = DescribePinProblem(digest);
    if (!pinProblem.empty()) {
      swprintf(text, 128, L"key %d: %ls (comma-separated, no blanks)", entry, pinProblem.c_str());
      break;
    }
    if (comma == std::wstring::npos) {
      swprintf(text, 128, L"it is not a comma-separated list of key digests");
      break;
    }
    start = comma + 1;
  }
  text[127] = L'\0';
  return text;
}
