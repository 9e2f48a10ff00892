#pragma once

#include <string>

// A copy of `source` with every occurrence of `pattern` replaced, left to right,
// without overlap and without searching the replacement again. An empty pattern
// returns the source unchanged.
std::wstring ReplaceAll(const std::wstring& source, const std::wstring& pattern,
                        const std::wstring& replacement);
