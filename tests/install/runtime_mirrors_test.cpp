// The runtime's mirror list, run in-process against the loopback server: which
// mirrors are asked, in which order, and what the step makes of them.
#include <gtest/gtest.h>
// winsock2.h (through the loopback server) must come before windows.h.
#include "loopback_server.h"

#include <string>
#include <vector>

#include "config/setup_config.h"
#include "http/url.h"
#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/payload_check.h"
#include "install/runtime_step.h"
#include "shell/user_texts.h"
#include "test_files.h"

namespace {

TEST(RuntimeMirrors, EachMirrorInTurnUntilOneDeliversOrTheListEnds) {
  struct Case {
    const char* what;
    std::wstring mirror1, mirror2;  // "/path" on the server, or the value as it is
    bool delivered;
    std::vector<std::string> asked;
  };
  const std::wstring tooLong = L"http://127.0.0.1/" + std::wstring(URL_BUFFER_SIZE, L'x');
  const Case cases[] = {
      {"the first delivers", L"/good.exe", L"/missing.exe", true, {"/good.exe"}},
      {"a failed first, a good second", L"/missing.exe", L"/good.exe", true, {"/missing.exe", "/good.exe"}},
      {"an address too long to fetch counts as a failed mirror", tooLong, L"/good.exe", true, {"/good.exe"}},
      {"an empty first ends the list", L"", L"/good.exe", false, {}},
      {"every mirror fails", L"/missing.exe", tooLong, false, {"/missing.exe"}},
  };
  std::wstring folder = TempFilePath(L"runtime-mirrors");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
  lstrcpynW(DownloadDir, folder.c_str(), MAX_PATH);
  for (const Case& each : cases) {
    LoopbackServer server = {};
    ASSERT_TRUE(StartLoopbackRoutes(&server, {{"/good.exe", FileResponse("runtime")}}, 2));
    std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.port);
    std::wstring config = L"net2.url1=" + (each.mirror1[0] == L'/' ? base : L"") + each.mirror1 + L"\n" +
                          L"net2.url2=" + (each.mirror2[0] == L'/' ? base : L"") + each.mirror2 + L"\n";
    ASSERT_EQ(CONFIG_PARSED, ParseConfigText(config.c_str(), static_cast<int>(config.size()), &SetupConfig));
    LastErrorText[0] = L'\0';
    WorkerUi.recordError = RecordError;
    WCHAR installer[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    EXPECT_EQ(each.delivered, DownloadRuntimeInstaller(installer, &held, ONE_CONNECTION)) << each.what;
    EXPECT_STREQ(each.delivered ? L"" : L"运行环境安装程序下载失败。(X003)", LastErrorText) << each.what;
    // A delivered runtime is held, pin or none, until its installer starts.
    EXPECT_EQ(each.delivered, held != INVALID_HANDLE_VALUE) << each.what;
    ReleasePinnedDownload(&held);
    StopLoopbackServer(&server);
    std::vector<std::string> asked;
    for (const std::string& request : server.requests) asked.push_back(request.substr(4, request.find(' ', 4) - 4));
    EXPECT_EQ(each.asked, asked) << each.what;
    DeleteFileW((folder + L"\\" + RUNTIME_FILE_NAME).c_str());
  }
  SetupConfig.count = 0;
  DownloadDir[0] = L'\0';
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
