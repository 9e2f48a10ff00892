// A setup.exe whose own path does not fit in 260 units: Wine cannot start a
// program from such a folder (CreateProcessW fails with ERROR_INVALID_NAME), so
// the steps are run here in-process with the folder the worker leaves them then.
#include <gtest/gtest.h>
// winsock2.h (through the loopback server) must come before windows.h.
#include "loopback_server.h"

#include <string>

#include "config/setup_config.h"
#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/install_worker.h"
#include "install/product_step.h"
#include "install/runtime_step.h"
#include "shell/user_texts.h"
#include "test_files.h"

namespace {

class CutModulePath : public ::testing::Test {
 protected:
  std::wstring folder;
  WCHAR previous[MAX_PATH] = {};
  LoopbackServer server = {};

  void SetUp() override {
    folder = TempFilePath(L"cut-module-path");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
    // setup.exe in a subfolder of `folder` whose name makes the path too long:
    // the first MAX_PATH units of it, unterminated, are what GetModuleFileNameW
    // leaves, and their parent is `folder`, which exists.
    std::wstring modulePath = folder + L"\\" + std::wstring(300, L's') + L"\\setup.exe";
    WCHAR cut[MAX_PATH];
    for (int i = 0; i < MAX_PATH; ++i) cut[i] = modulePath[i];
    InstallFolderFromModulePath(cut, MAX_PATH);
    lstrcpynW(InstallDir, cut, MAX_PATH);
    LastErrorText[0] = L'\0';
    WorkerUi.recordError = RecordError;
    // A bare file name would land in the current directory: `folder` as well.
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    // A server that would hand out a file to whoever asked.
    ASSERT_TRUE(StartLoopbackServer(&server, FileResponse("not a program")));
    std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.port);
    std::wstring config = L"app.url=" + base + L"/package/brenvik-setupvv.exe\nnet2.url1=" + base + L"/mirror1/runtime.exe\n";
    ASSERT_EQ(CONFIG_PARSED, ParseConfigText(config.c_str(), static_cast<int>(config.size()), &SetupConfig));
  }

  void TearDown() override {
    StopLoopbackServer(&server);
    EXPECT_TRUE(server.requests.empty()) << "something was downloaded";
    SetCurrentDirectoryW(previous);
    RemoveDirectoryW(folder.c_str());
    SetupConfig.count = 0;
    InstallDir[0] = L'\0';
  }

  bool FolderIsEmpty() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    bool empty = true;
    if (search == INVALID_HANDLE_VALUE) return true;
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") empty = false;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return empty;
  }
};

TEST_F(CutModulePath, ProductStepRefusesWithX005AndWritesNothing) {
  EXPECT_FALSE(ProductInstallerStep(ONE_CONNECTION));
  EXPECT_STREQ(L"产品系统安装程序下载失败。(X005)", LastErrorText);
  EXPECT_TRUE(FolderIsEmpty());
}

TEST_F(CutModulePath, RuntimeDownloadRefusesWithX003AndWritesNothing) {
  WCHAR installer[MAX_PATH];
  HANDLE held = NULL;
  EXPECT_FALSE(DownloadRuntimeInstaller(installer, &held, ONE_CONNECTION));
  EXPECT_EQ(INVALID_HANDLE_VALUE, held);
  EXPECT_STREQ(L"运行环境安装程序下载失败。(X003)", LastErrorText);
  EXPECT_STREQ(L"", installer);
  EXPECT_TRUE(FolderIsEmpty());
}

}  // namespace
