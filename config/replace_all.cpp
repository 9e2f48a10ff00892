#include "config/replace_all.h"

#include <string.h>
#include <wchar.h>

// Appends `count` units at *length when they fit below `capacity` (leaving the
// terminator's unit). memmove: in place, the part kept may overlap its new place.
static bool Append(wchar_t* result, int capacity, int* length, const wchar_t* units, size_t count) {
  if (count >= (size_t)(capacity - *length)) return false;
  memmove(result + *length, units, count * sizeof(wchar_t));
  *length += (int)count;
  return true;
}

bool ReplaceAll(const wchar_t* source, const wchar_t* pattern, const wchar_t* replacement,
                wchar_t* result, int capacity) {
  const size_t patternLength = wcslen(pattern);
  const size_t replacementLength = wcslen(replacement);
  const wchar_t* rest = source;
  int length = 0;
  for (;;) {
    const wchar_t* found = patternLength > 0 ? wcsstr(rest, pattern) : NULL;
    size_t kept = found != NULL ? (size_t)(found - rest) : wcslen(rest);
    if (!Append(result, capacity, &length, rest, kept)) break;
    if (found == NULL) {
      result[length] = L'\0';
      return true;
    }
    if (!Append(result, capacity, &length, replacement, replacementLength)) break;
    rest = found + patternLength;
  }
  if (capacity > 0) result[0] = L'\0';
  return false;
}
