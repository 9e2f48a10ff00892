#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/install_ui.h"
#include "shell/user_texts.h"
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
  RecordError(MESSAGE_PRODUCT_DOWNLOAD_FAILED, 0);
  EXPECT_STREQ(L"产品系统安装程序下载失败。(X005)", LastErrorText);
  CloseRunLog();
  std::string log = ReadFileBytes(RunLogPath);
  ASSERT_GT(log.size(), 20u);
  // GBK of the message, then the code as eight upper-case hexadecimal digits.
  EXPECT_EQ(std::string("\xB2\xFA\xC6\xB7\xCF\xB5\xCD\xB3\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2"
                        "\xCF\xC2\xD4\xD8\xCA\xA7\xB0\xDC\xA1\xA3(X005)(EH00000005)\r\n"),
            log.substr(20));
}

// The runtime installer's failure carries its exit code and the last error,
// which is also the log line's code; a later message replaces it whole.
TEST_F(RecordErrorTest, RuntimeFailureShowsTheLastErrorThatTheLogNames) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  RecordError(MESSAGE_RUNTIME_INSTALL_FAILED, 1603);
  EXPECT_STREQ(L"运行环境安装失败。(1603:2)", LastErrorText);
  SetLastError(0);
  RecordError(MESSAGE_RUNTIME_START_FAILED, 1603);
  EXPECT_STREQ(L"运行环境安装程序启动失败。(X004)", LastErrorText);
  CloseRunLog();
  std::string log = ReadFileBytes(RunLogPath);
  EXPECT_NE(std::string::npos, log.find("(1603:2)(EH00000002)\r\n"));
  EXPECT_NE(std::string::npos, log.find("(X004)(EH00000000)\r\n"));
}

}  // namespace
