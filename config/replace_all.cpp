#include "config/replace_all.h"

std::wstring ReplaceAll(const std::wstring& source, const std::wstring& pattern,
                        const std::wstring& replacement) {
  if (pattern.empty()) return source;
  std::wstring result;
  size_t position = 0;
  for (;;) {
    size_t found = source.find(pattern, position);
    if (found == std::wstring::npos) {
      result.append(source, position, std::wstring::npos);
      return result;
    }
    result.append(source, position, found - position);
    result.append(replacement);
    position = found + pattern.size();
  }
}
