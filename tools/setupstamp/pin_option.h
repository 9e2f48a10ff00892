// Payload pins in the stamping tool: writing the digest of a real installer
// file into the text as a key's value.
#pragma once

#include <string>
#include <vector>

#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/pin_values.h"

// Sets `key` to `digest` (64 hexadecimal digits) in the line that setup.exe
// reads for it (the first), or adds a line when no line gives the key. A value
// that names another digest (or none) is replaced with a warning that names
// both; `source` is the file the digest came from.
void ApplyPin(std::vector<ConfigLine>& lines, const std::wstring& key, const std::wstring& digest,
              const std::wstring& source, std::vector<CheckMessage>& messages);

// What ApplyPin and the publisher pins' ApplySigner share: sets `key` to
// `value` in the line that setup.exe reads for it (the first), or adds a line.
// A line whose value `same` takes for `value` stays; another is replaced with
// the warning "\"KEY\" was \"OLD\"; " followed by `reason`.
void ApplyStampedValue(std::vector<ConfigLine>& lines, const std::wstring& key, const std::wstring& value,
                       bool (*same)(const std::wstring& have, const std::wstring& want), const std::wstring& reason,
                       std::vector<CheckMessage>& messages);
