#include "tools/setupstamp/pin_option.h"

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

static bool SameDigest(const std::wstring& value, const std::wstring& digest) {
  unsigned char have[SHA256_SIZE];
  unsigned char want[SHA256_SIZE];
  return ParsePin(value.c_str(), have) && ParsePin(digest.c_str(), want) && DigestsEqual(have, want);
}

void ApplyStampedValue(std::vector<ConfigLine>& lines, const std::wstring& key, const std::wstring& value,
                       bool (*same)(const std::wstring& have, const std::wstring& want), const std::wstring& reason,
                       std::vector<CheckMessage>& messages) {
  for (size_t i = 0; i < lines.size(); ++i) {
    ConfigLine& line = lines[i];
    if (!line.decoded) continue;
    std::wstring lineKey;
    std::wstring had;
    bool hasEquals = SplitConfigLine(line.text, lineKey, had);
    if (lineKey != key) continue;
    if (hasEquals && same(had, value)) return;
    CheckMessage message;
    message.severity = CHECK_WARNING;
    message.line = line.number;
    message.text = L"\"" + key + L"\" was \"" + had + L"\"; " + reason;
    messages.push_back(message);
    line.text = key + L"=" + value;
    return;
  }
  // A line of its own, which the file does not have: findings name no line.
  ConfigLine added;
  added.number = 0;
  added.decoded = true;
  added.text = key + L"=" + value;
  lines.push_back(added);
}

void ApplyPin(std::vector<ConfigLine>& lines, const std::wstring& key, const std::wstring& digest,
              const std::wstring& source, std::vector<CheckMessage>& messages) {
  ApplyStampedValue(lines, key, digest, SameDigest, L"--pin sets it to \"" + digest + L"\", the SHA-256 of " + source,
                    messages);
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
