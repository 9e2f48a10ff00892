#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"
#include "platform/function_table.h"
#include "test_files.h"

namespace {

// kernel32's own functions, typed as its header declares them.
struct KernelFunctions {
  decltype(&GetTickCount) tickCount;
  decltype(&GetCurrentProcessId) processId;
};

TEST(FunctionTable, FillsFromTheFirstLibraryThatLoadsOnceAndNamesWhatIsMissing) {
  KernelFunctions functions = {NULL, NULL};
  const FunctionSlot slots[] = {Slot(&functions.tickCount, "GetTickCount"),
                                Slot(&functions.processId, "GetCurrentProcessId")};
  const WCHAR* fallback[] = {L"no-such-library.dll", L"kernel32.dll", NULL};
  FunctionTable table = {fallback, slots, 2, 0};
  FunctionTableFailure failure = {NULL, NULL, 0};
  ASSERT_TRUE(FillFunctionTable(&table, &failure)) << "the second library of the list";
  EXPECT_EQ(GetCurrentProcessId(), functions.processId());
  EXPECT_NE(nullptr, functions.tickCount);

  // Filled once: a later call looks nothing up, whatever the list says now.
  const WCHAR* missing[] = {L"no-such-library.dll", NULL};
  table.libraries = missing;
  functions.tickCount = NULL;
  EXPECT_TRUE(FillFunctionTable(&table, &failure));
  EXPECT_EQ(nullptr, functions.tickCount);

  // No library loads: the last one tried and the loader's error.
  FunctionTable absent = {missing, slots, 2, 0};
  EXPECT_FALSE(FillFunctionTable(&absent, &failure));
  EXPECT_STREQ(L"no-such-library.dll", failure.library);
  EXPECT_EQ(nullptr, failure.missing);
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), failure.error);
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

  // The library lacks the last function: named, and the table is not ready.
  const FunctionSlot lacking[] = {Slot(&functions.tickCount, "GetTickCount"),
                                  Slot(&functions.processId, "NoSuchFunctionAnywhere")};
  const WCHAR* kernel[] = {L"kernel32.dll", NULL};
  FunctionTable shortOfOne = {kernel, lacking, 2, 0};
  EXPECT_FALSE(FillFunctionTable(&shortOfOne, &failure));
  EXPECT_STREQ(L"kernel32.dll", failure.library);
  EXPECT_STREQ("NoSuchFunctionAnywhere", failure.missing);
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), failure.error);
  EXPECT_EQ(0, shortOfOne.ready);
}

// The run log's lines for what the platform hands back.
class PlatformLogLines : public ::testing::Test {
 protected:
  std::wstring name = TempFilePath(L"platform-log-file.bin");
  void SetUp() override {
    ASSERT_TRUE(SetLogLocale());
    wsprintfW(RunLogPath, L"%s", TempFilePath(L"platform-log-test.log").c_str());
    ASSERT_NE(nullptr, OpenRunLogFile());
    DeleteFileW(name.c_str());
  }
  void TearDown() override {
    DeleteRunLog();
    DeleteFileW(name.c_str());
  }
};

TEST_F(PlatformLogLines, FileAndLibraryFailuresAreOneLineEach) {
  FileFailure failure = {NULL, NULL, 0};
  // Not made by this process: refused with a reason, the name left alone.
  ASSERT_TRUE(WriteFileBytes(name, "someone else's"));
  EXPECT_FALSE(DeleteOwnFile(name.c_str(), &failure));
  EXPECT_STREQ("file not deleted", failure.what);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), failure.code);
  LogFileFailure(failure, name.c_str());
  EXPECT_EQ("someone else's", ReadFileBytes(name));
  // Held without delete sharing: the name cannot be replaced; the code says why.
  HANDLE holder = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &failure));
  CloseHandle(holder);
  EXPECT_STREQ("new file not put in place", failure.what);
  EXPECT_EQ(nullptr, failure.reason);
  EXPECT_NE(0u, failure.code);
  EXPECT_EQ(failure.code, GetLastError());
  LogFileFailure(failure, name.c_str());
  LogFunctionTableFailure(FunctionTableFailure{L"wintrust.dll", NULL, 126});
  LogFunctionTableFailure(FunctionTableFailure{L"winhttp.dll", "WinHttpOpen", ERROR_PROC_NOT_FOUND});

  std::string path(name.begin(), name.end());
  std::vector<std::string> lines = RunLogTexts(RunLogPath);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("file not deleted, this process did not make it: " + path, lines[0]);
  EXPECT_EQ("new file not put in place. " + std::to_string(failure.code) + ": " + path, lines[1]);
  EXPECT_EQ("wintrust.dll not loaded 126", lines[2]);
  EXPECT_EQ("winhttp.dll lacks WinHttpOpen", lines[3]);
}

}  // namespace
