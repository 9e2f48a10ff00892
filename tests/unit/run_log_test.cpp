#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "log/run_log.h"
#include "test_files.h"

namespace {

std::vector<std::string> SplitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));  // unterminated tail: a defect the tests see
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "yyyy-MM-dd HH:mm:ss " with today's date.
void ExpectTimestamp(const std::string& line) {
  ASSERT_GE(line.size(), 20u) << line;
  const char* shape = "dddd-dd-dd dd:dd:dd ";
  for (int i = 0; i < 20; ++i) {
    if (shape[i] == 'd')
      EXPECT_TRUE(IsDigit(line[i])) << "position " << i << " of " << line;
    else
      EXPECT_EQ(shape[i], line[i]) << "position " << i << " of " << line;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  char date[16];
  snprintf(date, sizeof date, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
  EXPECT_EQ(std::string(date), line.substr(0, 10));
}

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetLogLocale());
    WCHAR dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    wsprintfW(RunLogPath, L"%sruntest-%lu.log", dir, GetCurrentProcessId());
    ASSERT_NE(nullptr, OpenRunLogFile());
  }
  void TearDown() override { DeleteRunLog(); }
  std::vector<std::string> Lines() { return SplitCrLf(ReadFileBytes(RunLogPath)); }
};

TEST(RunLogName, DateAndProcessIdReplaceTheExtension) {
  SYSTEMTIME date = {};
  date.wYear = 2017;
  date.wMonth = 5;
  date.wDay = 15;
  WCHAR path[MAX_PATH] = L"C:\\Setup\\setup.exe";
  ASSERT_TRUE(BuildRunLogPath(path, &date, 4242));
  EXPECT_STREQ(L"C:\\Setup\\setup-20170515-4242.log", path);

  // A dot left in the base name counts as an extension: no ".log" is added.
  WCHAR dotted[MAX_PATH] = L"C:\\Setup\\setup.v2.exe";
  ASSERT_TRUE(BuildRunLogPath(dotted, &date, 4242));
  EXPECT_STREQ(L"C:\\Setup\\setup.v2-20170515-4242", dotted);
}

TEST(RunLogName, PathThatCannotHoldTheSuffixIsRefused) {
  SYSTEMTIME date = {};
  date.wYear = 2017;
  date.wMonth = 5;
  date.wDay = 15;
  WCHAR path[MAX_PATH];
  std::wstring longPath = L"C:\\" + std::wstring(MAX_PATH - 14, L'a') + L".exe";
  lstrcpynW(path, longPath.c_str(), MAX_PATH);
  EXPECT_FALSE(BuildRunLogPath(path, &date, 4242));
}

TEST_F(RunLogTest, LineIsTimestampGbkTextAndOneCrLf) {
  LogLine(L"你好，日志");
  CloseRunLog();
  std::string bytes = ReadFileBytes(RunLogPath);
  ASSERT_EQ(20u + 10u + 2u, bytes.size()) << bytes;
  ExpectTimestamp(bytes);
  EXPECT_EQ(std::string("\xC4\xE3\xBA\xC3\xA3\xAC\xC8\xD5\xD6\xBE", 10), bytes.substr(20, 10));
  EXPECT_EQ("\r\n", bytes.substr(30));
}

TEST_F(RunLogTest, FormatTakesWideForLowerSAndNarrowForUpperS) {
  LogFormat(L"hello %s.", L"快乐");
  LogFormat(L"url: %S|%d|(EH%08X)", "http://h/p", -5, 0xABCu);
  // An 8-bit format means the same; one past the widened buffer is cut, the line still ends.
  LogFormat("hello %s, %S %I64d", L"快乐", "h", -1LL);
  LogLine(std::string(LOG_FORMAT_SIZE, 'x').c_str());
  CloseRunLog();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("hello \xBF\xEC\xC0\xD6.", lines[0].substr(20));
  EXPECT_EQ("url: http://h/p|-5|(EH00000ABC)", lines[1].substr(20));
  EXPECT_EQ("hello \xBF\xEC\xC0\xD6, h -1", lines[2].substr(20));
  EXPECT_EQ(std::string(LOG_FORMAT_SIZE - 1, 'x'), lines[3].substr(20));
}

TEST_F(RunLogTest, TextIsCutAtACharacterOutsideTheCodePageButTheLineEnds) {
  LogLine(L"ab\u0E01cd");
  LogLine(L"next");
  CloseRunLog();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("ab", lines[0].substr(20));
  EXPECT_EQ("next", lines[1].substr(20));
}

TEST_F(RunLogTest, WritersWithoutAnOpenLogDoNothing) {
  LogLine(L"kept");
  CloseRunLog();
  CloseRunLog();  // a second close is harmless
  LogLine(L"after close");
  LogFormat(L"after close %d", 1);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("kept", lines[0].substr(20));
}

struct WriterArgs {
  int id;
  int lines;
};

DWORD WINAPI WriteLines(LPVOID parameter) {
  WriterArgs* args = static_cast<WriterArgs*>(parameter);
  std::wstring filler(200, static_cast<WCHAR>(L'a' + args->id));
  for (int i = 0; i < args->lines; ++i) {
    if (i % 2)
      LogFormat(L"writer %d line %d %s", args->id, i, filler.c_str());
    else
      LogLine((L"writer " + std::to_wstring(args->id) + L" line " + std::to_wstring(i) + L" " + filler).c_str());
  }
  return 0;
}

TEST_F(RunLogTest, LinesFromSeveralThreadsStayWhole) {
  const int kThreads = 4, kLines = 300;
  WriterArgs args[kThreads];
  HANDLE threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    args[t] = {t, kLines};
    threads[t] = CreateThread(NULL, 0, WriteLines, &args[t], 0, NULL);
    ASSERT_NE(nullptr, threads[t]);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
  CloseRunLog();

  std::vector<std::string> lines = Lines();
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    ExpectTimestamp(line);
    int id = -1, number = -1;
    char filler[256] = {};
    ASSERT_EQ(3, sscanf(line.c_str() + 20, "writer %d line %d %255s", &id, &number, filler)) << line;
    ASSERT_TRUE(id >= 0 && id < kThreads) << line;
    EXPECT_EQ(next[id], number) << "lines of one writer out of order or lost";
    next[id] = number + 1;
    EXPECT_EQ(std::string(200, static_cast<char>('a' + id)), filler) << line;
  }
}

}  // namespace
