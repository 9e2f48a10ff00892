#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/install_state.h"
#include "log/run_log.h"
#include "test_files.h"

namespace {

class RecordErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetLogLocale());
    WCHAR dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    wsprintfW(RunLogPath, L"%srecord-error-%lu.log", dir, GetCurrentProcessId());
    ASSERT_NE(nullptr, OpenRunLogFile());
  }
  void TearDown() override { DeleteRunLog(); }
};

TEST_F(RecordErrorTest, KeepsTheMessageAndLogsItWithTheLastErrorCode) {
  SetLastError(ERROR_ACCESS_DENIED);
  RecordError(L"产品系统安装程序下载失败。(X005)");
  EXPECT_STREQ(L"产品系统安装程序下载失败。(X005)", LastErrorText);
  CloseRunLog();
  std::string log = ReadFileBytes(RunLogPath);
  ASSERT_GT(log.size(), 20u);
  // GBK of the message, then the code as eight upper-case hexadecimal digits.
  EXPECT_EQ(std::string("\xB2\xFA\xC6\xB7\xCF\xB5\xCD\xB3\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2"
                        "\xCF\xC2\xD4\xD8\xCA\xA7\xB0\xDC\xA1\xA3(X005)(EH00000005)\r\n"),
            log.substr(20));
}

TEST_F(RecordErrorTest, MessageLongerThanTheBufferIsCutToFit) {
  const size_t capacity = sizeof LastErrorText / sizeof LastErrorText[0];
  std::wstring longMessage(capacity + 500, L'x');
  longMessage.replace(capacity - 2, 2, L"AB");
  RecordError(longMessage.c_str());
  EXPECT_EQ(capacity - 1, wcslen(LastErrorText));
  EXPECT_EQ(longMessage.substr(0, capacity - 1), std::wstring(LastErrorText));
  // A later, short message replaces it whole.
  RecordError(L"short");
  EXPECT_STREQ(L"short", LastErrorText);
}

}  // namespace
