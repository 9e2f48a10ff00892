// Built twice: with a configuration resource of exactly CONFIG_TEXT_MAX
// characters, and with one of a character more (RESOURCE_TEXT_PAST_LIMIT); the
// build gives the length it wrote as RESOURCE_TEXT_LENGTH.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "config/setup_config.h"
#include "log/run_log.h"
#include "test_files.h"

namespace {

wchar_t Text[CONFIG_TEXT_MAX];

#if !RESOURCE_TEXT_PAST_LIMIT
TEST(ConfigResourceLimit, TextAtTheLimitLoadsWhole) {
  ASSERT_EQ(CONFIG_TEXT_MAX, RESOURCE_TEXT_LENGTH);
  EXPECT_EQ(CONFIG_TEXT_MAX, LoadConfigText(Text));
  LoadSetupConfig();
  ASSERT_EQ(1, SetupConfig.count);
  EXPECT_EQ(CONFIG_TEXT_MAX - 11, SetupConfig.entries[0].valueLength);
}
#else
TEST(ConfigResourceLimit, TextPastTheLimitIsRefusedAndLogged) {
  ASSERT_EQ(CONFIG_TEXT_MAX + 1, RESOURCE_TEXT_LENGTH);
  const std::wstring log = TempFilePath(L"config-limit-test.log");
  lstrcpynW(RunLogPath, log.c_str(), MAX_PATH);
  ASSERT_NE(nullptr, OpenRunLogFile());

  EXPECT_EQ(-1, LoadConfigText(Text));
  LoadSetupConfig();
  EXPECT_EQ(0, SetupConfig.count);
  CloseRunLog();

  const std::string bytes = ReadFileBytes(log);
  DeleteFileW(log.c_str());
  const std::string line = "configuration refused: " + std::to_string(CONFIG_TEXT_MAX + 1) +
                           " characters, at most " + std::to_string(CONFIG_TEXT_MAX) + "\r\n";
  EXPECT_NE(std::string::npos, bytes.find(line)) << bytes;
}
#endif

}  // namespace
