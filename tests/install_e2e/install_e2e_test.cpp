// Whole installation runs of the real setup.exe against the loopback server,
// with installer doubles that record how they were started.
#include <gtest/gtest.h>

#include "loopback_server.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/body_rules.h"
#include "e2e_support.h"
#include "install/file_digest.h"
#include "install/payload_pin.h"
#include "install_scenario.h"
#include "tls_test_servers.h"

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
const DWORD RECORD_TIMEOUT_MS = ScaledWaitMs(20000);

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

bool StartsWith(const std::wstring& text, const std::wstring& start) {
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

  // Downloads go beside setup.exe (its folder cannot be made), not into the protected folder.
  bool besideSetup = false;

  void SetUp() override {
    ASSERT_TRUE(SetWindowsTempPresent(true));
    RemoveDownloadFolders();
  }

  void TearDown() override {
    if (serverStarted) StopLoopbackServer(&server);
    if (!run.exeName.empty()) ClearLibraryPreferencesFor(run.exeName);
    EndRun(&run);
    SetRuntimeFolderPresent(false);
    DeleteRunOnceValue();
    ClearInstallerExitCode();
    EXPECT_TRUE(SetWindowsTempPresent(true));
    RemoveDownloadFolders();
    besideSetup = false;
  }

  // Serves `routes` for `connections` connections and prepares a setup.exe copy
  // whose configuration points at the server.
  void Prepare(const std::wstring& version, bool withSpaces, const std::vector<LoopbackRoute>& routes,
               int connections, const std::wstring& mirror1 = L"", const std::wstring& mirror2 = L"",
               const std::wstring& extraConfig = L"") {
    ASSERT_TRUE(StartLoopbackRoutes(&server, routes, connections));
    serverStarted = true;
    ASSERT_TRUE(PrepareRun(&run, L"install", sourceExe, version, withSpaces));
    ASSERT_TRUE(StampConfig(run.exePath, ScenarioConfig(server.port, mirror1, mirror2, extraConfig)));
  }

  // Ends this run and its server, for a test that makes several runs.
  void Reset() {
    TearDown();
    run = E2eRun();
    server = LoopbackServer();
    serverStarted = false;
  }

  std::wstring sourceExe = SetupExePath();

  // Every try of the product breaks (a test build with short pauses: five real
  // tries take about 15 s): the run fails with "(X005)" and keeps what it has.
  // Then either the button continues that file, or setup.exe is closed.
  // Closed after the failure, the file is recorded for the next run (deleted `beside` setup.exe).
  void RunThatKeepsItsPartialFile(bool leaveAfterTheFailure, bool beside = false);

  // Prepares a setup.exe copy whose addresses are on the trusted local TLS
  // server (tests/harness/tls_servers.py runs this program); `routes` are the
  // answers it gives. No loopback server: nothing plain is served.
  void PrepareHttps(const std::wstring& version, const std::vector<std::pair<std::string, std::string>>& routes,
                    const std::wstring& mirror1 = L"", const std::wstring& mirror2 = L"",
                    const std::wstring& extraConfig = L"") {
    ASSERT_TRUE(TlsServersRunning()) << "run through tests/harness/tls_servers.py (ctest does)";
    ASSERT_TRUE(ImportTestCa());
    for (const std::pair<std::string, std::string>& route : routes)
      ASSERT_TRUE(ServeTlsRoute(route.first, route.second));
    ASSERT_TRUE(PrepareRun(&run, L"https", sourceExe, version, false));
    std::string base = TlsUrl(TLS_TRUSTED, "");
    ASSERT_TRUE(StampConfig(run.exePath, ScenarioConfigAt(std::wstring(base.begin(), base.end()), mirror1, mirror2,
                                                          extraConfig)));
  }

  // The runtime double gets this exit code once it is downloaded.
  void SetRuntimeExitCode(int code) { SetInstallerExitCode(code); }

  // Where the run's downloads are: the protected folder, or beside setup.exe.
  std::wstring InFolder(const std::wstring& name) const {
    return JoinPath(besideSetup ? run.folder : ProtectedDownloadFolder(), name);
  }
  std::wstring BesideSetup(const std::wstring& name) const { return JoinPath(run.folder, name); }

  // The next run cannot make its download folder (the Windows temporary folder
  // is gone): it downloads beside setup.exe, as on a system where it lacks the rights.
  void DownloadBesideSetup() {
    ASSERT_TRUE(SetWindowsTempPresent(false));
    besideSetup = true;
  }

  HWND Control(int index) {
    std::vector<ControlInfo> controls = ListControls(run.window);
    return index < static_cast<int>(controls.size()) ? controls[index].handle : NULL;
  }

  void StartAndPress() {
    ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
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

  // Stamps a configuration whose product addresses are `addresses` in order
  // ("app.url", "app.url2", ...), each a path on the loopback server or a whole
  // address, followed by `extra`.
  void StampProductMirrors(const std::vector<std::wstring>& addresses, const std::wstring& extra) {
    std::wstring text = ScenarioConfig(server.port, L"", L"");
    text.erase(text.find(L"app.url="));
    for (size_t i = 0; i < addresses.size(); ++i)
      text += L"app.url" + (i == 0 ? std::wstring() : std::to_wstring(i + 1)) + L"=" +
              (StartsWith(addresses[i], L"http") ? L"" : L"http://127.0.0.1:" + std::to_wstring(server.port)) +
              addresses[i] + L"\n";
    ASSERT_TRUE(StampConfig(run.exePath, text + extra));
  }

  // Opens the run log: a successful run deletes it, but what it wrote stays
  // readable through this handle until it is closed.
  HANDLE HoldRunLog() {
    std::wstring log = RunLogOf(run);
    return log.empty() ? INVALID_HANDLE_VALUE
                       : CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     NULL, OPEN_EXISTING, 0, NULL);
  }

  // The texts of the lines of a log held open, from its start; closes the handle.
  static std::vector<std::wstring> ReadHeldLog(HANDLE log) {
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    SetFilePointer(log, 0, NULL, FILE_BEGIN);
    while (bytes.size() < 1000000 && ReadFile(log, buffer, sizeof buffer, &read, NULL) && read > 0)
      bytes.append(buffer, read);
    CloseHandle(log);
    return RunLogTextsOf(bytes);
  }

  // Starts the run's setup.exe again and presses the button: its log's lines
  // once it has ended (held, since a successful run deletes it).
  std::vector<std::wstring> RunAgain() {
    std::vector<std::wstring> lines;
    EXPECT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
    HANDLE log = HoldRunLog();
    PostClick(Control(BUTTON));
    EXPECT_EQ(0u, WaitForExitCode());
    if (log != INVALID_HANDLE_VALUE) lines = ReadHeldLog(log);
    return lines;
  }

  // The run log's lines that start with `start`, in order.
  std::vector<std::wstring> LogLinesStartingWith(const std::wstring& start) {
    std::vector<std::wstring> found;
    for (const std::wstring& line : ReadRunLogTexts(RunLogOf(run)))
      if (line.compare(0, start.size(), start) == 0) found.push_back(line);
    return found;
  }
};

// The SHA-256 of `bytes` as 64 lower-case digits, through a file.
std::wstring DigestOf(const std::string& bytes) {
  std::wstring path = TempFilePath(L"install-e2e-digest.bin");
  if (!WriteFileBytes(path, bytes)) return L"(not written)";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  unsigned char digest[SHA256_SIZE];
  DigestResult result = file == INVALID_HANDLE_VALUE ? DIGEST_FAILED : DigestFile(file, digest);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  DeleteFileW(path.c_str());
  if (result != DIGEST_OK) return L"(no digest)";
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(digest, text);
  return text;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}

const std::wstring OTHER_DIGEST = L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const WCHAR X003[] = L"运行环境安装程序下载失败。(X003)";
const WCHAR X005[] = L"产品系统安装程序下载失败。(X005)";


// setup.exe in a folder with blanks, which it leaves alone but for its log: the
// product is written, checked and started in the protected folder, which
// setup.exe makes with its protected DACL, and that is also the started
// installer's working directory.
TEST_F(InstallRun, Windows61FetchesV2IntoTheProtectedFolderAndStartsItThere) {
  Prepare(L"win7", true, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1);
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  ASSERT_EQ(1u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[0], "GET /package/brenvik/brenvik-setupv2.exe HTTP/1.1\r\n"));

  const std::wstring folder = ProtectedDownloadFolder();
  EXPECT_EQ(ProtectedFolderDaclAsShown(), FileDaclText(folder)) << "made with the folder's protected DACL";
  std::wstring installer = InFolder(PRODUCT_V2);
  EXPECT_EQ(FakeInstallerBytes(), ReadFileBytes(installer));
  EXPECT_EQ(ProtectedDaclAsShown(), FileDaclText(installer)) << "made with the installers' protected DACL";
  // Recorded at "<its own path>.ran": the installer ran from the protected folder.
  std::vector<std::wstring> record = WaitForRecord(installer);
  ASSERT_EQ(2u, record.size());
  EXPECT_EQ(installer, record[0]) << "its path, and no arguments";
  EXPECT_EQ(folder, record[1]) << "the protected folder as its working directory";
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V4)));
  EXPECT_FALSE(FileExists(BesideSetup(PRODUCT_V2))) << "nothing downloaded beside setup.exe";
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
  // Held while setup.exe runs: nobody renames the folder away to put a link in its place.
  const std::wstring folder = ProtectedDownloadFolder();
  EXPECT_FALSE(MoveFileW(folder.c_str(), (folder + L".moved").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

// Beside setup.exe, where downloads go when the protected folder cannot be made.
TEST_F(InstallRun, ProductPathThatFitsOnlyUnquotedIsRefusedNotCut) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1);
  const std::wstring unmade = ProtectedDownloadFolder();
  DownloadBesideSetup();
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
  std::vector<std::wstring> lines = ReadRunLogTexts(log);
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"product installer command line too long"));
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                   L"download folder " + unmade + L" not made, downloads go beside setup.exe. 3"))
      << "ERROR_PATH_NOT_FOUND";
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

// Downloads announced at 1 PiB, far beyond any disk, fail before their body
// as a failed download does, each at once with one request and no file: the
// first runtime mirror's (the next mirror serves it), then the product's
// ("(X005)"). The run log gives both numbers.
TEST_F(InstallRun, DownloadsThatCannotFitTheDiskFailBeforeTheirBody) {
  const std::string petabyte = std::to_string(1LL << 50);
  const LoopbackScript huge = {
      SendBytes("HTTP/1.1 200 OK\r\nContent-Length: " + petabyte + "\r\nETag: \"huge\"\r\n\r\n" + FakeInstallerBytes()),
      AwaitClientClose(ScaledWaitMs(30000))};
  Prepare(L"winxp", false,
          {{MIRROR1_PATH, huge}, {MIRROR2_PATH, FileResponse(FakeInstallerBytes())}, {PRODUCT_V2_PATH, huge}}, 3,
          Wide(MIRROR1_PATH), Wide(MIRROR2_PATH));
  SetRuntimeExitCode(0);
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_TRUE(WaitLoopbackServer(&server, E2E_EXIT_TIMEOUT_MS));
  ASSERT_EQ(3u, server.requests.size()) << "no download is tried twice";
  EXPECT_TRUE(StartsWith(server.requests[2], std::string("GET ") + PRODUCT_V2_PATH + " "));
  EXPECT_EQ(2u, WaitForRecord(InFolder(RUNTIME_FILE)).size()) << "the runtime from the second mirror ran";
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
  EXPECT_EQ(2u, LogLinesStartingWith(L"disk full: " + std::wstring(petabyte.begin(), petabyte.end()) +
                                     L" bytes to come, ")
                    .size());
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

  StartedProgram again = ProgramOfProcess(restartedId);
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
  // The download stopped at exit; without a validator nothing of it can be continued, so nothing stays.
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".partial"));
}

// ---- Broken downloads ------------------------------------------------------------

const std::string ETAG = "ETag: \"build-1\"\r\n";

// The product's connection breaks at 60 %: the status line says that the
// download continues while the bar keeps its place, the rest comes with a
// range request, and the installer that starts is the whole file, served
// not much more than once.
TEST_F(InstallRun, ProductWhoseConnectionBreaksIsContinuedAndStarted) {
  const std::string product = FakeInstallerBytes();
  const long broken = static_cast<long>(product.size() * 6 / 10);
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, {}, ServeTries({Serve(product, ETAG, broken), Serve(product, ETAG)})}}, 2);
  StartAndPress();
  EXPECT_TRUE(WaitForText(Control(STATUS), L"连接中断，正在继续下载...", E2E_START_TIMEOUT_MS));
  EXPECT_EQ(std::to_wstring(PercentReceived(broken, static_cast<int>(product.size()))) + L"%",
            ReadWindowText(Control(PERCENT)))
      << "the bar keeps its place";
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_EQ(product, ReadFileBytes(InFolder(PRODUCT_V2)));
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
  ASSERT_EQ(2u, server.requests.size());
  EXPECT_NE(std::string::npos, server.requests[1].find("\r\nRange: bytes=" + std::to_string(broken) + "-\r\n"));
  EXPECT_LT(server.bytesSent, product.size() + 1000) << "the kept bytes were not sent again";
}

// A product of 8 MiB and more from a server that answers ranges comes over
// the four connections that app.connections asks for: each one's range in the
// log, the file exact under its pin, the product started. Without the key the
// same file comes over one connection, in one request without a range.
TEST_F(InstallRun, LargeProductComesOverFourConnectionsAndStarts) {
  std::string product = FakeInstallerBytes();
  const size_t size = 8 * 1024 * 1024 + 4099;
  product += PatternAt(0, size - product.size());  // behind the image: the installer still starts
  for (const std::wstring& key : {std::wstring(L""), std::wstring(L"app.connections=4\n")}) {
    if (!key.empty()) Reset();
    server.concurrent = true;
    Prepare(L"win7", false, {{PRODUCT_V2_PATH, {}, ServeTries({Serve(product, ETAG + "Accept-Ranges: bytes\r\n")})}},
            32, L"", L"", L"app.sha256.v2=" + DigestOf(product) + L"\n" + key);
    ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
    HANDLE log = HoldRunLog();
    ASSERT_NE(INVALID_HANDLE_VALUE, log);
    PostClick(Control(BUTTON));
    EXPECT_EQ(0u, WaitForExitCode());
    std::vector<std::wstring> lines = ReadHeldLog(log);
    EXPECT_EQ(product, ReadFileBytes(InFolder(PRODUCT_V2)));
    EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
    if (key.empty()) {
      ASSERT_EQ(1u, server.requests.size()) << "one connection, one request";
      EXPECT_EQ(std::string::npos, server.requests[0].find("\r\nRange:"));
      for (const std::wstring& line : lines) EXPECT_FALSE(StartsWith(line, L"parallel ranges")) << line;
      continue;
    }
    const size_t share = size / 4;
    std::vector<std::wstring> expected = {
        L"parallel ranges: 4 connections for " + std::to_wstring(size) + L" bytes",
        L"connection 0 opened for bytes 0-" + std::to_wstring(size - 1),
        L"connection 1 opened for bytes " + std::to_wstring(share) + L"-",
        L"connection 3 opened for bytes " + std::to_wstring(3 * share) + L"-"};
    size_t closed = 0;
    for (const std::wstring& line : lines) {
      for (std::wstring& text : expected)
        if (StartsWith(line, text)) text = L"found";
      closed += StartsWith(line, L"connection ") && line.find(L" closed at byte ") != std::wstring::npos ? 1 : 0;
    }
    for (const std::wstring& text : expected) EXPECT_EQ(L"found", text);
    EXPECT_GE(closed, 4u);
    size_t ranged = 0;
    for (const std::string& request : server.requests) ranged += request.find("\r\nRange: bytes=") != std::string::npos;
    EXPECT_GE(ranged, 3u);
    EXPECT_LT(server.bytesSent, 2 * size) << "each byte is sent about once";
  }
}

// The file changes between the tries (another build, another tag): the whole
// new file is taken, never the old one's beginning with the new one's end.
TEST_F(InstallRun, ProductThatChangesBetweenTriesIsNeverSpliced) {
  const std::string product = FakeInstallerBytes();
  std::string older = product;
  for (size_t i = 0; i < older.size(); i += 97) older[i] = static_cast<char>(older[i] ^ 0x5A);
  Prepare(L"win7", false,
          {{PRODUCT_V2_PATH, {}, ServeTries({Serve(older, ETAG, static_cast<long>(older.size() / 2)),
                                              Serve(product, "ETag: \"build-2\"\r\n")})}},
          2, L"", L"", L"app.sha256.v2=" + DigestOf(product) + L"\n");
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_EQ(product, ReadFileBytes(InFolder(PRODUCT_V2)));
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
}

void InstallRun::RunThatKeepsItsPartialFile(bool leaveAfterTheFailure, bool beside) {
  const std::string product = FakeInstallerBytes();
  if (beside) DownloadBesideSetup();
  const long broken = static_cast<long>(product.size() * 4 / 10);
  sourceExe = WindowsPathFromUnix(SETUP_SHORT_RETRY_PAUSES_EXE);
  const ServedTry cut = Answer("HTTP/1.1 200 OK\r\n", LOOPBACK_RESET);
  Prepare(L"win7", false,
          {{PRODUCT_V2_PATH, {}, ServeTries({Serve(product, ETAG, broken), cut, cut, cut, cut, Serve(product, ETAG)})}}, 6);
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_EQ(product.substr(0, broken), ReadFileBytes(InFolder(PRODUCT_V2)));
  EXPECT_TRUE(LogHasLine(L"partial download kept at byte " + std::to_wstring(broken) + L" of " +
                         std::to_wstring(product.size()) + L" for a later start"));
  EXPECT_EQ(4u, LogLinesStartingWith(L"try ").size());
  if (leaveAfterTheFailure) {
    PostKeyUp(run.window, VK_ESCAPE);
    // Fatal: what the exit leaves is judged only once setup.exe has ended.
    ASSERT_EQ(0u, WaitForExitCode());
    EXPECT_EQ(beside ? "" : product.substr(0, broken), ReadFileBytes(InFolder(PRODUCT_V2)));
    EXPECT_EQ(!beside, FileExists(InFolder(PRODUCT_V2) + L".partial"));
    EXPECT_EQ(!beside, LogHasLine(L"partial download recorded for the next run: " + InFolder(PRODUCT_V2)));
    EXPECT_EQ(beside, LogHasLine(L"partial download deleted at exit: " + InFolder(PRODUCT_V2)));
    return;
  }

  PostClick(Control(BUTTON));
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_EQ(product, ReadFileBytes(InFolder(PRODUCT_V2)));
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
  ASSERT_EQ(6u, server.requests.size());
  EXPECT_NE(std::string::npos, server.requests[5].find("\r\nRange: bytes=" + std::to_string(broken) + "-\r\n"));
  EXPECT_LT(server.bytesSent, product.size() + 1000);
}

TEST_F(InstallRun, FailedRunKeepsItsPartialFileAndTheButtonContinuesIt) { RunThatKeepsItsPartialFile(false); }

TEST_F(InstallRun, PartialFileKeptByAFailedRunIsRecordedWhenSetupEnds) { RunThatKeepsItsPartialFile(true); }

TEST_F(InstallRun, PartialFileKeptBesideSetupGoesWhenSetupEnds) { RunThatKeepsItsPartialFile(true, true); }

// ---- A second run ----------------------------------------------------------------

// Closed with Escape at 40 % of 12 MiB over four connections (a tenth each,
// then silence): the file keeps the bytes whose place is known, never the
// whole length with gaps, beside its record. Run again (a build that trusts
// Wine's one user), setup.exe asks only for the rest; the installer is whole.
TEST_F(InstallRun, RunClosedDuringADownloadInRangesIsContinuedByTheNextRun) {
  std::string product = FakeInstallerBytes();
  const size_t size = 12 * 1024 * 1024;
  product += PatternAt(0, size - product.size());
  const size_t tenth = size / 10 + 1;  // four of them are 40 %
  const std::string validators = ETAG + "Accept-Ranges: bytes\r\n";
  ServedTry stalled = Serve(product, validators, -1, LOOPBACK_AWAIT_CLOSE);
  stalled.breakAfter = tenth;
  std::shared_ptr<std::atomic<bool>> second = std::make_shared<std::atomic<bool>>(false);
  LoopbackResponder first = ServeTries({stalled});
  LoopbackResponder whole = ServeTries({Serve(product, validators)});
  server.concurrent = true;
  sourceExe = WindowsPathFromUnix(SETUP_SECOND_RUNS_EXE);
  Prepare(L"win7", false,
          {{PRODUCT_V2_PATH, {}, [=](const std::string& request, int connection) {
              return *second ? whole(request, connection) : first(request, connection);
            }}},
          32, L"", L"", L"app.connections=4\n");
  StartAndPress();
  // Each connection stalls after its tenth: four reach 40 %. On a loaded
  // machine an extra connection may be given up first, and fewer reach less.
  if (!WaitForText(Control(PERCENT), L"40%", E2E_START_TIMEOUT_MS)) {
    wchar_t percent[16] = L"";
    GetWindowTextW(Control(PERCENT), percent, 16);
    ASSERT_GE(_wtoi(percent), 10) << "not even the first connection's tenth";
  }
  PostKeyUp(run.window, VK_ESCAPE);
  // Fatal: until setup.exe has ended its record may be still to come, and the
  // log, read after the file, may hold the line by then.
  ASSERT_EQ(0u, WaitForExitCode());
  const std::wstring installer = InFolder(PRODUCT_V2);
  // A connection slowed past its head's time limit gives its range back, and
  // another may then extend the prefix: its length varies, its bytes do not.
  const std::string kept = ReadFileBytes(installer);
  const size_t prefix = kept.size();
  EXPECT_TRUE(prefix >= tenth && prefix < size && kept == product.substr(0, prefix))
      << "the complete prefix, nothing behind it: " << prefix << " bytes";
  EXPECT_TRUE(FileExists(installer + L".partial"));
  EXPECT_TRUE(LogHasLine(L"partial download recorded for the next run: " + installer));
  std::unique_lock<std::mutex> held(*server.guard);
  const size_t asked = server.requests.size(), sent = server.bytesSent;
  held.unlock();
  *second = true;

  std::vector<std::wstring> lines = RunAgain();
  EXPECT_TRUE(product == ReadFileBytes(installer)) << "the whole file";
  EXPECT_EQ(2u, WaitForRecord(installer).size());
  EXPECT_FALSE(FileExists(installer + L".partial")) << "a record is read once";
  for (const std::wstring& text : {L"partial download of an earlier run taken up: " + installer,
                                   L"continuing the partial download at byte " + std::to_wstring(prefix) + L" of " +
                                       std::to_wstring(size)})
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), text)) << text;
  std::lock_guard<std::mutex> lock(*server.guard);
  ASSERT_GT(server.requests.size(), asked);
  EXPECT_NE(std::string::npos, server.requests[asked].find("\r\nRange: bytes=" + std::to_string(prefix) + "-\r\n"));
  EXPECT_NE(std::string::npos, server.requests[asked].find("\r\nIf-Range: \"build-1\"\r\n"));
  for (size_t i = asked; i < server.requests.size(); ++i) {
    size_t range = server.requests[i].find("\r\nRange: bytes=");
    ASSERT_NE(std::string::npos, range) << "nothing asked from byte 0: " << server.requests[i];
    EXPECT_GE(std::stoull(server.requests[i].substr(range + 15)), prefix);
  }
  EXPECT_LT(server.bytesSent - sent, size - prefix + 64 * 1024) << "only the rest was sent";
}

// A product that its pin accepted is started by the next run unfetched, with
// one log line; beside setup.exe, where anyone may have put it, it is fetched again.
TEST_F(InstallRun, PinnedProductOfAnEarlierRunIsStartedWithoutBeingFetchedAgain) {
  const std::string product = FakeInstallerBytes();
  for (bool beside : {false, true}) {
    if (beside) {
      Reset();
      DownloadBesideSetup();
    }
    sourceExe = WindowsPathFromUnix(SETUP_SECOND_RUNS_EXE);
    Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(product)}}, 2, L"", L"",
            L"app.sha256.v2=" + DigestOf(product) + L"\n");
    StartAndPress();
    EXPECT_EQ(0u, WaitForExitCode());
    const std::wstring installer = InFolder(PRODUCT_V2);
    EXPECT_EQ(2u, WaitForRecord(installer).size());
    std::vector<std::wstring> lines = RunAgain();
    EXPECT_TRUE(WaitUntil([&] { return WaitForRecord(installer).size() == 4; }, RECORD_TIMEOUT_MS)) << "started twice";
    EXPECT_EQ(beside ? 2u : 1u, server.requests.size()) << (beside ? "beside setup.exe" : "protected folder");
    EXPECT_EQ(beside ? 0 : 1, std::count(lines.begin(), lines.end(),
                                         L"earlier download matched its pins, not fetched again: " + installer));
  }
}

// Closing the window while the download waits to try again ends the run as
// closing it during the download does.
TEST_F(InstallRun, ClosingDuringAPauseBetweenTriesExits) {
  const std::string product = FakeInstallerBytes();
  Prepare(L"win7", false,
          {{PRODUCT_V2_PATH, {}, ServeTries({Serve(product, ETAG, 1000), Serve(product, ETAG, 2000, LOOPBACK_AWAIT_CLOSE)})}},
          2);
  StartAndPress();
  ASSERT_TRUE(WaitForText(Control(STATUS), L"连接中断，正在继续下载...", E2E_START_TIMEOUT_MS));
  PostBackgroundDoubleClick(run.window);
  HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
  ASSERT_NE(static_cast<HWND>(NULL), box);
  AnswerMessageBox(box, IDYES);
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
  EXPECT_TRUE(LogHasLine(L"download broke at byte 1000 of " + std::to_wstring(product.size()) +
                         L": the connection was closed"));
}

// With a proxy in the user's Internet settings an http:// product goes through
// it: its address (127.0.0.2) is one that only the proxy reaches.
TEST_F(InstallRun, HttpProductReachableOnlyThroughTheUsersProxyInstalls) {
  ASSERT_TRUE(TlsServersRunning()) << "run through tests/harness/tls_servers.py (ctest does)";
  ASSERT_TRUE(StartLoopbackRoutes(&server, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1));
  serverStarted = true;
  ASSERT_TRUE(PrepareRun(&run, L"proxy", sourceExe, L"win7", false));
  ASSERT_TRUE(StampConfig(run.exePath, ScenarioConfigAt(L"http://127.0.0.2:" + std::to_wstring(server.port), L"", L"")));
  std::string proxy = "127.0.0.1:" + std::to_string(TlsProxyPort());
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, proxy, "<local>", ""));
  StartAndPress();
  DWORD code = WaitForExitCode();
  ClearUserProxySettings();
  EXPECT_EQ(0u, code);
  EXPECT_EQ(FakeInstallerBytes(), ReadFileBytes(InFolder(PRODUCT_V2)));
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size());
  EXPECT_EQ(1u, server.requests.size());
  std::vector<std::string> proxied = TlsProxyRequests();
  ASSERT_EQ(1u, proxied.size());
  EXPECT_NE(std::string::npos, proxied[0].find(std::string(PRODUCT_V2_PATH) + " HTTP/1.1")) << proxied[0];
}

// ---- Payload pins --------------------------------------------------------------

TEST_F(InstallRun, ProductPinInUpperCaseMatchesAndTheOtherTagsPinDoesNotApply) {
  Prepare(L"win8", false, {{PRODUCT_V4_PATH, FileResponse(FakeInstallerBytes())}}, 1, L"", L"",
          L"app.sha256.v4=" + Upper(DigestOf(FakeInstallerBytes())) + L"\napp.sha256.v2=" + OTHER_DIGEST + L"\n");
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V4)).size()) << "started from the checked file";
  EXPECT_EQ(L"", RunLogOf(run)) << "a successful run";
}

TEST_F(InstallRun, ProductPinMismatchDeletesTheDownloadAndStartsNothing) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1, L"", L"",
          L"app.sha256.v2=" + OTHER_DIGEST + L"\n");
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
  EXPECT_EQ((std::vector<std::wstring>{L"pin app.sha256.v2 mismatch: expected " + OTHER_DIGEST + L", received " +
                                       DigestOf(FakeInstallerBytes())}),
            LogLinesStartingWith(L"pin "));
}

// Without the system's SHA-256 (its provider library gone), a configured pin
// cannot be checked: the download is refused, never started unchecked.
TEST_F(InstallRun, PinThatTheSystemCannotCheckRefusesTheDownload) {
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1, L"", L"",
          L"app.sha256.v2=" + DigestOf(FakeInstallerBytes()) + L"\n");
  ASSERT_TRUE(DisableLibraryFor(run.exeName, L"rsaenh"));
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
  std::vector<std::wstring> lines = LogLinesStartingWith(L"no sha-256 ");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find(L"no sha-256 on this system, pin app.sha256.v2 cannot be checked, download refused. "));
}

// A pin that is there but cannot be read refuses the download: never "no pin".
TEST_F(InstallRun, MalformedProductPinsRefuseTheDownload) {
  const std::wstring digest = DigestOf(FakeInstallerBytes());
  const std::wstring malformed[] = {L"", digest + L" ", digest.substr(0, PIN_DIGITS - 1)};
  for (const std::wstring& pin : malformed) {
    Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1, L"", L"",
            L"app.sha256.v2=" + pin + L"\n");
    StartAndPress();
    EXPECT_EQ(X005, FailureBoxText()) << "pin \"" << ::testing::PrintToString(pin) << "\"";
    EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
    EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
    EXPECT_TRUE(LogHasLine(L"pin app.sha256.v2 is not 64 hexadecimal digits, download refused"));
    Reset();
  }
}

TEST_F(InstallRun, RuntimePinRefusesMirror1AndInstallsFromMirror2) {
  const std::string tampered = FakeInstallerBytes() + "tampered";
  const std::wstring digest = DigestOf(FakeInstallerBytes());
  // No product is served: the run ends in X005 and keeps its log.
  Prepare(L"winxp", false, {{MIRROR1_PATH, FileResponse(tampered)}, {MIRROR2_PATH, FileResponse(FakeInstallerBytes())}},
          3, Wide(MIRROR1_PATH), Wide(MIRROR2_PATH), L"net2.sha256=" + digest + L"\n");
  SetRuntimeExitCode(0);
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  ASSERT_EQ(3u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[1], std::string("GET ") + MIRROR2_PATH + " "));
  EXPECT_EQ(2u, WaitForRecord(InFolder(RUNTIME_FILE)).size()) << "the runtime installer ran once";
  std::vector<std::wstring> lines = ReadRunLogTexts(RunLogOf(run));
  std::vector<std::wstring> story;
  for (const std::wstring& line : lines)
    if (line.compare(0, 4, L"pin ") == 0 || line.compare(0, 5, L"url: ") == 0 || line == L"starting installer ...")
      story.push_back(line);
  const std::wstring base = L"url: http://127.0.0.1:" + std::to_wstring(server.port);
  EXPECT_EQ((std::vector<std::wstring>{base + Wide(MIRROR1_PATH),
                                       L"pin net2.sha256 mismatch: expected " + digest + L", received " + DigestOf(tampered),
                                       base + Wide(MIRROR2_PATH), L"pin net2.sha256 matched",
                                       L"starting installer ...", base + Wide(PRODUCT_V2_PATH)}),
            story);
}

TEST_F(InstallRun, RuntimePinRefusingEveryMirrorShowsX003) {
  const std::string tampered = FakeInstallerBytes() + "tampered";
  Prepare(L"winxp", false, {{MIRROR1_PATH, FileResponse(tampered)}, {MIRROR2_PATH, FileResponse(tampered)}}, 2,
          Wide(MIRROR1_PATH), Wide(MIRROR2_PATH), L"net2.sha256=" + DigestOf(FakeInstallerBytes()) + L"\n");
  StartAndPress();
  EXPECT_EQ(X003, FailureBoxText());
  EXPECT_EQ(2u, server.requests.size());
  EXPECT_FALSE(FileExists(InFolder(RUNTIME_FILE)));
  EXPECT_FALSE(FileExists(InFolder(RUNTIME_FILE) + L".ran"));
  EXPECT_EQ(2u, LogLinesStartingWith(L"pin net2.sha256 mismatch: ").size());
}

// A configuration without pins logs exactly what it logged before pins
// existed, but for the line that names the download folder.
TEST_F(InstallRun, WithoutPinsTheRunLogIsUnchanged) {
  const std::string text = "this is text, not a program\r\n";
  Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(text)}}, 1);
  StartAndPress();
  EXPECT_EQ(L"产品系统安装程序启动失败。请确认是以管理员身份启动的该安装程序。(X006)", FailureBoxText());
  std::vector<std::wstring> lines = ReadRunLogTexts(RunLogOf(run));
  const std::vector<std::wstring> expected = {
      L"hello 快乐.", L"register class", L"init inst", L"msg loop", L"download folder made: " + ProtectedDownloadFolder(),
      L"url: http://127.0.0.1:" + std::to_wstring(server.port) + Wide(PRODUCT_V2_PATH),
      L"content length: " + std::to_wstring(text.size()), L"start down", L"end down"};
  ASSERT_GT(lines.size(), expected.size());
  EXPECT_EQ(expected, std::vector<std::wstring>(lines.begin(), lines.begin() + expected.size()));
  const std::wstring failure = L"产品系统安装程序启动失败。请确认是以管理员身份启动的该安装程序。(X006)(EH";
  EXPECT_EQ(0u, lines[expected.size()].compare(0, failure.size(), failure)) << "then the failure, nothing between";
}

// ---- Product mirrors --------------------------------------------------------------

const std::wstring REFUSED_PRODUCT = L"http://127.0.0.1:1/package/brenvik/brenvik-setupvv.exe";

// The run log's lines that tell the story of the product's mirrors.
std::vector<std::wstring> MirrorStory(const std::vector<std::wstring>& lines) {
  std::vector<std::wstring> story;
  for (const std::wstring& line : lines)
    for (const wchar_t* start :
         {L"product mirror ", L"url: ", L"connect error: ", L"redirect", L"pin ", L"app.connections", L"app.redirects", X005})
      // The failure's line without its error code.
      if (StartsWith(line, start)) story.push_back(start == X005 ? line.substr(0, line.find(L"(EH") + 3) : line);
  return story;
}

// The first address refuses the connection (nothing listens there); the
// second redirects to the product, which its pin accepts: it is started,
// whichever mirror and host served it. A valid connection count changes
// nothing in the run.
TEST_F(InstallRun, ProductFromTheSecondAddressWhenTheFirstRefuses) {
  const std::string product = FakeInstallerBytes();
  Prepare(L"win7", false,
          {{"/release/latest-v2", {SendBytes("HTTP/1.1 302 Found\r\nLocation: " + std::string(PRODUCT_V2_PATH) +
                                             "\r\nContent-Length: 0\r\n\r\n")}},
           {PRODUCT_V2_PATH, FileResponse(product)}},
          2);
  StampProductMirrors({REFUSED_PRODUCT, L"/release/latest-vv"},
                      L"app.sha256.v2=" + DigestOf(product) + L"\napp.connections=2\napp.redirects=1\n");
  ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
  HANDLE log = HoldRunLog();  // before the press: the run takes well under a second
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  PostClick(Control(BUTTON));
  EXPECT_EQ(0u, WaitForExitCode());
  std::vector<std::wstring> lines = ReadHeldLog(log);
  EXPECT_EQ(L"", RunLogOf(run)) << "a successful run deletes its log";
  EXPECT_EQ(product, ReadFileBytes(InFolder(PRODUCT_V2)));
  std::vector<std::wstring> record = WaitForRecord(InFolder(PRODUCT_V2));
  ASSERT_EQ(2u, record.size());
  EXPECT_EQ(InFolder(PRODUCT_V2), record[0]);
  ASSERT_EQ(2u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[1], std::string("GET ") + PRODUCT_V2_PATH + " HTTP/1.1\r\n"));
  const std::wstring refused = L"http://127.0.0.1:1" + Wide(PRODUCT_V2_PATH);
  const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.port);
  EXPECT_EQ((std::vector<std::wstring>{L"product mirror 1 of 2: " + refused, L"url: " + refused,
                                       L"connect error: 10061 at 127.0.0.1",
                                       L"product mirror 2 of 2: " + base + L"/release/latest-v2",
                                       L"url: " + base + L"/release/latest-v2",
                                       L"redirect 1 of 1: 302 to " + base + Wide(PRODUCT_V2_PATH),
                                       L"pin app.sha256.v2 matched"}),
            MirrorStory(lines));
  EXPECT_TRUE(std::find(lines.begin(), lines.end(), L"bye") != lines.end()) << "the whole log, read through the test's handle";
}

// Every address fails, one of them with a file that its pin refuses: each is
// tried in turn, and "(X005)" comes once, after the last. A malformed
// connection count is logged and leaves the downloads as they were.
TEST_F(InstallRun, ProductMirrorsThatAllFailEndInX005AfterTheLast) {
  const std::string tampered = FakeInstallerBytes() + "tampered";
  const std::wstring digest = DigestOf(FakeInstallerBytes());
  Prepare(L"win7", false, {{"/m2/brenvik-setupv2.exe", FileResponse(tampered)}}, 2);
  StampProductMirrors({REFUSED_PRODUCT, L"/m2/brenvik-setupvv.exe", L"/m3/brenvik-setupvv.exe"},
                      L"app.sha256.v2=" + digest + L"\napp.connections=9\napp.redirects=10\n");
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
  ASSERT_EQ(2u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[0], "GET /m2/brenvik-setupv2.exe "));
  EXPECT_TRUE(StartsWith(server.requests[1], "GET /m3/brenvik-setupv2.exe "));
  const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.port);
  const std::wstring refused = L"http://127.0.0.1:1" + Wide(PRODUCT_V2_PATH);
  EXPECT_EQ((std::vector<std::wstring>{
                L"app.connections refused: \"9\" is not a number from 1 to 8; downloads use one connection",
                L"app.redirects refused: \"10\" is not a number from 0 to 9; no redirect is followed",
                L"product mirror 1 of 3: " + refused, L"url: " + refused, L"connect error: 10061 at 127.0.0.1",
                L"product mirror 2 of 3: " + base + L"/m2/brenvik-setupv2.exe", L"url: " + base + L"/m2/brenvik-setupv2.exe",
                L"pin app.sha256.v2 mismatch: expected " + digest + L", received " + DigestOf(tampered),
                L"product mirror 3 of 3: " + base + L"/m3/brenvik-setupv2.exe", L"url: " + base + L"/m3/brenvik-setupv2.exe",
                std::wstring(X005) + L"(EH"}),
            MirrorStory(ReadRunLogTexts(RunLogOf(run))));
}

// ---- Publisher pins --------------------------------------------------------------

// Installers signed at test time with throwaway keys: the product double signed
// by key a and by key b, a's copy with a byte changed, and the key digests as
// openssl gives them.
struct SignedInstallers {
  std::wstring folder;
  std::string a, b, aChanged;
  std::wstring keyA, keyB;
};

bool MakeSigned(SignedInstallers* made) {
  made->folder = MakeSignedInstallers(WindowsPathFromUnix(FAKE_INSTALLER_EXE));
  if (made->folder.empty()) return false;
  made->a = ReadFileBytes(JoinPath(made->folder, L"a.exe"));
  made->b = ReadFileBytes(JoinPath(made->folder, L"b.exe"));
  made->aChanged = ReadFileBytes(JoinPath(made->folder, L"a-changed.exe"));
  std::string keyA = ReadFileBytes(JoinPath(made->folder, L"a.key"));
  std::string keyB = ReadFileBytes(JoinPath(made->folder, L"b.key"));
  made->keyA.assign(keyA.begin(), keyA.end());
  made->keyB.assign(keyB.begin(), keyB.end());
  RemoveFolder(made->folder);
  return !made->a.empty() && made->a != made->b && made->keyA.size() == 64 && made->keyB.size() == 64;
}

// app.signer: the product starts only when its signature verifies and its
// signer's key is one of those listed (the throwaway CA is trusted nowhere,
// and Windows would say so: the pinned key decides). Every refusal deletes the
// download, starts nothing, ends in "(X005)" and says why in the log.
TEST_F(InstallRun, PublisherPinStartsOnlyAProductSignedByAListedKey) {
  SignedInstallers made;
  ASSERT_TRUE(MakeSigned(&made));
  const std::wstring pinA = L"app.signer=" + made.keyA + L"\n";
  const struct {
    const char* what;
    std::string body;
    std::wstring config;
    bool withoutWintrust;
    std::wstring logged;  // empty: the product starts
  } cases[] = {
      {"signed by the listed key", made.a, pinA, false, L""},
      {"the second listed key, in upper case, and a SHA-256 pin that holds too", made.a,
       L"app.signer=" + made.keyB + L"," + Upper(made.keyA) + L"\napp.sha256.v2=" + DigestOf(made.a) + L"\n", false, L""},
      {"signed by another key", made.b, pinA, false,
       L"signer app.signer mismatch: expected " + made.keyA + L", received " + made.keyB + L" (chain 0x00000020)"},
      {"unsigned", FakeInstallerBytes(), pinA, false,
       L"signer app.signer refused: no signature (0x800B0100, chain 0x00000000)"},
      {"one byte changed", made.aChanged, pinA, false,
       L"signer app.signer refused: the file does not match its signature (0x80096010, chain 0x00000000)"},
      {"a list that ends in a comma", made.a, L"app.signer=" + made.keyA + L",\n", false,
       L"signer app.signer is not a comma-separated list of key digests (64 hexadecimal digits each), download refused"},
      {"the listed signer, but a SHA-256 pin of another file", made.a,
       pinA + L"app.sha256.v2=" + OTHER_DIGEST + L"\n", false,
       L"pin app.sha256.v2 mismatch: expected " + OTHER_DIGEST + L", received " + DigestOf(made.a)},
      {"no wintrust.dll", made.a, pinA, true,
       L"no signature check on this system, signer app.signer cannot be checked, download refused. 126"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(c.body)}}, 1, L"", L"", c.config);
    if (c.withoutWintrust) {
      ASSERT_TRUE(DisableLibraryFor(run.exeName, L"wintrust"));
    }
    StartAndPress();
    if (c.logged.empty()) {
      EXPECT_EQ(0u, WaitForExitCode());
      EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size()) << "started from the checked file";
    } else {
      EXPECT_EQ(X005, FailureBoxText());
      EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2))) << "the refused download is deleted";
      EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
      EXPECT_TRUE(LogHasLine(c.logged)) << ::testing::PrintToString(ReadRunLogTexts(RunLogOf(run)));
    }
    Reset();
  }
}

// net2.signer: the first mirror's runtime, signed by another key, is refused
// and deleted; the second mirror's, signed by the listed key, is installed.
TEST_F(InstallRun, RuntimePublisherPinMovesToTheNextMirror) {
  SignedInstallers made;
  ASSERT_TRUE(MakeSigned(&made));
  // No product is served: the run ends in X005 and keeps its log.
  Prepare(L"winxp", false, {{MIRROR1_PATH, FileResponse(made.b)}, {MIRROR2_PATH, FileResponse(made.a)}}, 3,
          Wide(MIRROR1_PATH), Wide(MIRROR2_PATH), L"net2.signer=" + made.keyA + L"\n");
  SetRuntimeExitCode(0);
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_EQ(2u, WaitForRecord(InFolder(RUNTIME_FILE)).size()) << "the runtime installer ran once";
  std::vector<std::wstring> story;
  for (const std::wstring& line : ReadRunLogTexts(RunLogOf(run)))
    if (line.compare(0, 7, L"signer ") == 0 || line.compare(0, 5, L"url: ") == 0 || line == L"starting installer ...")
      story.push_back(line);
  const std::wstring base = L"url: http://127.0.0.1:" + std::to_wstring(server.port);
  EXPECT_EQ((std::vector<std::wstring>{base + Wide(MIRROR1_PATH),
                                       L"signer net2.signer mismatch: expected " + made.keyA + L", received " + made.keyB +
                                           L" (chain 0x00000020)",
                                       base + Wide(MIRROR2_PATH),
                                       L"signer net2.signer matched: " + made.keyA + L" (signature verified)",
                                       L"starting installer ...", base + Wide(PRODUCT_V2_PATH)}),
            story);
}

// ---- DLL planting ----------------------------------------------------------------

// The planting works: a program without any defence that loads `library`
// ("uxtheme") by name loads the copy planted beside it.
void ExpectPlantedCopyLoadedByName(const std::wstring& library) {
  const std::wstring planted = WindowsPathFromUnix(PLANTED_LIBRARY_DLL);
  std::wstring folder = MakeTempFolder(L"planted", false);
  ASSERT_NE(L"", folder);
  ASSERT_TRUE(CopyFileW(planted.c_str(), JoinPath(folder, library + L".dll").c_str(), FALSE));
  const std::wstring probeName = UniqueExeName(L"probe");
  std::wstring probe = JoinPath(folder, probeName);
  ASSERT_TRUE(CopyFileW(WindowsPathFromUnix(LOAD_BY_NAME_PROBE_EXE).c_str(), probe.c_str(), FALSE));
  ASSERT_TRUE(PreferNativeLibraryFor(probeName, library));
  StartedProgram program;
  ASSERT_TRUE(StartProgram(probe, library + L".dll", &program)) << "error " << program.startError;
  DWORD code = 0;
  EXPECT_TRUE(WaitForExit(program, E2E_EXIT_TIMEOUT_MS, &code));
  EndProgram(&program);
  ClearLibraryPreferencesFor(probeName);
  EXPECT_TRUE(FileExists(JoinPath(folder, library + L".dll.loaded"))) << "the probe did not load the planted copy";
  RemoveFolder(folder);
}

// Neither setup.exe nor the installer it starts loads it: the installer runs
// from the protected folder (and loads uxtheme.dll by name, as installers do).
// Started beside setup.exe, where the downloads go without that folder, the
// installer does load it: that is what the folder is for.
TEST_F(InstallRun, LibraryPlantedBesideSetupIsNeverLoaded) {
  const std::wstring planted = WindowsPathFromUnix(PLANTED_LIBRARY_DLL);
  ExpectPlantedCopyLoadedByName(L"uxtheme");

  // setup.exe, on both roads: the system-folder-only search, and the older
  // systems' preloading; then the installer started beside setup.exe.
  const struct {
    std::wstring build;
    bool besideSetup;
  } cases[] = {{SetupExePath(), false}, {WindowsPathFromUnix(SETUP_PRELOADING_DLLS_EXE), false}, {SetupExePath(), true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.build) + (c.besideSetup ? ", downloads beside setup.exe" : ""));
    sourceExe = c.build;
    Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1);
    if (c.besideSetup) DownloadBesideSetup();
    ASSERT_TRUE(CopyFileW(planted.c_str(), BesideSetup(L"uxtheme.dll").c_str(), FALSE));
    ASSERT_TRUE(PreferNativeLibraryFor(run.exeName, L"uxtheme"));
    ASSERT_TRUE(PreferNativeLibraryFor(PRODUCT_V2, L"uxtheme"));
    StartAndPress();
    EXPECT_EQ(0u, WaitForExitCode());
    EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size()) << "a whole successful run";
    const std::wstring loaded = BesideSetup(L"uxtheme.dll.loaded");
    if (c.besideSetup) {
      WaitUntil([&] { return FileExists(loaded); }, RECORD_TIMEOUT_MS);
      std::string by = ReadFileBytes(loaded);
      EXPECT_NE(std::string::npos, by.find("brenvik-setupv2.exe\n")) << "loaded by: " << by;
      EXPECT_EQ(std::string::npos, by.find(std::string(run.exeName.begin(), run.exeName.end()))) << "loaded by: " << by;
    } else {
      EXPECT_FALSE(FileExists(loaded)) << "the planted library was loaded by " << ReadFileBytes(loaded);
    }
    ClearLibraryPreferencesFor(PRODUCT_V2);
    Reset();
  }
}

// ---- Smaller faults -------------------------------------------------------------

// Yes to the restart question and a close of the window, posted together in
// both orders. The box runs on the worker's thread and takes the Yes whether or
// not the main thread has destroyed the window first (under Wine the box
// outlives its owner), so in both orders the restart must be requested: the
// process may not end between the Yes and the request. Without the hand-over
// the process ends at once and the request (or even the RunOnce value) is lost.
TEST_F(InstallRun, RestartIsRequestedWhenTheWindowClosesRightAfterYes) {
  for (int closeFirst = 0; closeFirst < 2; ++closeFirst) {
    Prepare(L"winxp", false, {{MIRROR1_PATH, FileResponse(FakeInstallerBytes())}}, 1, Wide(MIRROR1_PATH));
    SetRuntimeExitCode(3010);
    StartAndPress();
    HWND box = WaitForMessageBox(run.window, E2E_START_TIMEOUT_MS);
    ASSERT_NE(static_cast<HWND>(NULL), box);
    if (closeFirst) PostMessageW(run.window, WM_CLOSE, 0, 0);
    AnswerMessageBox(box, IDYES);
    if (!closeFirst) PostMessageW(run.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, WaitForExitCode());

    EXPECT_TRUE(LogHasLine(L"requesting restart")) << "close first: " << closeFirst;
    // The restart runs the RunOnce entry: setup.exe starts again; end that one.
    DWORD restartedId = 0;
    HWND restarted = NULL;
    WaitUntil([&] {
      return (restarted = FindWindowOfAnotherProcess(SETUP_WINDOW_CLASS, run.program.processId, &restartedId)) != NULL;
    }, E2E_START_TIMEOUT_MS);
    EXPECT_NE(static_cast<HWND>(NULL), restarted) << "no restart started setup.exe again; close first: " << closeFirst;
    if (restarted != NULL) {
      StartedProgram again = ProgramOfProcess(restartedId);
      PostKeyUp(restarted, VK_ESCAPE);
      DWORD code = 0;
      EXPECT_TRUE(WaitForExit(again, E2E_EXIT_TIMEOUT_MS, &code));
      EndProgram(&again);
    }
    EXPECT_EQ(L"", ReadRunOnceValue()) << "an entry left that no restart consumed; close first: " << closeFirst;
    Reset();
  }
}

// ---- HTTPS -------------------------------------------------------------------------

std::wstring WideUrl(TlsServer server, const std::string& path) {
  std::string url = TlsUrl(server, path);
  return std::wstring(url.begin(), url.end());
}

// Every address https://: on Windows XP the runtime's first mirror presents an
// untrusted certificate and is passed over, the second one serves it, then the
// product; both pinned, both started.
TEST_F(InstallRun, AllHttpsConfigurationInstallsRuntimeAndProductOnWindowsXp) {
  const std::wstring digest = DigestOf(FakeInstallerBytes());
  PrepareHttps(L"winxp",
               {{MIRROR2_PATH, TlsFileResponse(FakeInstallerBytes())},
                {PRODUCT_V2_PATH, TlsFileResponse(FakeInstallerBytes())}},
               WideUrl(TLS_UNTRUSTED, MIRROR1_PATH), Wide(MIRROR2_PATH),
               L"net2.sha256=" + digest + L"\napp.sha256.v2=" + digest + L"\n");
  SetRuntimeExitCode(0);
  StartAndPress();
  EXPECT_EQ(0u, WaitForExitCode());
  std::vector<TlsRequest> requests = TlsRequests();
  ASSERT_EQ(2u, requests.size()) << "the untrusted mirror got no request";
  EXPECT_EQ("trusted", requests[0].server);
  EXPECT_TRUE(StartsWith(requests[0].bytes, std::string("GET ") + MIRROR2_PATH + " HTTP/1.1\r\n"));
  EXPECT_TRUE(StartsWith(requests[1].bytes, std::string("GET ") + PRODUCT_V2_PATH + " HTTP/1.1\r\n"));

  std::wstring runtime = InFolder(RUNTIME_FILE);
  std::vector<std::wstring> record = WaitForRecord(runtime);
  ASSERT_EQ(2u, record.size());
  EXPECT_EQ(runtime + L" /q /noretart", record[0]);
  std::wstring product = InFolder(PRODUCT_V2);
  EXPECT_EQ(FakeInstallerBytes(), ReadFileBytes(product));
  EXPECT_EQ(2u, WaitForRecord(product).size());
  EXPECT_EQ(L"", RunLogOf(run)) << "a successful run deletes its log";
}

// On a system without winhttp.dll an https:// mirror fails with a log line
// that says so, and the next mirror, plain HTTP, serves the runtime.
TEST_F(InstallRun, WithoutTheHttpLibraryTheNextMirrorIsTried) {
  ASSERT_TRUE(TlsServersRunning());
  Prepare(L"winxp", false, {{MIRROR2_PATH, FileResponse(FakeInstallerBytes())}}, 2,
          WideUrl(TLS_TRUSTED, MIRROR1_PATH), Wide(MIRROR2_PATH));
  ASSERT_TRUE(DisableLibraryFor(run.exeName, L"winhttp"));
  SetRuntimeExitCode(0);
  StartAndPress();
  // The product has no route: the run ends there and keeps its log.
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_EQ(2u, WaitForRecord(InFolder(RUNTIME_FILE)).size()) << "the runtime came from the second mirror";
  EXPECT_TRUE(TlsRequests().empty());
  ASSERT_EQ(2u, server.requests.size());
  EXPECT_TRUE(StartsWith(server.requests[0], std::string("GET ") + MIRROR2_PATH + " "));
  std::vector<std::wstring> failed = LogLinesStartingWith(L"winhttp.dll not loaded ");
  ASSERT_EQ(1u, failed.size());
  EXPECT_EQ(L"winhttp.dll not loaded 126", failed[0]) << "ERROR_MOD_NOT_FOUND";
}

// A pin holds over HTTPS as over HTTP: the file is checked after the download
// whatever carried it.
TEST_F(InstallRun, HttpsProductThatMissesItsPinIsDeletedAndNeverStarted) {
  PrepareHttps(L"win7", {{PRODUCT_V2_PATH, TlsFileResponse(FakeInstallerBytes())}}, L"", L"",
               L"app.sha256.v2=" + OTHER_DIGEST + L"\n");
  StartAndPress();
  EXPECT_EQ(X005, FailureBoxText());
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2)));
  EXPECT_FALSE(FileExists(InFolder(PRODUCT_V2) + L".ran"));
  EXPECT_EQ((std::vector<std::wstring>{L"pin app.sha256.v2 mismatch: expected " + OTHER_DIGEST + L", received " +
                                       DigestOf(FakeInstallerBytes())}),
            LogLinesStartingWith(L"pin app.sha256.v2 mismatch: "));
  EXPECT_EQ(1u, TlsRequests().size());
}

// A product server whose certificate is refused (an issuer never trusted, a
// certificate for another name) ends the run with "(X005)": no file, nothing
// started, the reason in the log.
TEST_F(InstallRun, HttpsProductWithARefusedCertificateStartsNothing) {
  for (TlsServer server : {TLS_UNTRUSTED, TLS_WRONG_NAME}) {
    PrepareHttps(L"win8", {{PRODUCT_V4_PATH, TlsFileResponse(FakeInstallerBytes())}});
    std::string base = TlsUrl(server, "");
    ASSERT_TRUE(StampConfig(run.exePath, ScenarioConfigAt(std::wstring(base.begin(), base.end()), L"", L"")));
    StartAndPress();
    EXPECT_EQ(X005, FailureBoxText()) << base;
    EXPECT_FALSE(FileExists(InFolder(PRODUCT_V4))) << base;
    EXPECT_FALSE(FileExists(InFolder(PRODUCT_V4) + L".ran")) << base;
    EXPECT_EQ(1u, LogLinesStartingWith(L"https send failed ").size()) << base;
    Reset();
  }
  EXPECT_TRUE(TlsRequests().empty());
}

// The HTTP library is loaded from the system folder by its full path: a
// winhttp.dll planted beside setup.exe stays unloaded, on both roads of the
// DLL search defence, while the product comes over HTTPS.
TEST_F(InstallRun, WinHttpPlantedBesideSetupIsNeverLoaded) {
  const std::wstring planted = WindowsPathFromUnix(PLANTED_LIBRARY_DLL);
  ExpectPlantedCopyLoadedByName(L"winhttp");

  const std::wstring builds[] = {SetupExePath(), WindowsPathFromUnix(SETUP_PRELOADING_DLLS_EXE)};
  for (const std::wstring& build : builds) {
    sourceExe = build;
    PrepareHttps(L"win8", {{PRODUCT_V4_PATH, TlsFileResponse(FakeInstallerBytes())}});
    ASSERT_TRUE(CopyFileW(planted.c_str(), BesideSetup(L"winhttp.dll").c_str(), FALSE));
    ASSERT_TRUE(PreferNativeLibraryFor(run.exeName, L"winhttp"));
    StartAndPress();
    EXPECT_EQ(0u, WaitForExitCode()) << build;
    EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V4)).size()) << "a whole successful run: " << build;
    EXPECT_FALSE(FileExists(BesideSetup(L"winhttp.dll.loaded"))) << "the planted library was loaded: " << build;
    Reset();
  }
}

// ---- The protected download folder ---------------------------------------------------

// True for `length` lower-case hexadecimal digits.
bool IsHex(const std::wstring& text, size_t length) {
  return text.size() == length && text.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

// Users may make folders in the Windows temporary folder too. What already has
// the download folder's name before setup.exe runs is never used: a folder
// that everyone may change, a symbolic link to a folder elsewhere, a file.
// setup.exe says why in its log, makes a fresh folder beside it, of a name
// nobody can guess, with its protected DACL, and starts the product from
// there; nothing reaches what had the name. Wine cannot show every refusal
// as Windows gives it: it shows the Unix user as the owner of every folder,
// and a symbolic link as the folder it leads to, so both of those are refused
// for their owner there (on Windows the link for being one). Wine cannot make
// a junction at all (FSCTL_SET_REPARSE_POINT: ERROR_NOT_SUPPORTED).
TEST_F(InstallRun, WhatAlreadyHasTheFoldersNameIsNotUsed) {
  const std::wstring name = ProtectedDownloadFolder();  // not there yet: setup.exe's own spelling
  const std::wstring owner = L"its owner is " + ProcessUserSid();
  const std::wstring elsewhere = MakeTempFolder(L"link-target", false);
  ASSERT_NE(L"", elsewhere);
  enum Squat { EVERYONE_MAY_CHANGE, LINK, FILE_UNDER_THE_NAME };
  const struct {
    const char* what;
    Squat squat;
    std::vector<std::wstring> reasons;  // one of them
  } cases[] = {
      {"a folder that everyone may change", EVERYONE_MAY_CHANGE, {owner}},
      {"a symbolic link to a folder elsewhere", LINK, {L"it is a link or junction", owner}},
      {"a file", FILE_UNDER_THE_NAME, {L"it is not a folder"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(L"win7", false, {{PRODUCT_V2_PATH, FileResponse(FakeInstallerBytes())}}, 1);
    if (c.squat == EVERYONE_MAY_CHANGE) {
      PSECURITY_DESCRIPTOR open = NULL;
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open,
                                                                       NULL));
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, open, FALSE};
      ASSERT_TRUE(CreateDirectoryW(name.c_str(), &attributes));
      LocalFree(open);
    } else if (c.squat == LINK) {
      ASSERT_TRUE(StartHostProgram("/bin/ln", {"-s", UnixFileName(elsewhere), UnixFileName(name)}));
      ASSERT_TRUE(WaitUntil([&] { return FileExists(name); }, E2E_EXIT_TIMEOUT_MS));
    } else {
      ASSERT_TRUE(WriteFileBytes(name, "squatter"));
    }
    ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
    HANDLE log = HoldRunLog();  // a successful run deletes it
    ASSERT_NE(INVALID_HANDLE_VALUE, log);
    PostClick(Control(BUTTON));
    EXPECT_EQ(0u, WaitForExitCode());
    std::vector<std::wstring> lines = ReadHeldLog(log);

    std::vector<std::wstring> fresh = FreshDownloadFolders();
    ASSERT_EQ(1u, fresh.size());
    // Beside the refused name: its final path may spell the folders above in another case.
    ASSERT_GT(fresh[0].size(), name.size() + 1);
    EXPECT_EQ(0, lstrcmpiW(name.c_str(), fresh[0].substr(0, name.size()).c_str())) << ::testing::PrintToString(fresh[0]);
    EXPECT_EQ(L'-', fresh[0][name.size()]);
    EXPECT_TRUE(IsHex(fresh[0].substr(name.size() + 1), 32)) << ::testing::PrintToString(fresh[0]);
    EXPECT_EQ(ProtectedFolderDaclAsShown(), FileDaclText(fresh[0]));
    std::vector<std::wstring> record = WaitForRecord(JoinPath(fresh[0], PRODUCT_V2));
    ASSERT_EQ(2u, record.size());
    EXPECT_EQ(JoinPath(fresh[0], PRODUCT_V2), record[0]);
    EXPECT_EQ(fresh[0], record[1]);
    EXPECT_FALSE(FileExists(JoinPath(elsewhere, PRODUCT_V2))) << "written through the link";
    EXPECT_FALSE(FileExists(JoinPath(name, PRODUCT_V2)));

    const std::wstring refused = L"download folder " + name + L" refused: ";
    std::vector<std::wstring> story;
    for (const std::wstring& line : lines)
      if (StartsWith(line, L"download folder ")) story.push_back(line);
    ASSERT_EQ(2u, story.size()) << ::testing::PrintToString(story);
    EXPECT_NE(c.reasons.end(), std::find_if(c.reasons.begin(), c.reasons.end(),
                                            [&](const std::wstring& reason) { return story[0] == refused + reason; }))
        << ::testing::PrintToString(story[0]);
    EXPECT_EQ(L"download folder made: " + fresh[0], story[1]);
    Reset();
  }
  RemoveFolder(elsewhere);
}

// ---- Planted links ------------------------------------------------------------------

// The run log's name for the run's copy in process `processId`, started today.
std::wstring RunLogNameOf(const E2eRun& run, DWORD processId) {
  WCHAR date[16];
  if (GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, NULL, L"yyyyMMdd", date, 16) == 0) date[0] = L'\0';
  return run.exeName.substr(0, run.exeName.size() - 4) + L"-" + date + L"-" + std::to_wstring(processId) + L".log";
}

// setup.exe runs elevated in a folder that the user can write: its log always,
// and its downloads too when it cannot make its protected folder. Under every
// name that it writes there (the runtime installer, fetched over HTTP; the
// product, over HTTPS; the run log, named after the process id) a link to a
// file in the system folder is planted before it starts: the run installs both
// as if nothing had been there, and not one byte reaches the files the links named.
TEST_F(InstallRun, LinksPlantedUnderItsFileNamesLeaveTheirTargetsUntouched) {
  ASSERT_TRUE(TlsServersRunning());
  ASSERT_TRUE(ImportTestCa());
  WCHAR system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
  const std::string tls = TlsUrl(TLS_TRUSTED, "");
  for (bool symbolic : {false, true}) {
    SCOPED_TRACE(symbolic ? "symbolic links" : "hard links");
    ASSERT_TRUE(StartLoopbackRoutes(&server, {{MIRROR1_PATH, FileResponse(FakeInstallerBytes())}}, 1));
    serverStarted = true;
    ASSERT_TRUE(ServeTlsRoute(PRODUCT_V2_PATH, TlsFileResponse(FakeInstallerBytes())));
    ASSERT_TRUE(PrepareRun(&run, L"links", sourceExe, L"winxp", false));
    DownloadBesideSetup();
    const std::wstring mirror = L"http://127.0.0.1:" + std::to_wstring(server.port) + Wide(MIRROR1_PATH);
    ASSERT_TRUE(StampConfig(run.exePath, ScenarioConfigAt(std::wstring(tls.begin(), tls.end()), mirror, L"")));
    SetRuntimeExitCode(0);
    PROCESS_INFORMATION held = {};
    ASSERT_TRUE(StartHeld(run.exePath, &held));
    run.program.process = held.hProcess;
    run.program.processId = held.dwProcessId;

    const std::wstring names[] = {RUNTIME_FILE, PRODUCT_V2, RunLogNameOf(run, held.dwProcessId)};
    std::vector<std::wstring> victims;
    for (const std::wstring& name : names) {
      victims.push_back(JoinPath(system, L"setup-e2e-victim-" + std::to_wstring(victims.size()) + L".bin"));
      EXPECT_TRUE(WriteFileBytes(victims.back(), "system file"));
      EXPECT_TRUE(PlantLink(symbolic, InFolder(name), victims.back())) << "planted as " << name;
    }
    ResumeThread(held.hThread);
    CloseHandle(held.hThread);
    run.window = WaitForWindow(SETUP_WINDOW_CLASS, run.program.processId, E2E_START_TIMEOUT_MS);
    ASSERT_NE(static_cast<HWND>(NULL), run.window) << DescribeStart(run);
    PostClick(Control(BUTTON));
    EXPECT_EQ(0u, WaitForExitCode());
    EXPECT_EQ(2u, WaitForRecord(InFolder(RUNTIME_FILE)).size()) << "the runtime installer ran";
    EXPECT_EQ(2u, WaitForRecord(InFolder(PRODUCT_V2)).size()) << "the product started";
    EXPECT_EQ(FakeInstallerBytes(), ReadFileBytes(InFolder(PRODUCT_V2)));
    EXPECT_EQ(L"", RunLogOf(run)) << "a successful run deletes its log";
    for (size_t i = 0; i < victims.size(); ++i) {
      EXPECT_EQ("system file", ReadFileBytes(victims[i])) << "changed through the link named " << names[i];
      DeleteFileW(victims[i].c_str());
    }
    Reset();
  }
}

}  // namespace
