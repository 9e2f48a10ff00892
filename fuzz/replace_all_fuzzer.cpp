// ReplaceAll against a plain reference: the same text whenever it fits the
// buffer, a refusal exactly when it does not, in place as well as into a
// buffer of its own.
#include <wchar.h>

#include <memory>
#include <string>

#include "config/replace_all.h"
#include "fuzz/fuzz_support.h"

static void CheckResult(bool done, const wchar_t* result, int capacity, const std::wstring& expected,
                        const char* where) {
  if (expected.size() < static_cast<size_t>(capacity)) {
    FUZZ_CHECK(done, where);
    FUZZ_CHECK(expected == result, where);
  } else {
    FUZZ_CHECK(!done, where);
    FUZZ_CHECK(capacity == 0 || result[0] == L'\0', where);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const int capacity = data.ConsumeIntegralInRange<int>(0, 600);
  const std::wstring pattern = ConsumeUnitsWithoutZero(data, 6);
  const std::wstring replacement = ConsumeUnitsWithoutZero(data, 6);
  const std::wstring source = ConsumeUnitsWithoutZero(data, 400);
  const std::wstring expected = ReferenceReplaceAll(source, pattern, replacement);

  // A buffer of exactly `capacity` units: the address sanitizer sees a write past it.
  std::unique_ptr<wchar_t[]> result(new wchar_t[capacity]);
  bool done = ReplaceAll(source.c_str(), pattern.c_str(), replacement.c_str(), result.get(), capacity);
  CheckResult(done, result.get(), capacity, expected, "ReplaceAll into a buffer of its own equals the reference");

  // In place, as the escape expansion uses it: allowed where the replacement is
  // no longer than the pattern and the source fits the buffer.
  if (replacement.size() <= pattern.size() && source.size() < static_cast<size_t>(capacity)) {
    std::unique_ptr<wchar_t[]> text(new wchar_t[capacity]);
    wmemcpy(text.get(), source.c_str(), source.size() + 1);
    done = ReplaceAll(text.get(), pattern.c_str(), replacement.c_str(), text.get(), capacity);
    CheckResult(done, text.get(), capacity, expected, "ReplaceAll in place equals the reference");
    FUZZ_CHECK(done, "a replacement no longer than its pattern never grows the text");
  }
  return 0;
}
