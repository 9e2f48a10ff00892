// Whole installation runs of the real setup.exe against the loopback server,
// with installer doubles that record how they were started.
#include <gtest/gtest.h>

#include "loopback_server.h"

#include <string>
#include <vector>

#include "e2e_support.h"
#include "install_scenario.h"

namespace {

// The window's controls in creation order.
enum ControlIndex { BUTTON, STATUS, PERCENT };

const WCHAR PRODUCT_V2[] = L"brenvik-setupv2.exe";
const WCHAR PRODUCT_V4[] = L"brenvik-setupv4.exe";
const WCHAR RUNTIME_FILE[] = L"brenvik-setup-dotnetv2.exe";
const char PRODUCT_V2_PATH[] = "/package/brenvik/brenvik-setupv2.exe";
const char PRODUCT_V4_PATH[] = "/package/brenvik/brenvik-setupv4.exe";
const char MIRROR1_PATH[] = "/mirror1/NetFx20SP2_x86.exe";
const char MIRROR2_PATH[] = "/mirror2/NetFx20SP2_x86.exe";
const DWORD RECORD_TIMEOUT_MS = 20000;

std::string FakeInstallerBytes() {
  return ReadFileBytes(WindowsPathFromUnix(FAKE_INSTALLER_EXE));
}

std::wstring Wide(const char* text) {
  return std::wstring(text, text + strlen(text));
}

// The quoted form that a path with a space takes on a command line.
std::wstring Quoted(const std::wstring& path) {
  return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// The body dripped in pieces with pauses, so that the download lasts.
LoopbackScript DrippedFile(const std::string& body, int pieces, DWORD pauseMs) {
  LoopbackScript script;
  script.push_back(SendBytes("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"));
  size_t size = (body.size() + pieces - 1) / pieces;
  for (size_t at = 0; at < body.size(); at += size) {
    script.push_back(Pause(pauseMs));
    script.push_back(SendBytes(body.substr(at, size)));
  }
  script.push_back(CloseConnection());
  return script;
}

class InstallRun : public ::testing::Test {
 protected:
  E2eRun run = {};
  LoopbackServer server = {};
  bool serverStarted = false;

  void TearDown() override {
    if (serverStarted) StopLoopbackServer(&server);
    EndRun(&run);
    SetRuntimeFolderPresent(false);
    DeleteRunOnceValue();
  }

  // Serves `routes` for `connections` connections and prepares a setup.exe copy
  // whose configuration points at the server.
  void Prepare(const std::wstring& version, bool withSpaces, const std::vector<LoopbackRoute>& routes,
               int connections, const std::wstring& mirror1 = L"", const std::wstring& mirror2 = L"") {
    ASSERT_TRUE(StartLoopbackRoutes(&server, routes, connections));
    serverStarted = true;
    ASSERT_TRUE(PrepareRun(&run, L"install", SetupExePath(), version, withSpaces));
    ASSERT_TRUE(StampConfig(run.exePath, ScenarioConfig(server.port, mirror1, mirror2)));
  }

  // The runtime double gets this exit code once it is downloaded.
  void SetRuntimeExitCode(int code) {
    ASSERT_TRUE(WriteFileBytes(InFolder(RUNTIME_FILE) + L".exit", std::to_string(code)));
  }

  std::wstring InFolder(const std::wstring& name) const { return JoinPath(run.folder, name); }

  HWND Control(int index) {
    std::vector<ControlInfo> controls = ListControls(run.window);
    return index < static_cast<int>(controls.size()) ? controls[index].handle : NULL;
  }

  void StartAndPress() {
    ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L""));
    PostClick(Control(BUTTON));
  }

  DWORD WaitForExitCode() {
    DWORD code = 0xDEAD;
    EXPECT_TRUE(WaitForExit(run.program, E2E_EXIT_TIMEOUT_MS, &code));
    return code;
  }

  // The lines an installer double recorded: command line, working directory.
  std::vector<std::wstring> WaitForRecord(const std::wstring& installer) {
    std::vector<std::wstring> lines;
    WaitUntil([&] { return ReadRecord(installer).find(L'\n') != std::wstring::npos; }, RECORD_TIMEOUT_MS);
    std::wstring text = ReadRecord(installer);
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }

  // The error box's text after a failed run, checked against the window.
  std::wstring FailureBoxText() {
    HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
    if (box == NULL) return L"(no message box)";
    std::wstring text = MessageBoxText(box);
    EXPECT_EQ(L"安装失败。", ReadWindowText(Control(STATUS)));
    AnswerMessageBox(box, IDOK);
    EXPECT_TRUE(WaitForWindowGone(box, E2E_EXIT_TIMEOUT_MS));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(Control(BUTTON)) != FALSE; }, E2E_EXIT_TIMEOUT_MS))
        << "the start button is back";
    return text;
  }

  bool LogHasLine(const std::wstring& text) {
    for (const std::wstring& line : ReadRunLogTexts(RunLogOf(run)))
      if (line == text) return true;
    return false;
  }
};

TEST_F(InstallRun, Windows61FetchesV2AndStartsItThroughTheQuotedPath) {
  Prepare(L"win7", true, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1);
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  ASSERT_EQ(1u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[0], "GET /package/brenvik/brenvik-setupv2.exe HTTP/1.1\r\n"));

  std::wstring installer = InFolder(PRODUCT_V2);
  EXPECT_EQ(FakeInstallerBytes(), ReadFileBytes(installer));
  std::vector<std::wstring> record = WaitForRecord(installer);
  ASSERT_EQ(2u, record.size());
  EXPECT_EQ(L"\"" + installer + L"\"", record[0]) << "quoted, and no arguments";
  EXPECT_EQ(run.folder, record[1]) << "setup.exe's own working directory";
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V4)));
  EXPECT_EQ(L"", RunLogOf(run)) << "a successful run deletes its log";
}

TEST_F(InstallRun, Windows62FetchesV4AndStartsItWithoutQuotes) {
  Prepare(L"win8", false, {{PRODUCT_V4_PATH, FileResponse(FakeInstallerBytes())}}, 1);
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  ASSERT_EQ(1u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[0], "GET /package/brenvik/brenvik-setupv4.exe HTTP/1.1\r\n"));
  std::vector<std::wstring> record = WaitForRecord(InFolder(PRODUCT_V4));
  ASSERT_EQ(2u, record.size());
  EXPECT_EQ(InFolder(PRODUCT_V4), record[0]);
  EXPECT_EQ(L"", RunLogOf(run));
}

TEST_F(InstallRun, FailedProductDownloadShowsX005AndTheRunCanBeRepeated) {
  // No route: every request gets a 404.
  Prepare(L"win7", false, {}, 2);
  StartAndPress();
  EXPECT_EQ(L"产品系统安装程序下载失败。(X005)", FailureBoxText());

  PostClick(Control(BUTTON));
  EXPECT_EQ(L"产品系统安装程序下载失败。(X005)", FailureBoxText());
  EXPECT_TRUE(WaitLoopbackServer(&server, E2E_EXIT_TIMEOUT_MS));
  ASSERT_EQ(2u, server.requests.size()) << "the second press runs the whole download again";
  EXPECT_TRUE(StartsWith(server.requests[1], "GET /package/brenvik/brenvik-setupv2.exe "));

  PostKeyUp(run.window, VK_ESCAPE);
  EXPECT_EQ(0u, WaitForExitCode());
  const std::wstring logged = L"产品系统安装程序下载失败。(X005)(EH";
  int recorded = 0;
  for (const std::wstring& line : ReadRunLogTexts(RunLogOf(run)))
    if (line.compare(0, logged.size(), logged) == 0 && line.size() == logged.size() + 9) ++recorded;
  EXPECT_EQ(2, recorded) << "the log is kept and holds each failure";
}

TEST_F(InstallRun, ProductThatCannotBeStartedShowsX006) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse("this is text, not a program\r\n")}}, 1);
  StartAndPress();
  EXPECT_EQ(L"产品系统安装程序启动失败。请确认是以管理员身份启动的该安装程序。(X006)", FailureBoxText());
  EXPECT_TRUE(FileExists(InFolder(PRODUCT_V2))) << "the download stays";
}

TEST_F(InstallRun, ProductPathThatFitsOnlyUnquotedIsRefusedNotCut) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1);
  // A folder with a space whose product path is 257 code units: it fits as a
  // path, but not once quoted for the command line (the run log's name, a few
  // units longer, still fits).
  const std::wstring name = PRODUCT_V2;
  std::wstring deep = JoinPath(run.folder, L"a b");
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), NULL));
  std::wstring padding(257 - name.size() - 1 - deep.size() - 1, L'p');
  deep = JoinPath(deep, padding);
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), NULL));
  ASSERT_EQ(257u, JoinPath(deep, name).size());
  run.exePath = JoinPath(deep, L"s.exe");
  ASSERT_TRUE(CopyFileW(JoinPath(run.folder, run.exeName).c_str(), run.exePath.c_str(), FALSE));
  ASSERT_TRUE(SetUnmanagedWindowsFor(L"s.exe"));

  StartAndPress();
  EXPECT_EQ(L"产品系统安装程序启动失败。请确认是以管理员身份启动的该安装程序。(X006)", FailureBoxText());
  EXPECT_TRUE(FileExists(JoinPath(deep, name))) << "the download itself fitted";
  EXPECT_FALSE(FileExists(JoinPath(deep, name) + L".ran"));
  std::wstring log = FindRunLog(deep, L"s.exe", run.program.processId);
  ASSERT_NE(L"", log);
  bool refused = false;
  for (const std::wstring& line : ReadRunLogTexts(log))
    if (line == L"product installer command line too long") refused = true;
  EXPECT_TRUE(refused);
  PostKeyUp(run.window, VK_ESCAPE);
  EXPECT_EQ(0u, WaitForExitCode());
  ClearAppDefaultsFor(L"s.exe");
}

TEST_F(InstallRun, WindowsXpWithTheRuntimeGoesStraightToTheProduct) {
  SetRuntimeFolderPresent(true);
  Prepare(L"winxp", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1, Wide(MIRROR1_PATH),
          Wide(MIRROR2_PATH));
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  ASSERT_EQ(1u, server.requests.size()) << "no mirror is asked";
  EXPECT_TRUE(StartsWith(server.requests[0], "GET /package/brenvik/brenvik-setupv2.exe "));
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
  EXPECT_FALSE(FileExists(InFolder(RUNTIME_FILE) + L".ran"));
}

TEST_F(InstallRun, WindowsXpInstallsTheRuntimeFromTheSecondMirrorThenTheProduct) {
  // Mirror 1 has no route (404); mirror 2 serves the runtime double.
  Prepare(L"winxp", true,
          {{MIRROR2_PATH, FileResponse(FakeInstallerBytes())}, {PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}},
          3, Wide(MIRROR1_PATH), Wide(MIRROR2_PATH));
  SetRuntimeExitCode(0);
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  ASSERT_EQ(3u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[0], std::string("GET ") + MIRROR1_PATH + " "));
  EXPECT_TRUE(StartsWith(server.requests[1], std::string("GET ") + MIRROR2_PATH + " "));
  EXPECT_TRUE(StartsWith(server.requests[2], std::string("GET ") + PRODUCT_V2_PATH + " "));

  std::wstring runtime = InFolder(RUNTIME_FILE);
  std::vector<std::wstring> record = WaitForRecord(runtime);
  ASSERT_EQ(2u, record.size());
  EXPECT_EQ(Quoted(runtime) + L" /q /noretart", record[0]);
  EXPECT_FALSE(FileExists(runtime)) << "the runtime installer is deleted after exit code 0";
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
}

TEST_F(InstallRun, RuntimeRestartDeclinedClosesWithoutRunOnceAndKeepsTheLog) {
  Prepare(L"winxp", false, {{MIRROR1_PATH, FileResponse(FakeInstallerBytes())}}, 1, Wide(MIRROR1_PATH));
  SetRuntimeExitCode(3010);
  StartAndPress();
  HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
  ASSERT_NE(static_cast<HWND>(NULL), box);
  EXPECT_EQ(L"运行环境安装成功，但需要重启电脑才能继续后续安装。\n重启后请再次运行本安装程序。是否现在重启?",
            MessageBoxText(box));
  AnswerMessageBox(box, IDNO);
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_EQ(L"", ReadRunOnceValue());
  EXPECT_FALSE(FileExists(InFolder(RUNTIME_FILE)));
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2))) << "the product step does not run";
  EXPECT_EQ(1u, server.requests.size());
  ASSERT_NE(L"", RunLogOf(run)) << "the log is kept";
  EXPECT_TRUE(LogHasLine(L"done."));
  EXPECT_FALSE(LogHasLine(L"requesting restart"));
}

TEST_F(InstallRun, RuntimeRestartAcceptedRegistersTheQuotedPathAndRestarts) {
  Prepare(L"winxp", true, {{MIRROR1_PATH, FileResponse(FakeInstallerBytes())}}, 1, Wide(MIRROR1_PATH));
  SetRuntimeExitCode(3010);
  StartAndPress();
  HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
  ASSERT_NE(static_cast<HWND>(NULL), box);
  AnswerMessageBox(box, IDYES);
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_TRUE(LogHasLine(L"requesting restart"));
  EXPECT_FALSE(FileExists(InFolder(RUNTIME_FILE)));

  // The restart request ends the session and runs the RunOnce entry: setup.exe
  // comes back, started from the registered command line.
  DWORD restartedId = 0;
  HWND restarted = NULL;
  WaitUntil([&] {
    return (restarted = FindWindowOfAnotherProcess(SETUP_WINDOW_CLASS, run.program.processId, &restartedId)) != NULL;
  }, E2E_START_TIMEOUT_MS);
  ASSERT_NE(static_cast<HWND>(NULL), restarted) << "setup.exe started again from RunOnce";
  EXPECT_EQ(L"\"" + run.exePath + L"\"", ProcessCommandLine(restartedId));
  EXPECT_EQ(L"", ReadRunOnceValue()) << "the entry was consumed";

  StartedProgram again = {OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, restartedId),
                          restartedId};
  PostKeyUp(restarted, VK_ESCAPE);
  DWORD code = 0xDEAD;
  EXPECT_TRUE(WaitForExit(again, E2E_EXIT_TIMEOUT_MS, &code));
  EndProgram(&again);
}

TEST_F(InstallRun, RuntimeInstallerFailureShowsItsExitCode) {
  Prepare(L"winxp", false, {{MIRROR1_PATH, FileResponse(FakeInstallerBytes())}}, 1, Wide(MIRROR1_PATH));
  SetRuntimeExitCode(1603);
  StartAndPress();
  std::wstring text = FailureBoxText();
  // The second number is the thread's last error when the exit code was read,
  // the same one that the log line shows.
  const std::wstring logged = L"get exit code fail. exit: 1603, last: ";
  std::wstring lastError = L"(none logged)";
  for (const std::wstring& line : ReadRunLogTexts(RunLogOf(run)))
    if (line.compare(0, logged.size(), logged) == 0) lastError = line.substr(logged.size());
  EXPECT_EQ(L"运行环境安装失败。(1603:" + lastError + L")", text);
  EXPECT_TRUE(FileExists(InFolder(RUNTIME_FILE))) << "a failed installer stays";
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
}

TEST_F(InstallRun, NoMirrorConfiguredShowsX003) {
  Prepare(L"winxp", false, {}, 1);
  StartAndPress();
  EXPECT_EQ(L"运行环境安装程序下载失败。(X003)", FailureBoxText());
  EXPECT_EQ(0u, server.requests.size());
}

TEST_F(InstallRun, ClosingDuringTheDownloadAndAnsweringNoKeepsItGoing) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, DrippedFile(FakeInstallerBytes(), 20, 150)}}, 1);
  StartAndPress();
  ASSERT_TRUE(WaitForText(Control(STATUS), L"正在下载...", E2E_START_TIMEOUT_MS));
  std::wstring percentBefore = ReadWindowText(Control(PERCENT));
  PostBackgroundDoubleClick(run.window);
  HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
  ASSERT_NE(static_cast<HWND>(NULL), box);
  EXPECT_EQ(L"是否真的退出?", MessageBoxText(box));
  AnswerMessageBox(box, IDNO);
  EXPECT_TRUE(WaitForWindowGone(box, E2E_EXIT_TIMEOUT_MS));
  EXPECT_TRUE(IsWindow(run.window));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(run.window) || ReadWindowText(Control(PERCENT)) != percentBefore; },
                        E2E_EXIT_TIMEOUT_MS))
      << "the percentage moves on";
  // The download finishes and the run ends as a success.
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
}

TEST_F(InstallRun, ClosingDuringTheDownloadAndAnsweringYesExitsAndKeepsTheLog) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, DrippedFile(FakeInstallerBytes(), 20, 200)}}, 1);
  StartAndPress();
  ASSERT_TRUE(WaitForText(Control(STATUS), L"正在下载...", E2E_START_TIMEOUT_MS));
  PostBackgroundDoubleClick(run.window);
  HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
  ASSERT_NE(static_cast<HWND>(NULL), box);
  AnswerMessageBox(box, IDYES);
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran")) << "the product never started";
  ASSERT_NE(L"", RunLogOf(run)) << "the log is kept";
  EXPECT_TRUE(LogHasLine(L"start down"));
  EXPECT_FALSE(LogHasLine(L"end down"));
}

}  // namespace
