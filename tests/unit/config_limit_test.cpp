// Built three times, each with a configuration resource at or past a limit:
// RESOURCE_LONGEST, exactly CONFIG_TEXT_MAX characters; RESOURCE_TOO_LONG, one
// character more; RESOURCE_TOO_MANY_KEYS, one key more than CONFIG_MAX_ENTRIES.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "config/setup_config.h"
#include "log/run_log.h"
#include "test_files.h"

namespace {

wchar_t Text[CONFIG_TEXT_MAX];

// Runs LoadSetupConfig with a run log open; returns what it logged.
std::string LoadLogged() {
  const std::wstring log = TempFilePath(L"config-limit-test.log");
  lstrcpynW(RunLogPath, log.c_str(), MAX_PATH);
  EXPECT_NE(nullptr, OpenRunLogFile());
  LoadSetupConfig();
  CloseRunLog();
  const std::string bytes = ReadFileBytes(log);
  DeleteFileW(log.c_str());
  return bytes;
}

#if defined(RESOURCE_LONGEST)
TEST(ConfigResourceLimit, TextAtTheLimitLoadsWhole) {
  EXPECT_EQ(CONFIG_TEXT_MAX, LoadConfigText(Text));
  EXPECT_EQ("", LoadLogged());
  ASSERT_EQ(1, SetupConfig.count);
  EXPECT_EQ(CONFIG_TEXT_MAX - 11, SetupConfig.entries[0].valueLength);
}
#elif defined(RESOURCE_TOO_LONG)
TEST(ConfigResourceLimit, TextPastTheLimitIsRefusedAndLogged) {
  EXPECT_EQ(-1, LoadConfigText(Text));
  const std::string log = LoadLogged();
  EXPECT_EQ(0, SetupConfig.count);
  const std::string line = "configuration refused: " + std::to_string(CONFIG_TEXT_MAX + 1) +
                           " characters, at most " + std::to_string(CONFIG_TEXT_MAX) + "\r\n";
  EXPECT_NE(std::string::npos, log.find(line)) << log;
}
#elif defined(RESOURCE_TOO_MANY_KEYS)
TEST(ConfigResourceLimit, KeysPastTheLimitAreRefusedAndLogged) {
  EXPECT_GT(LoadConfigText(Text), 0);
  const std::string log = LoadLogged();
  EXPECT_EQ(0, SetupConfig.count);
  const std::string line =
      "configuration refused: more than " + std::to_string(CONFIG_MAX_ENTRIES) + " keys\r\n";
  EXPECT_NE(std::string::npos, log.find(line)) << log;
}
#endif

}  // namespace
