// What the fuzz targets share: a property check that stops the run, wide text
// made of UTF-16 code units from the fuzzer's bytes, and the plain text
// replacement that the targets take as their reference.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

// A broken property aborts, so that libFuzzer keeps the input as a crash and
// the run fails.
#define FUZZ_CHECK(condition, what)                                              \
  do {                                                                           \
    if (!(condition)) {                                                          \
      fprintf(stderr, "property broken at %s:%d: %s\n", __FILE__, __LINE__, what); \
      abort();                                                                   \
    }                                                                            \
  } while (0)

// Two bytes per code unit, little-endian, so every value from 0 to 0xFFFF
// (surrogates included) can come up; an odd last byte is left out.
inline std::wstring UnitsFromBytes(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return text;
}

// Up to `maxUnits` code units from the provider.
inline std::wstring ConsumeUnits(FuzzedDataProvider& data, size_t maxUnits) {
  return UnitsFromBytes(data.ConsumeRandomLengthString(maxUnits * 2));
}

// The same without zeros, which would end a zero-terminated text early.
inline std::wstring ConsumeUnitsWithoutZero(FuzzedDataProvider& data, size_t maxUnits) {
  std::wstring text = ConsumeUnits(data, maxUnits);
  return text.substr(0, text.find(L'\0'));
}

// Left to right, without overlap, the replacement never searched again; an
// empty pattern leaves the text as it is.
inline std::wstring ReferenceReplaceAll(const std::wstring& source, const std::wstring& pattern,
                                        const std::wstring& replacement) {
  if (pattern.empty()) return source;
  std::wstring result;
  size_t position = 0;
  for (;;) {
    size_t found = source.find(pattern, position);
    if (found == std::wstring::npos) return result + source.substr(position);
    result += source.substr(position, found - position) + replacement;
    position = found + pattern.size();
  }
}
