// The test programs' own helpers that decide on plain values.
#include <gtest/gtest.h>
#include <windows.h>

#include "test_files.h"

// Only the emulated guest scales waits, and only by a whole number from 1 to
// 100: anything else in the variable leaves them as written.
TEST(ScaledWait, ScalesByAWholeNumberFrom1To100Only) {
  struct Case {
    const wchar_t* setting;  // NULL: unset
    unsigned long expected;
  };
  const Case cases[] = {{NULL, 5000},  {L"20", 100000}, {L"1", 5000},  {L"100", 500000}, {L"0", 5000},
                        {L"101", 5000}, {L"abc", 5000},  {L"", 5000},   {L"99999999", 5000}};
  for (const Case& c : cases) {
    SetEnvironmentVariableW(L"SETUP_TEST_WAIT_SCALE", c.setting);
    EXPECT_EQ(c.expected, ScaledWaitMs(5000)) << (c.setting != NULL ? c.setting : L"(unset)");
  }
  SetEnvironmentVariableW(L"SETUP_TEST_WAIT_SCALE", NULL);
}
