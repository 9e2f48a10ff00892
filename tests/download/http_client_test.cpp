#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// winsock2.h must come before windows.h.
#include "download/http_client.h"
#include "download/body_file.h"
#include "download/download_file.h"
#include "download/range_road.h"
#include "log/run_log.h"
#include "download_reports.h"
#include "loopback_server.h"
#include "test_files.h"

namespace {

std::string ReadBytes(const std::wstring& path, bool* exists) {
  *exists = FileExists(path);
  return ReadFileBytes(path);
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// A body whose bytes differ from place to place, so that a shifted or repeated piece shows.
std::string Pattern(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = (char)((i * 7 + i / 251) & 0xFF);
  return body;
}

std::string Head(const std::string& lines) { return "HTTP/1.1 200 OK\r\n" + lines + "\r\n"; }

class HttpClientTest : public ::testing::Test {
 protected:
  LoopbackServer server = {};
  std::wstring target;
  std::wstring folder;

  void SetUp() override {
    Reports.clear();
    ASSERT_TRUE(SetLogLocale());
    DownloadSettings.pausePercent = 0;
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = temp;
    std::wstring name = Wide(info->name());
    wsprintfW(RunLogPath, L"%sdownload-%s-%lu.log", temp, name.c_str(), GetCurrentProcessId());
    target = folder + L"download-" + name + L".bin";
    DeleteFileW(target.c_str());
    ASSERT_NE(nullptr, OpenRunLogFile());
  }

  void TearDown() override {
    WaitLoopbackServer(&server, LOOPBACK_ACCEPT_TIMEOUT_MS);
    DownloadSettings = DownloadTuning{HTTP_RECEIVE_TIMEOUT_MS, HEAD_TIME_LIMIT_MS, 100, true, RANGE_HEAD_LIMIT_MS};
    DeleteRunLog();
    DeleteFileW(target.c_str());
  }

  // Starts the server with `script` and downloads `path` from it into `target`.
  int Fetch(const LoopbackScript& script, const std::string& path = "/setup.exe") {
    if (!StartLoopbackServer(&server, script)) {
      ADD_FAILURE() << "the loopback server did not start";
      return -100;
    }
    int result = DownloadToFile(Wide(LoopbackUrl(&server, path)).c_str(), target.c_str(),
                                RecordReport);
    EXPECT_TRUE(WaitLoopbackServer(&server, LOOPBACK_ACCEPT_TIMEOUT_MS));
    return result;
  }

  std::vector<std::string> LogTexts() { return RunLogTexts(RunLogPath); }

  std::string TargetBytes(bool* exists) { return ReadBytes(target, exists); }

  void ExpectNoTarget() {
    bool exists = true;
    TargetBytes(&exists);
    EXPECT_FALSE(exists) << "the target file was created";
  }

  void ExpectTarget(const std::string& bytes) {
    bool exists = false;
    std::string content = TargetBytes(&exists);
    EXPECT_TRUE(exists) << "no target file";
    EXPECT_EQ(bytes.size(), content.size());
    EXPECT_TRUE(bytes == content) << "the target's bytes differ";
    // Nobody may still hold the file: an exclusive open succeeds only then.
    HANDLE exclusive = CreateFileW(target.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive) << "the target is still open";
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
  }

  std::string Url(const std::string& path) { return LoopbackUrl(&server, path); }
};

typedef std::vector<std::wstring> Steps;
typedef std::vector<std::string> Lines;

// The whole road of a good download: the exact request on the wire, every step
// text and percentage in order, every log line, the file's bytes.
TEST_F(HttpClientTest, DownloadSendsTheExactRequestAndWritesTheBody) {
  std::string body = Pattern(3000);
  int result = Fetch(FileResponse(body), "/dir/setup.exe?lang=zh&v=2");
  EXPECT_EQ(DOWNLOAD_OK, result);
  ExpectTarget(body);
  ASSERT_EQ(1u, server.requests.size());
  EXPECT_EQ("GET /dir/setup.exe?lang=zh&v=2 HTTP/1.1\r\nHost: 127.0.0.1:" +
                std::to_string(server.port) + "\r\n\r\n",
            server.requests[0]);
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING, L"100",
                   COMPLETE}),
            Reports);
  EXPECT_EQ((Lines{"url: " + Url("/dir/setup.exe?lang=zh&v=2"), "content length: 3000",
                   "start down", "end down"}),
            LogTexts());
  // Made with the installers' protected DACL.
  EXPECT_EQ(ProtectedDaclAsShown(), FileDaclText(target));
}

TEST_F(HttpClientTest, TenThousandBytesInThreePiecesReport40And81And100) {
  std::string body = Pattern(10000);
  // The pauses let each piece arrive on its own, so every receive takes one whole piece.
  int result = Fetch({SendBytes(Head("Content-Length: 10000\r\n") + body.substr(0, 4096)),
                      Pause(300), SendBytes(body.substr(4096, 4096)), Pause(300),
                      SendBytes(body.substr(8192)), CloseConnection()});
  EXPECT_EQ(DOWNLOAD_OK, result);
  ExpectTarget(body);
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING, L"40", L"81",
                   L"100", COMPLETE}),
            Reports);
}

// About 245 receives, but a percentage only when its whole value changes.
TEST_F(HttpClientTest, PercentagesAreReportedOnlyWhenTheyChange) {
  std::string body = Pattern(1000000);
  EXPECT_EQ(DOWNLOAD_OK, Fetch(FileResponse(body)));
  ExpectTarget(body);
  std::vector<int> percents;
  for (const std::wstring& report : Reports)
    if (!report.empty() && iswdigit(report[0])) percents.push_back(std::stoi(report));
  ASSERT_FALSE(percents.empty());
  EXPECT_LE(percents.size(), 101u);
  EXPECT_EQ(100, percents.back());
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_LT(percents[i - 1], percents[i]);
  EXPECT_EQ(COMPLETE, Reports.back());
}

// The number of handles this process has open, from the system's handle list
// (Wine's GetProcessHandleCount always says 0). -1 when the list is not available.
int OpenHandleCount() {
  typedef LONG(WINAPI * QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);
  struct HandleEntry {
    ULONG processId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  const ULONG SYSTEM_HANDLE_INFORMATION = 16;
  // Through void (*)(void), the generic function pointer type, to keep -Wextra quiet.
  QuerySystemInformation query = (QuerySystemInformation)(void (*)(void))GetProcAddress(
      GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
  if (query == NULL) return -1;
  std::vector<char> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    LONG status = query(SYSTEM_HANDLE_INFORMATION, buffer.data(), (ULONG)buffer.size(), &needed);
    if (status == 0) {
      ULONG entries = *(const ULONG*)buffer.data();
      const HandleEntry* entry = (const HandleEntry*)(buffer.data() + sizeof(ULONG_PTR));
      int mine = 0;
      for (ULONG i = 0; i < entries; ++i)
        if (entry[i].processId == GetCurrentProcessId()) ++mine;
      return mine;
    }
    buffer.resize(buffer.size() * 2);
  }
  return -1;
}

// Every way a download can end gives back its socket, its file and its Winsock
// start: the process has as many handles open as before, and no Winsock start is
// left over once the test server has gone. The test holds a start of its own
// meanwhile: the last clean-up would close forgotten sockets and hide them.
TEST_F(HttpClientTest, EveryEndingReleasesSocketFileAndWinsock) {
  const LoopbackScript scripts[] = {
      FileResponse("abc"),
      {SendBytes("HTTP/1.1 302 Found\r\n\r\n")},
      {SendBytes(Head("Server: x\r\n"))},
      {SendBytes(Head("Content-Length: 10\r\n") + "abc"), ResetConnection()},
  };
  unsigned short unused = UnusedLoopbackPort();
  std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(unused) + L"/x";
  std::wstring missingFolder = folder + L"download-no-such-folder\\x.bin";
  int before = 0;
  WSADATA winsock;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &winsock));
  for (int round = 0; round < 2; ++round) {
    // The first round lets the platform make whatever it keeps for later calls.
    if (round == 1) before = OpenHandleCount();
    for (const LoopbackScript& script : scripts) Fetch(script);
    std::wstring savedTarget = target;
    target = missingFolder;
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch(FileResponse("abc")));
    target = savedTarget;
    EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(refused.c_str(), target.c_str(), NULL));
    EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(L"http:///x", target.c_str(), NULL));
    EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(L"http://127.0.0.1:nope/x", target.c_str(), NULL));
  }
  ASSERT_GT(before, 0) << "the handle list cannot be read";
  EXPECT_EQ(before, OpenHandleCount()) << "a handle was left open";
  EXPECT_EQ(0, WSACleanup());
  EXPECT_EQ(SOCKET_ERROR, WSACleanup()) << "a Winsock start was not cleaned up";
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
}

// One of two threads that take the socket out of every link at once, as an
// owner's close and a stop's cancel do.
struct SocketTaker {
  std::vector<RangeConnection>* links;
  volatile LONG* arrived;
  std::vector<SOCKET> got;
};

DWORD WINAPI TakeEverySocket(LPVOID parameter) {
  SocketTaker* taker = static_cast<SocketTaker*>(parameter);
  // Both start together and walk the links side by side; one that waits in
  // vain goes on alone after its turns: the outcome must hold either way.
  InterlockedIncrement(taker->arrived);
  for (int turn = 0; turn < 50000000 && *taker->arrived < 2; ++turn) YieldProcessor();
  for (size_t i = 0; i < taker->got.size(); ++i) taker->got[i] = SwapSocket(&(*taker->links)[i], INVALID_SOCKET);
  return 0;
}

// An owner and a stop that take the same sockets at once: each socket goes
// to exactly one of them, the other gets INVALID_SOCKET, so none is closed twice.
TEST(SocketSwap, TwoThreadsTakingTheSameSocketsGetEachOnceBetweenThem) {
  const size_t count = 200000;
  std::vector<RangeConnection> links(count);
  for (size_t i = 0; i < count; ++i) {
    BeginRangeConnection(&links[i], INVALID_SOCKET, NULL, NULL, NULL);
    ASSERT_EQ(INVALID_SOCKET, SwapSocket(&links[i], static_cast<SOCKET>(1000 + i))) << "the link held a socket";
  }
  volatile LONG arrived = 0;
  SocketTaker takers[2] = {{&links, &arrived, std::vector<SOCKET>(count)},
                           {&links, &arrived, std::vector<SOCKET>(count)}};
  HANDLE threads[2] = {CreateThread(NULL, 0, TakeEverySocket, &takers[0], 0, NULL),
                       CreateThread(NULL, 0, TakeEverySocket, &takers[1], 0, NULL)};
  ASSERT_TRUE(threads[0] != NULL && threads[1] != NULL);
  // Not a time measured: only a hang ends the wait.
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 120000));
  for (HANDLE thread : threads) CloseHandle(thread);
  size_t wrong = 0, first = 0;
  for (size_t i = 0; i < count; ++i) {
    const SOCKET a = takers[0].got[i], b = takers[1].got[i], given = static_cast<SOCKET>(1000 + i);
    bool once = (a == given && b == INVALID_SOCKET) || (b == given && a == INVALID_SOCKET);
    if ((!once || links[i].socket != INVALID_SOCKET) && wrong++ == 0) first = i;
  }
  EXPECT_EQ(0u, wrong) << "first at link " << first << ": " << takers[0].got[first] << " and " << takers[1].got[first];
}

// The server's route table, as end-to-end tests use it: several downloads in a
// row, each answered by its path, an unknown path refused with 404.
TEST_F(HttpClientTest, OneServerAnswersSeveralRequestsByPath) {
  std::string first = Pattern(700), second = Pattern(9000).substr(100);
  ASSERT_TRUE(StartLoopbackRoutes(
      &server, {LoopbackRoute{"/a.exe", FileResponse(first)}, LoopbackRoute{"/b.exe", FileResponse(second)}},
      3));
  std::wstring other = target + L".b";
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(Url("/b.exe")).c_str(), other.c_str(), NULL));
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(Url("/a.exe")).c_str(), target.c_str(), NULL));
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(Wide(Url("/c.exe")).c_str(), other.c_str(), NULL));
  EXPECT_TRUE(WaitLoopbackServer(&server, LOOPBACK_ACCEPT_TIMEOUT_MS));

  ExpectTarget(first);
  bool exists = false;
  std::string otherBytes = ReadBytes(other, &exists);
  DeleteFileW(other.c_str());
  EXPECT_TRUE(otherBytes == second) << "the second route's body differs";
  ASSERT_EQ(3u, server.requests.size());
  EXPECT_EQ(0u, server.requests[0].find("GET /b.exe HTTP/1.1\r\n"));
  EXPECT_EQ(0u, server.requests[1].find("GET /a.exe HTTP/1.1\r\n"));
  Lines lines = LogTexts();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("http error : HTTP/1.1 404 Not Found", lines.back());
}

TEST_F(HttpClientTest, SchemeAndPathRefusalsStartNothing) {
  int result = DownloadToFile(L"HTTP://127.0.0.1/setup.exe", target.c_str(), RecordReport);
  EXPECT_EQ(DOWNLOAD_BAD_SCHEME, result);
  EXPECT_EQ(Steps{PREPARING}, Reports);
  EXPECT_EQ(Lines{"url: HTTP://127.0.0.1/setup.exe"}, LogTexts());

  Reports.clear();
  result = DownloadToFile(L"http://127.0.0.1:8080", target.c_str(), RecordReport);
  EXPECT_EQ(DOWNLOAD_NO_PATH, result);
  EXPECT_EQ(Steps{PREPARING}, Reports);
  EXPECT_EQ((Lines{"url: HTTP://127.0.0.1/setup.exe", "url: http://127.0.0.1:8080"}), LogTexts());
  ExpectNoTarget();
}

TEST_F(HttpClientTest, OversizedPartsAreRefusedBeforeAnythingStarts) {
  struct Case {
    std::wstring url;
    std::string logged;
  };
  std::wstring longHost(1024, L'h');
  // In code page 936 each of these characters takes two bytes: 9 + 2 * 2044 = 4,097 bytes,
  // although the URL is only 2,053 characters long.
  std::wstring wideOnly = L"http://h/" + std::wstring(2044, L'中');
  std::wstring justFits = L"http://h/" + std::wstring(2043, L'中');
  const Case cases[] = {
      {wideOnly, "url refused: url longer than 4095 bytes (4097)"},
      {L"http://h/" + std::wstring(5000, L'p'), "url refused: url longer than 4095 bytes (5009)"},
      {justFits, "url refused: path longer than 1023 bytes"},
      {L"http://" + longHost + L"/", "url refused: host longer than 1023 bytes"},
      {L"http://h/" + std::wstring(1023, L'p'), "url refused: path longer than 1023 bytes"},
      {L"http://h:123456/", "url refused: port longer than 5 characters"},
      {L"http://" + std::wstring(600, L'h') + L"/" + std::wstring(600, L'p'),
       "url refused: request longer than 1023 bytes"},
  };
  for (const Case& each : cases) {
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(each.url.c_str(), target.c_str(), RecordReport));
    EXPECT_EQ(Steps{PREPARING}, Reports);
    Lines lines = LogTexts();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(each.logged, lines.back());
  }
  ExpectNoTarget();
}

TEST_F(HttpClientTest, OnlyTheTwoExact200StatusLinesAreAccepted) {
  for (const char* accepted : {"HTTP/1.1 200 OK", "HTTP/1.0 200 OK"}) {
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_OK,
              Fetch({SendBytes(std::string(accepted) + "\r\nContent-Length: 2\r\n\r\nok")}));
    ExpectTarget("ok");
    DeleteFileW(target.c_str());
  }
  // Without redirects allowed (the default), a 302 with its Location is refused like any other.
  for (const char* refused : {"HTTP/1.1 200 ok", "HTTP/1.1 200 OK ", "HTTP/1.1 206 Partial Content",
                              "HTTP/1.1 302 Found"}) {
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_FAILED,
              Fetch({SendBytes(std::string(refused) + "\r\nLocation: /b.exe\r\nContent-Length: 2\r\n\r\nok")}));
    EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
    Lines lines = LogTexts();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("http error : " + std::string(refused), lines.back());
    ExpectNoTarget();
  }
}

std::string Moved(int status, const std::string& location) {
  return "HTTP/1.1 " + std::to_string(status) + " Moved\r\n" + (location.empty() ? "" : "Location: " + location + "\r\n") +
         "Content-Length: 0\r\n\r\n";
}

// Two hops, to another port and on by a relative Location; then the same with one allowed.
TEST_F(HttpClientTest, RedirectsAreFollowedAcrossPortsWithinTheirLimit) {
  std::string body = Pattern(3000);
  LoopbackServer second = {};
  ASSERT_TRUE(StartLoopbackRoutes(&second, {LoopbackRoute{"/dir/one.exe", {SendBytes(Moved(301, "../dir/two.exe"))}},
                                            LoopbackRoute{"/dir/two.exe", FileResponse(body)}},
                                  3));
  const std::string one = LoopbackUrl(&second, "/dir/one.exe");
  ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"/setup.exe", {SendBytes(Moved(302, one))}}}, 2));
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(Url("/setup.exe")).c_str(), target.c_str(), RecordReport, DownloadLimits{1, 2}));
  ExpectTarget(body);
  Lines lines = LogTexts();
  lines.resize(3);
  EXPECT_EQ((Lines{"url: " + Url("/setup.exe"), "redirect 1 of 2: 302 to " + one,
                   "redirect 2 of 2: 301 to " + LoopbackUrl(&second, "/dir/two.exe")}),
            lines);

  std::wstring other = target + L".1";
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(Wide(Url("/setup.exe")).c_str(), other.c_str(), RecordReport, DownloadLimits{1, 1}));
  EXPECT_TRUE(WaitLoopbackServer(&second, LOOPBACK_ACCEPT_TIMEOUT_MS));
  EXPECT_FALSE(FileExists(other));
  EXPECT_EQ("redirect to \"../dir/two.exe\" refused: too many", LogTexts().back());
  ASSERT_EQ(3u, second.requests.size());
  EXPECT_EQ("GET /dir/two.exe HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(second.port) + "\r\n\r\n",
            second.requests[1]);
}

TEST_F(HttpClientTest, RedirectsThatCannotBeFollowedFailTheDownload) {
  ASSERT_TRUE(StartLoopbackRoutes(
      &server, {LoopbackRoute{"/a.exe", {SendBytes(Moved(307, "/b.exe"))}},
                LoopbackRoute{"/b.exe", {SendBytes(Moved(308, "/a.exe"))}},
                LoopbackRoute{"/none.exe", {SendBytes(Moved(303, ""))}},
                LoopbackRoute{"/ftp.exe", {SendBytes(Moved(302, "ftp://127.0.0.1/a.exe"))}},
                LoopbackRoute{"/304.exe", {SendBytes("HTTP/1.1 304 Not Modified\r\nLocation: /a.exe\r\n\r\n")}}},
      6));
  const char* const cases[][2] = {
      {"/a.exe", "redirect to \"/a.exe\" refused: a loop"}, {"/none.exe", "redirect to \"\" refused: no location"},
      {"/ftp.exe", "redirect to \"ftp://127.0.0.1/a.exe\" refused: not an address"},
      {"/304.exe", "http error : HTTP/1.1 304 Not Modified"}};
  for (const auto& each : cases) {
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(Wide(Url(each[0])).c_str(), target.c_str(), RecordReport, DownloadLimits{1, 9}));
    EXPECT_EQ(each[1], LogTexts().back());
    EXPECT_EQ(FAILED, Reports.back());
    ExpectNoTarget();
  }
}

// "setup-test-dual.test" is ::1 and 127.0.0.1 in the hosts file that the test
// command writes (docs/testing.md), ::1 first: nothing listens there.
TEST_F(HttpClientTest, EveryAddressOfAHostIsTriedAndIpv6LiteralsAreReached) {
  std::string body = Pattern(500);
  ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"", FileResponse(body)}}, 1));
  std::string url = "http://setup-test-dual.test:" + std::to_string(server.port) + "/setup.exe";
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(url).c_str(), target.c_str(), RecordReport));
  EXPECT_TRUE(WaitLoopbackServer(&server, LOOPBACK_ACCEPT_TIMEOUT_MS));
  ExpectTarget(body);
  EXPECT_EQ("connect error: 10061 at ::1", LogTexts().at(1));
  EXPECT_EQ(0u, server.requests.at(0).find("GET /setup.exe HTTP/1.1\r\nHost: setup-test-dual.test:"));

  DeleteFileW(target.c_str());
  server = {};
  server.ipv6 = true;
  ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"", FileResponse(body)}}, 1));
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(Url("/setup.exe")).c_str(), target.c_str(), RecordReport));
  ExpectTarget(body);
  ASSERT_EQ(1u, server.requests.size());
  EXPECT_EQ("GET /setup.exe HTTP/1.1\r\nHost: [::1]:" + std::to_string(server.port) + "\r\n\r\n",
            server.requests[0]);
}

TEST_F(HttpClientTest, HeadLinesEndWithLfAloneAndLoseEveryCr) {
  // "Content-Le\rngth" is a length line once its CR is dropped.
  EXPECT_EQ(DOWNLOAD_OK, Fetch({SendBytes("HTTP/1.1 200 \rOK\nServer: x\nContent-Le\rngth: 4\r\r\n\nbody")}));
  ExpectTarget("body");
  Lines lines = LogTexts();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("content length: 4", lines[1]);
}

TEST_F(HttpClientTest, LongHeadLineIsExaminedIn1024CharacterPieces) {
  // 3,000 characters: the second piece holds a length line not at its start, the
  // third piece starts with one; neither is a line of its own.
  std::string line = std::string(1030, 'a') + "Content-Length: 99";
  line += std::string(2048 - line.size(), 'b') + "Content-Length: 5";
  line += std::string(3000 - line.size(), 'c');
  ASSERT_EQ(3000u, line.size());
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(Head(line + "\r\n") + "12345")}));
  ExpectNoTarget();
  Lines lines = LogTexts();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("no content length in the response head", lines[1]);

  // A refused status line of 1,500 characters is logged as its first piece.
  Reports.clear();
  std::string status = "HTTP/1.1 200 OK" + std::string(1485, 'x');
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(status + "\r\nContent-Length: 1\r\n\r\nz")}));
  lines = LogTexts();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("http error : " + status.substr(0, 1024), lines.back());
}

TEST_F(HttpClientTest, LineOfExactly1024CharactersDoesNotEndTheHead) {
  // Its line end comes right behind the cut: the head goes on, and the lines
  // after it are head, not body.
  std::string cookie = "Set-Cookie: " + std::string(1024 - 12, 'k');
  ASSERT_EQ(1024u, cookie.size());
  EXPECT_EQ(DOWNLOAD_OK,
            Fetch({SendBytes(Head("Content-Length: 5\r\n" + cookie + "\r\nServer: x\r\n") + "12345")}));
  ExpectTarget("12345");
  // With bare line feeds, and with the length line after the long one.
  EXPECT_EQ(DOWNLOAD_OK,
            Fetch({SendBytes("HTTP/1.1 200 OK\n" + cookie + "\nContent-Length: 3\n\nabc")}));
  ExpectTarget("abc");
}

// Header lines of at most 1,000 characters after the status line and the
// length line, so that the whole head (the empty line included) is `size` bytes.
std::string HeadOfSize(size_t size, int contentLength) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(contentLength) + "\r\n";
  const std::string prefix = "X-Filler: ";
  const size_t frame = prefix.size() + 2;  // a filler line without its filling
  size_t room = size - 2 - head.size();     // the empty line comes last
  while (room > 2 * (frame + 1000)) {
    head += prefix + std::string(1000, 'f') + "\r\n";
    room -= frame + 1000;
  }
  // The rest in two lines, each shorter than 1,024 characters.
  size_t first = (room - 2 * frame) / 2;
  head += prefix + std::string(first, 'f') + "\r\n";
  head += prefix + std::string(room - 2 * frame - first, 'g') + "\r\n";
  return head + "\r\n";
}

// The whole head is bounded, whatever its shape: the 1,024-character line rule
// alone lets endless lines, or a line of nothing but CRs, run for ever.
TEST_F(HttpClientTest, HeadLongerThan64KibFailsWithoutAFile) {
  std::string lines;
  while (lines.size() < 3 * HEAD_SIZE_LIMIT) lines += "X-Filler: " + std::string(40, 'f') + "\r\n";
  const std::string endless[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + lines,
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Long: " + std::string(3 * HEAD_SIZE_LIMIT, 'l'),
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + std::string(3 * HEAD_SIZE_LIMIT, '\r'),
  };
  for (const std::string& head : endless) {
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(head), AwaitClientClose(30000)}));
    EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
    Lines logged = LogTexts();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ("response head longer than 65536 bytes", logged.back());
    ExpectNoTarget();
  }
}

TEST_F(HttpClientTest, HeadOfExactly64KibIsReadAndOneByteMoreIsRefused) {
  std::string head = HeadOfSize(HEAD_SIZE_LIMIT, 5);
  ASSERT_EQ(static_cast<size_t>(HEAD_SIZE_LIMIT), head.size());
  EXPECT_EQ(DOWNLOAD_OK, Fetch({SendBytes(head + "12345")}));
  ExpectTarget("12345");

  // One byte more, once in a filler line and once as a CR that is dropped.
  const std::string over[] = {HeadOfSize(HEAD_SIZE_LIMIT + 1, 5),
                              head.substr(0, head.size() - 2) + "\r\r\n"};
  for (const std::string& longer : over) {
    ASSERT_EQ(static_cast<size_t>(HEAD_SIZE_LIMIT + 1), longer.size());
    DeleteFileW(target.c_str());
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(longer + "12345")}));
    EXPECT_EQ(FAILED, Reports.back());
    Lines logged = LogTexts();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ("response head longer than 65536 bytes", logged.back());
    ExpectNoTarget();
  }
}

// A server that drips the head a byte at a time, each well within the receive
// time-out, is cut off by the head's own time limit (set small here; the
// client's is HEAD_TIME_LIMIT_MS).
TEST_F(HttpClientTest, HeadDrippedPastItsTimeLimitFails) {
  LoopbackScript drip = {SendBytes("HTTP/1.1 200 OK\r\nX-Drip: ")};
  for (int i = 0; i < 40; ++i) {
    drip.push_back(Pause(100));
    drip.push_back(SendBytes("d"));
  }
  drip.push_back(SendBytes("\r\nContent-Length: 1\r\n\r\nz"));
  ASSERT_TRUE(StartLoopbackServer(&server, drip));
  DownloadSettings.headTimeLimitMs = 300;
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(Wide(Url("/setup.exe")).c_str(), target.c_str(), RecordReport));
  EXPECT_TRUE(WaitLoopbackServer(&server, LOOPBACK_ACCEPT_TIMEOUT_MS));
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
  Lines logged = LogTexts();
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ("response head not complete after 300 ms", logged.back());
  ExpectNoTarget();
}

TEST_F(HttpClientTest, TwoLengthLinesCountOnlyWhenTheyAgree) {
  EXPECT_EQ(DOWNLOAD_OK, Fetch({SendBytes(Head("Content-Length: 6\r\ncontent-length: 6\r\n") + "abcdef")}));
  ExpectTarget("abcdef");
  DeleteFileW(target.c_str());
  EXPECT_EQ(DOWNLOAD_FAILED,
            Fetch({SendBytes(Head("Content-Length: 3\r\nContent-Length: 6\r\n") + "abcdef")}));
  ExpectNoTarget();
  EXPECT_EQ("content length refused: two different values", LogTexts().back());
}

TEST_F(HttpClientTest, ExplicitZeroLengthIsAnEmptyDownload) {
  EXPECT_EQ(DOWNLOAD_OK, Fetch({SendBytes(Head("Content-Length: 0\r\n"))}));
  ExpectTarget("");
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING, COMPLETE}),
            Reports);
  Lines lines = LogTexts();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ((Lines{lines[0], "content length: 0", "start down", "end down"}), lines);
}

// Without a validator a broken body cannot be continued: each later try asks
// for the whole file again (here nobody answers them), and the cut file goes.
TEST_F(HttpClientTest, BodyShorterThanAnnouncedIsTriedFiveTimesThenDeleted) {
  EXPECT_EQ(DOWNLOAD_FAILED,
            Fetch({SendBytes(Head("Content-Length: 10\r\n") + "abcd"), CloseConnection()}));
  ExpectNoTarget();
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING, L"40", CONTINUING,
                   CONTINUING, CONTINUING, CONTINUING, FAILED}),
            Reports);
  Lines lines = LogTexts();
  ASSERT_EQ(15u, lines.size());
  EXPECT_EQ((Lines{"end down", "download broke at byte 4 of 10: the connection was closed",
                   "connect error: 10061 at 127.0.0.1",
                   "try 2 of 5 from byte 0: failed"}),
            Lines(lines.begin() + 3, lines.begin() + 7));
  EXPECT_EQ((Lines{"try 5 of 5 from byte 0: failed", "data download-error : 0",
                   "partial download deleted at byte 4: it cannot be continued"}),
            Lines(lines.end() - 3, lines.end()));
}

TEST_F(HttpClientTest, BodyLongerThanAnnouncedIsCutAtTheLength) {
  EXPECT_EQ(DOWNLOAD_OK,
            Fetch({SendBytes(Head("Content-Length: 5\r\n") + "12345" + Pattern(20000))}));
  ExpectTarget("12345");
}

TEST_F(HttpClientTest, ResetInTheBodyIsAReceiveError) {
  std::string body = Pattern(10000);
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(Head("Content-Length: 10000\r\n") + body.substr(0, 100)),
                                    Pause(300), ResetConnection()}));
  Lines lines = LogTexts();
  ASSERT_EQ(16u, lines.size());
  EXPECT_EQ((Lines{"data download error 10054", "end down",
                   "download broke at byte 100 of 10000: the connection was reset by the server (10054)"}),
            Lines(lines.begin() + 3, lines.begin() + 6));
  EXPECT_EQ("data download-error : 10054", lines[14]);
  EXPECT_EQ(FAILED, Reports.back());
}

// A head without a length that can be taken is no download: no file, a
// failure, and why. So is one with a NUL byte, wherever it stands.
TEST_F(HttpClientTest, HeadWithoutAUsableLengthFailsWithoutAFile) {
  struct Case {
    LoopbackScript script;
    Lines logged;  // after the "url: " line
  };
  const Case cases[] = {
      {{SendBytes(Head("Content-Length : 4\r\n") + "body")}, {"no content length in the response head"}},
      // A chunked body would be written with its chunk sizes as if they were the file's bytes.
      {{SendBytes(Head("Content-Length: 9\r\nTransfer-Encoding: chunked\r\n") + "4\r\nbody\r\n0\r\n\r\n")},
       {"response head refused: a transfer coding is named"}},
      {{SendBytes(Head("Server: x\r\n") + "body")}, {"no content length in the response head"}},
      {{SendBytes(Head("Content-Length: 00000000000000000004\r\n") + "body")},
       {"content length refused: more digits or a larger value than a length may have"}},
      // Digits and nothing else (more forms, on every road, in the resume table).
      {{SendBytes(Head("Content-Length: 0x4\r\n") + "body")}, {"content length refused: not a decimal number"}},
      {{SendBytes(Head("Content-Length: -5\r\n") + "body")}, {"content length refused: not a decimal number"}},
      {{SendBytes(Head("Content-Length: 4, 40\r\n") + "body")}, {"content length refused: two different values"}},
      {{SendBytes(Head(std::string("Content-Length: 4\0" "0\r\n", 21)) + "body")},
       {"response head refused: a NUL byte in the line that begins \"Content-Length: 4\""}},
      // Closed at once, and reset at once, before any line: no head at all.
      {{CloseConnection()}, {"response head cut off before its empty line"}},
      {{ResetConnection()}, {"error: 10054", "response head cut off before its empty line"}},
  };
  for (const Case& each : cases) {
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch(each.script));
    EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
    Lines lines = LogTexts();
    ASSERT_GE(lines.size(), each.logged.size());
    EXPECT_EQ(each.logged, Lines(lines.end() - each.logged.size(), lines.end()));
    ExpectNoTarget();
  }
  // Nineteen digits are still a length, and its name is read in any case.
  EXPECT_EQ(DOWNLOAD_OK, Fetch({SendBytes(Head("content-LENGTH:0000000000000000004\r\n") + "body")}));
  ExpectTarget("body");
}

// A length that no disk holds (1 PiB) fails before the body, at once and for
// good: no file, no second try, both numbers in the run log.
TEST_F(HttpClientTest, LengthBeyondTheFreeDiskSpaceFailsBeforeTheBody) {
  const std::string petabyte = std::to_string(1LL << 50);
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(Head("Content-Length: " + petabyte + "\r\nETag: \"v1\"\r\n") +
                                              Pattern(5000)),
                                    AwaitClientClose(30000)}));
  ExpectNoTarget();
  EXPECT_EQ(1u, server.requests.size()) << "not tried again";
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING, FAILED}), Reports);
  Lines lines = LogTexts();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("content length: " + petabyte, lines[1]);
  const std::string room = "disk full: " + petabyte + " bytes to come, ";
  ASSERT_EQ(0u, lines[2].find(room)) << lines[2];
  ULARGE_INTEGER free;
  ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &free, NULL, NULL));
  // The folder's free bytes, give or take what others wrote meanwhile.
  long long logged = std::stoll(lines[2].substr(room.size()));
  EXPECT_LT(std::llabs(logged - static_cast<long long>(free.QuadPart)), 1LL << 30) << lines[2];
  EXPECT_EQ(", 0 in the file it replaces", lines[2].substr(lines[2].find(" free") + 5));
  EXPECT_EQ("data download-error : 112", lines[3]);  // ERROR_DISK_FULL
}

// The old file of the same name, which the new one replaces, frees its bytes
// for it: a length beyond the free bytes by less than the old file's size
// fits. An old file with a second name keeps its bytes, so it frees none. The
// old file is 64 GiB, sparse on the Linux side; the lengths leave 32 GiB for
// what others write meanwhile.
TEST_F(HttpClientTest, TheFileThatADownloadReplacesCountsAsFreeSpace) {
  const long long old = 1LL << 36;
  const std::wstring link = target + L".link";
  ULARGE_INTEGER free;
  ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &free, NULL, NULL));
  const std::string beyond = std::to_string(static_cast<long long>(free.QuadPart) + old / 2);
  struct Case {
    std::string length;
    bool secondName;
    std::string logged;  // the line behind "content length: ..."
  } cases[] = {
      {std::to_string(1LL << 50), false, "disk full: 1125899906842624 bytes to come, "},
      {beyond, false, "start down"},
      {beyond, true, "disk full: " + beyond + " bytes to come, "},
  };
  for (const Case& each : cases) {
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER end;
    end.QuadPart = old;
    EXPECT_TRUE(SetFilePointerEx(file, end, NULL, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
    if (each.secondName) {
      ASSERT_TRUE(CreateHardLinkW(link.c_str(), target.c_str(), NULL));
    }
    DeleteRunLog();
    ASSERT_NE(nullptr, OpenRunLogFile());
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch({SendBytes(Head("Content-Length: " + each.length + "\r\n") + "abc"),
                                      CloseConnection()}));
    DeleteFileW(link.c_str());
    Lines lines = LogTexts();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(0u, lines[2].find(each.logged)) << lines[2];
    if (each.logged != "start down") {
      const std::string counted = each.secondName ? "0" : std::to_string(old);
      EXPECT_EQ(", " + counted + " in the file it replaces", lines[2].substr(lines[2].find(" free") + 5));
    }
  }
}

// A body past 4 GiB on setup.exe's own road, broken past 4 GiB and continued:
// its length, the range asked for, the file's positions and the progress are
// held in 64 bits. The server makes the body as it sends it; the file's size,
// and bytes on both sides of 4 GiB, of the break and at its end, are checked
// (reading all of it back would double the test's time).
TEST_F(HttpClientTest, BodyPast4GibBrokenPast4GibIsContinuedInPlace) {
  const long long size = (1LL << 32) + (1 << 20) + 1;
  const long long broken = (1LL << 32) + (1 << 19) + 3;
  const std::string length = std::to_string(size), from = std::to_string(broken);
  ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"", {}, [&](const std::string& request, int connection) {
    if (connection == 0)
      return LoopbackScript{SendBytes(Head("Content-Length: " + length + "\r\nETag: \"big\"\r\n")),
                            SendPattern(broken), CloseConnection()};
    if (request.find("\r\nRange: bytes=" + from + "-\r\nIf-Range: \"big\"\r\n") == std::string::npos)
      return LoopbackScript{SendBytes("HTTP/1.1 500 Not the range asked for\r\n\r\n"), CloseConnection()};
    return LoopbackScript{SendBytes("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + from + "-" +
                                    std::to_string(size - 1) + "/" + length + "\r\nContent-Length: " +
                                    std::to_string(size - broken) + "\r\nETag: \"big\"\r\n\r\n"),
                          SendPattern(size, broken), CloseConnection()};
  }}}, 2));
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(Url("/big.bin")).c_str(), target.c_str(), RecordReport));
  EXPECT_TRUE(WaitLoopbackServer(&server, LOOPBACK_ACCEPT_TIMEOUT_MS));
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  ASSERT_TRUE(GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &attributes));
  EXPECT_EQ(size, (static_cast<long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow);
  HANDLE file = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  for (long long at : {0LL, (1LL << 32) - 65536, (1LL << 32) - 4, 1LL << 32, broken - 8, (1LL << 32) + 9 * 65536 + 5,
                       size - 16}) {
    char bytes[16] = {};
    DWORD got = 0;
    LARGE_INTEGER position;
    position.QuadPart = at;
    EXPECT_TRUE(SetFilePointerEx(file, position, NULL, FILE_BEGIN) && ReadFile(file, bytes, 16, &got, NULL));
    EXPECT_EQ(16u, got) << at;
    EXPECT_TRUE(PatternAt(at, 16) == std::string(bytes, 16)) << "the bytes at " << at;
  }
  CloseHandle(file);
  // Every whole percentage once, in order: the continued try goes on from the kept bytes' 99.
  std::vector<std::wstring> percents;
  for (const std::wstring& report : Reports)
    if (!report.empty() && iswdigit(report[0])) percents.push_back(report);
  ASSERT_EQ(101u, percents.size());
  for (int p = 0; p <= 100; ++p) EXPECT_EQ(std::to_wstring(p), percents[p]);
  EXPECT_EQ(COMPLETE, Reports.back());
  Lines lines = LogTexts();
  ASSERT_EQ(9u, lines.size());
  EXPECT_EQ((Lines{"content length: " + length, "start down", "end down",
                   "download broke at byte " + from + " of " + length + ": the connection was closed",
                   "try 2 of 5 from byte " + from + ": 206, continuing", "content length: " + std::to_string(size - broken),
                   "start down", "end down"}),
            Lines(lines.begin() + 1, lines.end()));
  DeleteFileW(target.c_str());
}

// The one test that waits the real receive time-out.
TEST_F(HttpClientTest, SilentServerTimesOutInTheHead) {
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch({AwaitClientClose(HTTP_RECEIVE_TIMEOUT_MS + 15000)}));
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
  Lines lines = LogTexts();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("error: 10060", lines[1]);
  EXPECT_EQ("response head cut off before its empty line", lines[2]);
  ExpectNoTarget();
}

TEST_F(HttpClientTest, RefusedConnectionStopsAtConnecting) {
  unsigned short port = UnusedLoopbackPort();
  ASSERT_NE(0, port);
  std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/setup.exe";
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(url.c_str(), target.c_str(), RecordReport));
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING}), Reports);
  Lines lines = LogTexts();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("connect error: 10061 at 127.0.0.1", lines[1]);
  ExpectNoTarget();
}

// Neither case asks a name server: an empty host is not resolved at all, and an
// unknown service name fails in the local services table.
TEST_F(HttpClientTest, ResolutionFailuresStopAtLookingUp) {
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(L"http:///setup.exe", target.c_str(), RecordReport));
  EXPECT_EQ((Steps{PREPARING, RESOLVING}), Reports);
  Lines lines = LogTexts();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("empty host, not resolved", lines[1]);

  Reports.clear();
  EXPECT_EQ(DOWNLOAD_FAILED,
            DownloadToFile(L"http://127.0.0.1:nope/setup.exe", target.c_str(), RecordReport));
  EXPECT_EQ((Steps{PREPARING, RESOLVING}), Reports);
  lines = LogTexts();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("url: http://127.0.0.1:nope/setup.exe", lines[2]);
  EXPECT_EQ("getaddrinfo failed 10109,10109,10109", lines[3]);
  ExpectNoTarget();
}

TEST_F(HttpClientTest, TargetInAMissingFolderFailsWithThePathError) {
  target = folder + L"download-no-such-folder\\setup.exe";
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(FileResponse("abc")));
  EXPECT_EQ(FAILED, Reports.back());
  Lines lines = LogTexts();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("content length: 3", lines[1]);
  EXPECT_EQ(0u, lines[2].find("file not created afresh. 3: ")) << lines[2];
  EXPECT_EQ("data download-error : 3", lines[3]);  // ERROR_PATH_NOT_FOUND
}

}  // namespace

namespace {

// The target is the client end of a named pipe whose reader takes the first
// piece whole, 1,000 bytes of the second, and then goes away: the second write
// fails part-way. (A byte-range lock does not stop writes under Wine, and a
// full disk is out of reach here; a pipe write blocks until it is read, so the
// order of events is fixed without any timing.)
HANDLE PipeServer;
DWORD PipeTaken;

DWORD WINAPI TakeOneAndAPieceThenLeave(LPVOID) {
  char buffer[4096];
  DWORD got = 0;
  if (ConnectNamedPipe(PipeServer, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) {
    for (int reads = 0; reads < 1000 && PipeTaken < 4096; ++reads) {
      if (!ReadFile(PipeServer, buffer, 4096 - PipeTaken, &got, NULL)) break;
      PipeTaken += got;
    }
    if (ReadFile(PipeServer, buffer, 1000, &got, NULL)) PipeTaken += got;
    DisconnectNamedPipe(PipeServer);
  }
  return 0;
}

TEST_F(HttpClientTest, FailedWriteIsLogged) {
  // The download clients make their files afresh, never on a pipe: the body
  // writer that both share is given the pipe's end directly.
  std::wstring pipe = L"\\\\.\\pipe\\download-failed-write-" + std::to_wstring(GetCurrentProcessId());
  PipeTaken = 0;
  PipeServer = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 512, 512, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, PipeServer);
  HANDLE reader = CreateThread(NULL, 0, TakeOneAndAPieceThenLeave, NULL, 0, NULL);
  ASSERT_NE((HANDLE)NULL, reader);
  HANDLE writer = CreateFileW(pipe.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  std::string piece = Pattern(4096);
  DWORD failure = 0;
  bool first = WriteBodyPieceAt(writer, 0, piece.data(), 4096, &failure);
  bool second = WriteBodyPieceAt(writer, 4096, piece.data(), 4096, &failure);
  bool readerEnded = WaitForSingleObject(reader, 30000) == WAIT_OBJECT_0;
  CloseHandle(writer);
  CloseHandle(reader);
  CloseHandle(PipeServer);

  EXPECT_TRUE(readerEnded);
  EXPECT_EQ(5096u, PipeTaken);
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_EQ(233u, failure);  // ERROR_PIPE_NOT_CONNECTED
  Lines lines = LogTexts();
  ASSERT_EQ(1u, lines.size());
  // How much of the piece the platform counts as written may vary.
  EXPECT_EQ(0u, lines[0].find("data write error 233 at byte 4096: ")) << lines[0];
  EXPECT_NE(std::string::npos, lines[0].find(" of 4096 bytes written")) << lines[0];
}

// A piece written by its offset past 4 GiB (as ranges write) lands there: the
// file ends behind it and holds it there. Sparse on the Linux side.
TEST_F(HttpClientTest, PieceWrittenAtAnOffsetPast4GibLandsThere) {
  const long long at = (1LL << 32) + 5;
  HANDLE file = CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD failure = 0, got = 0;
  char bytes[4] = {};
  LARGE_INTEGER size = {}, position = {};
  position.QuadPart = at;
  EXPECT_TRUE(WriteBodyPieceAt(file, at, "abc", 3, &failure));
  EXPECT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_TRUE(SetFilePointerEx(file, position, NULL, FILE_BEGIN) && ReadFile(file, bytes, 4, &got, NULL));
  CloseHandle(file);
  EXPECT_EQ(at + 3, size.QuadPart);
  EXPECT_EQ("abc", std::string(bytes, got));
}

}  // namespace
