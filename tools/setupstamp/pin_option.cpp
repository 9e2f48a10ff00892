#include "tools/setupstamp/pin_option.h"

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
