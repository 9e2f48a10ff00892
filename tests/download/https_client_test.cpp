// The HTTPS client against local TLS servers (tests/harness/tls_servers.py runs
// this program): the whole download, the answers it refuses, the certificates
// it refuses, the time limit, and the proxy from the user's Internet settings.
#include <gtest/gtest.h>

#include <algorithm>

#include "download/http_client.h"
#include "download/download_file.h"
#include "download/https_client.h"
#include "download/https_protocol.h"
#include "log/run_log.h"
#include "download_reports.h"
#include "loopback_server.h"
#include "test_files.h"
#include "tls_test_servers.h"

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<std::wstring> Steps;
typedef std::vector<std::string> Lines;

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::string Pattern(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return body;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

class HttpsClientTest : public ::testing::Test {
 protected:
  std::wstring target;

  void SetUp() override {
    ASSERT_TRUE(TlsServersRunning()) << "run through tests/harness/tls_servers.py (ctest does)";
    ASSERT_TRUE(ImportTestCa());
    Reports.clear();
    ASSERT_TRUE(SetLogLocale());
    DownloadSettings.pausePercent = 0;
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring name = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    wsprintfW(RunLogPath, L"%shttps-%s-%lu.log", temp, name.c_str(), GetCurrentProcessId());
    target = std::wstring(temp) + L"https-" + name + L".bin";
    DeleteFileW(target.c_str());
    ASSERT_NE(nullptr, OpenRunLogFile());
  }

  void TearDown() override {
    if (HasFailure()) {
      std::string log;
      for (const std::string& line : LogTexts()) log += "  " + line + "\n";
      ADD_FAILURE() << "the run log:\n" << log;
    }
    ClearUserProxySettings();
    DownloadSettings = DownloadTuning{HTTP_RECEIVE_TIMEOUT_MS, HEAD_TIME_LIMIT_MS, 100, true, RANGE_HEAD_LIMIT_MS};
    DeleteRunLog();
    DeleteFileW(target.c_str());
  }

  int Fetch(const std::string& url, int redirects = 0) {
    Reports.clear();
    return DownloadToFile(Wide(url).c_str(), target.c_str(), RecordReport, DownloadLimits{1, redirects});
  }

  // Kept off the library's automatic proxy road, which Wine's library takes
  // without the user's settings: the road of systems before Windows 8.1.
  int FetchOnOlderProxyRoad(const std::string& url) {
    DownloadSettings.mayUseAutomaticProxy = false;
    int result = Fetch(url);
    DownloadSettings.mayUseAutomaticProxy = true;
    return result;
  }

  Lines LogTexts() { return RunLogTexts(RunLogPath); }

  std::string LastLogLine() {
    Lines lines = LogTexts();
    return lines.empty() ? "(empty log)" : lines.back();
  }

  int CountLogLines(const std::string& text) {
    int count = 0;
    for (const std::string& line : LogTexts()) count += line == text ? 1 : 0;
    return count;
  }

  void ExpectNoTarget() { EXPECT_FALSE(FileExists(target)) << "a file was left"; }

  void ExpectTarget(const std::string& bytes) {
    ASSERT_TRUE(FileExists(target)) << "no target file";
    std::string content = ReadFileBytes(target);
    EXPECT_EQ(bytes.size(), content.size());
    EXPECT_TRUE(bytes == content) << "the target's bytes differ";
    HANDLE exclusive = CreateFileW(target.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive) << "the target is still open";
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
  }
};

// The whole road of a good download: the request, every step text and
// percentage in order, every log line, the file's bytes.
TEST_F(HttpsClientTest, DownloadReportsEveryStepAndWritesTheExactFile) {
  std::string body = Pattern(1000000);
  ASSERT_TRUE(ServeTlsRoute("/dir/setup.exe?lang=zh&v=2", TlsFileResponse(body)));
  std::string url = TlsUrl(TLS_TRUSTED, "/dir/setup.exe?lang=zh&v=2");
  EXPECT_EQ(DOWNLOAD_OK, Fetch(url));
  ExpectTarget(body);

  std::vector<TlsRequest> requests = TlsRequests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("trusted", requests[0].server);
  EXPECT_TRUE(StartsWith(requests[0].bytes, "GET /dir/setup.exe?lang=zh&v=2 HTTP/1.1\r\n")) << requests[0].bytes;
  EXPECT_NE(std::string::npos, requests[0].bytes.find("\r\nHost: localhost:" + std::to_string(TlsPort(TLS_TRUSTED)) +
                                                      "\r\n"));

  ASSERT_GE(Reports.size(), 8u);
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING}),
            Steps(Reports.begin(), Reports.begin() + 6));
  EXPECT_EQ(COMPLETE, Reports.back());
  std::vector<int> percents;
  for (size_t i = 6; i + 1 < Reports.size(); ++i) percents.push_back(std::stoi(Reports[i]));
  ASSERT_FALSE(percents.empty());
  EXPECT_LE(percents.size(), 101u);
  EXPECT_EQ(100, percents.back());
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_LT(percents[i - 1], percents[i]);

  EXPECT_EQ((Lines{"url: " + url, "https proxy: the system's automatic settings", "content length: 1000000",
                   "start down", "end down"}),
            LogTexts());
}

TEST_F(HttpsClientTest, EmptyAndOverlongBodiesEndAtTheAnnouncedLength) {
  ASSERT_TRUE(ServeTlsRoute("/empty", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  ASSERT_TRUE(ServeTlsRoute("/longer", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n12345" + Pattern(20000)));
  EXPECT_EQ(DOWNLOAD_OK, Fetch(TlsUrl(TLS_TRUSTED, "/empty")));
  ExpectTarget("");
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, DOWNLOADING, COMPLETE}), Reports);
  EXPECT_EQ(DOWNLOAD_OK, Fetch(TlsUrl(TLS_TRUSTED, "/longer")));
  ExpectTarget("12345");
}

// Only a 200 answer counts; without redirects allowed a redirect is refused as
// any other status, to plain HTTP or not, and nothing is asked at its target.
// Allowed, one is followed, from http:// on to https:// too, never from
// https:// down to http://.
TEST_F(HttpsClientTest, EveryStatusBut200FailsWithoutAFileAndNoRedirectIsFollowed) {
  std::string elsewhere = TlsUrl(TLS_TRUSTED, "/elsewhere.exe");
  ASSERT_TRUE(ServeTlsRoute("/elsewhere.exe", TlsFileResponse("moved here")));
  ASSERT_TRUE(ServeTlsRoute("/moved", "HTTP/1.1 302 Found\r\nLocation: " + elsewhere + "\r\nContent-Length: 0\r\n\r\n"));
  ASSERT_TRUE(ServeTlsRoute("/plain", "HTTP/1.1 301 Moved Permanently\r\nLocation: http://localhost:" +
                                          std::to_string(TlsPort(TLS_TRUSTED)) +
                                          "/elsewhere.exe\r\nContent-Length: 0\r\n\r\n"));
  ASSERT_TRUE(ServeTlsRoute("/partial", "HTTP/1.1 206 Partial Content\r\nContent-Length: 2\r\n\r\nok"));
  struct Case {
    std::string path, logged;
  };
  const Case cases[] = {
      {"/missing", "http error : HTTP/1.1 404 Not Found"},
      {"/moved", "http error : HTTP/1.1 302 Found"},
      {"/plain", "http error : HTTP/1.1 301 Moved Permanently"},
      {"/partial", "http error : HTTP/1.1 206 Partial Content"},
  };
  for (const Case& each : cases) {
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, each.path))) << each.path;
    EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports) << each.path;
    EXPECT_EQ(each.logged, LastLogLine());
    ExpectNoTarget();
  }
  std::vector<TlsRequest> requests = TlsRequests();
  ASSERT_EQ(4u, requests.size()) << "a redirect's target was asked";
  for (size_t i = 0; i < requests.size(); ++i)
    EXPECT_TRUE(StartsWith(requests[i].bytes, "GET " + cases[i].path + " ")) << requests[i].bytes;

  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, "/plain"), 9));
  EXPECT_EQ("redirect to \"http://localhost:" + std::to_string(TlsPort(TLS_TRUSTED)) +
                "/elsewhere.exe\" refused: https to http",
            LastLogLine());
  ExpectNoTarget();
  EXPECT_EQ(DOWNLOAD_OK, Fetch(TlsUrl(TLS_TRUSTED, "/moved"), 1));
  ExpectTarget("moved here");
  DeleteFileW(target.c_str());
  LoopbackServer plain = {};
  ASSERT_TRUE(StartLoopbackServer(&plain, {SendBytes("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere +
                                                     "\r\nContent-Length: 0\r\n\r\n")}));
  EXPECT_EQ(DOWNLOAD_OK, Fetch(LoopbackUrl(&plain, "/to-tls"), 1));
  EXPECT_TRUE(WaitLoopbackServer(&plain, LOOPBACK_ACCEPT_TIMEOUT_MS));
  ExpectTarget("moved here");
  Lines lines = LogTexts();
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "redirect 1 of 1: 307 to " + elsewhere));
  requests = TlsRequests();
  ASSERT_EQ(8u, requests.size());
  EXPECT_TRUE(StartsWith(requests[7].bytes, "GET /elsewhere.exe ")) << requests[7].bytes;
}

// A cut body, or one whose size nobody announced, leaves no file that could
// pass for the installer.
TEST_F(HttpsClientTest, ShortOrUnannouncedBodiesFailWithoutAFile) {
  // Wine's library waits out the receive time-out at a closed TLS connection: a short one here.
  DownloadSettings.receiveTimeoutMs = 1000;
  ASSERT_TRUE(ServeTlsRoute("/short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd"));
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, "/short")));
  ExpectNoTarget();
  EXPECT_EQ(FAILED, Reports.back());
  Lines lines = LogTexts();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ((Lines{"content length: 10", "start down"}), Lines(lines.begin() + 2, lines.begin() + 4));
  EXPECT_EQ("try 5 of 5 from byte 0: 200, starting over", lines[lines.size() - 8]) << "no validator: each try anew";
  EXPECT_TRUE(StartsWith(lines[lines.size() - 2], "data download-error : ")) << lines[lines.size() - 2];
  EXPECT_EQ("partial download deleted at byte 4: it cannot be continued", lines.back());

  ASSERT_TRUE(ServeTlsRoute("/unannounced", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody"));
  ASSERT_TRUE(ServeTlsRoute("/chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n\r\n"));
  ASSERT_TRUE(ServeTlsRoute("/negative", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nbody"));
  for (const char* path : {"/unannounced", "/chunked"}) {
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, path))) << path;
    EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports) << path;
    EXPECT_EQ("no content length in the response head", LastLogLine()) << path;
    ExpectNoTarget();
  }
  // A negative length is a failure either way: the library may refuse the head,
  // or the body cannot match it.
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, "/negative")));
  EXPECT_EQ(FAILED, Reports.back());
  ExpectNoTarget();
}

// The library reads the head, the client reads its numbers as the Winsock road
// does: nineteen digits are a length, twenty are not, leading zeros or not.
TEST_F(HttpsClientTest, LengthsFollowTheDigitLimitOfTheWinsockRoad) {
  ASSERT_TRUE(ServeTlsRoute("/nineteen", "HTTP/1.1 200 OK\r\nContent-Length: 0000000000000000004\r\n\r\nbody"));
  ASSERT_TRUE(ServeTlsRoute("/twenty", "HTTP/1.1 200 OK\r\nContent-Length: 00000000000000000004\r\n\r\nbody"));
  EXPECT_EQ(DOWNLOAD_OK, Fetch(TlsUrl(TLS_TRUSTED, "/nineteen")));
  ExpectTarget("body");
  DeleteFileW(target.c_str());
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, "/twenty")));
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
  EXPECT_EQ("content length refused: more digits or a larger value than a length may have", LastLogLine());
  ExpectNoTarget();
}

// Certificates are always checked: an issuer that is not trusted, a certificate
// for another name (an address by number included), an expired one. The
// handshake fails, so no request is sent and nothing is written; the log names
// the library's code and its meaning.
TEST_F(HttpsClientTest, RefusedCertificatesFailBeforeTheRequest) {
  struct Case {
    const char* what;
    std::string url;
  };
  const Case cases[] = {
      {"untrusted issuer", TlsUrl(TLS_UNTRUSTED, "/setup.exe")},
      {"another name", TlsUrl(TLS_WRONG_NAME, "/setup.exe")},
      {"address by number", "https://127.0.0.1:" + std::to_string(TlsPort(TLS_TRUSTED)) + "/setup.exe"},
      {"expired", TlsUrl(TLS_EXPIRED, "/setup.exe")},
  };
  ASSERT_TRUE(ServeTlsRoute("/setup.exe", TlsFileResponse("installer")));
  for (const Case& each : cases) {
    EXPECT_EQ(DOWNLOAD_FAILED, Fetch(each.url)) << each.what;
    ExpectNoTarget();
    EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING}), Reports) << each.what;
    Lines lines = LogTexts();
    ASSERT_FALSE(lines.empty());
    // Wine reports each of them as a failed handshake; Windows names the
    // certificate's fault (12175 with flags, or 12037/12038/12045).
    std::string line = lines.back();
    if (StartsWith(line, "certificate refused: ")) line = lines[lines.size() - 2];
    ASSERT_TRUE(StartsWith(line, "https send failed ")) << each.what << ": " << line;
    unsigned long code = strtoul(line.c_str() + 18, NULL, 10);
    EXPECT_TRUE(code == 12157 || code == 12175 || code == 12037 || code == 12038 || code == 12045)
        << each.what << ": " << line;
    EXPECT_EQ("https send failed " + std::to_string(code) + ": " + WinHttpErrorMeaning(code), line);
  }
  EXPECT_TRUE(TlsRequests().empty()) << "a request went over a refused connection";

  // The same server with its CA trusted: the refusals were the certificates'.
  EXPECT_EQ(DOWNLOAD_OK, Fetch(TlsUrl(TLS_TRUSTED, "/setup.exe")));
  ExpectTarget("installer");
}

TEST_F(HttpsClientTest, RefusedConnectionStopsAtConnecting) {
  unsigned short port = UnusedLoopbackPort();
  ASSERT_NE(0, port);
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch("https://localhost:" + std::to_string(port) + "/setup.exe"));
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING}), Reports);
  EXPECT_EQ("https send failed 12029: could not connect to the server", LastLogLine());
  ExpectNoTarget();
}

// Refused while splitting the address: nothing is started, nothing but the
// address and the refusal is logged.
TEST_F(HttpsClientTest, AddressRefusalsStartNothing) {
  struct Case {
    std::string url;
    int result;
    std::string logged;  // after the "url: " line; empty for none
  };
  const Case cases[] = {
      {"HTTPS://localhost/setup.exe", DOWNLOAD_BAD_SCHEME, ""},
      {"https://localhost", DOWNLOAD_NO_PATH, ""},
      {"https://:443/setup.exe", DOWNLOAD_FAILED, "url refused: no host"},
      {"https://localhost:0/setup.exe", DOWNLOAD_FAILED, "url refused: port 0 is not a number from 1 to 65535"},
      {"https://localhost:65536/setup.exe", DOWNLOAD_FAILED, "url refused: port 65536 is not a number from 1 to 65535"},
      {"https://localhost:https/setup.exe", DOWNLOAD_FAILED, "url refused: port https is not a number from 1 to 65535"},
      {"https://localhost:123456/setup.exe", DOWNLOAD_FAILED, "url refused: port longer than 5 characters"},
      {"https://localhost/" + std::string(1023, 'p'), DOWNLOAD_FAILED, "url refused: path longer than 1023 bytes"},
  };
  for (const Case& each : cases) {
    DeleteRunLog();
    ASSERT_NE(nullptr, OpenRunLogFile());
    EXPECT_EQ(each.result, Fetch(each.url)) << each.url;
    EXPECT_EQ(Steps{PREPARING}, Reports) << each.url;
    Lines expected{"url: " + each.url};
    if (!each.logged.empty()) expected.push_back(each.logged);
    EXPECT_EQ(expected, LogTexts());
  }
  ExpectNoTarget();
}

// The one test that waits the real receive time-out, twice: a server that
// falls silent before its head, and one that falls silent in the body.
TEST_F(HttpsClientTest, SilentServerTimesOutAfterTheReceiveLimit) {
  ASSERT_TRUE(ServeTlsRoute("/silent", "", true));
  ASSERT_TRUE(ServeTlsRoute("/stalled", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd", true));
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, "/silent")));
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
  // The library's time-out code, or the network's one that some versions hand on.
  std::string line = LastLogLine();
  std::string code = line.substr(21, 5);
  EXPECT_TRUE(code == "12002" || code == "10060") << line;
  EXPECT_EQ("https receive failed " + code + ": timed out: the server did not answer in time", line);
  ExpectNoTarget();

  // The body's silence is retried: each try waits out a shorter limit here.
  DownloadSettings.receiveTimeoutMs = 1000;
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch(TlsUrl(TLS_TRUSTED, "/stalled")));
  EXPECT_EQ(FAILED, Reports.back());
  Lines lines = LogTexts();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ((Lines{"data download error " + code, "end down",
                   "download broke at byte 4 of 10: timed out: the server did not answer in time (" + code + ")",
                   "data download-error : " + code, "partial download deleted at byte 4: it cannot be continued"}),
            Lines(lines.end() - 5, lines.end()));
  ExpectNoTarget();
}

// Systems before Windows 8.1 follow the user's Internet settings: a fixed proxy
// carries the connection (a tunnel, so the certificate is still the server's),
// its bypass list is honoured, and without a proxy the connection is direct.
TEST_F(HttpsClientTest, UsersProxySettingsCarryTheConnectionOnOlderSystems) {
  ASSERT_TRUE(ServeTlsRoute("/setup.exe", TlsFileResponse("through the proxy")));
  std::string url = TlsUrl(TLS_TRUSTED, "/setup.exe");
  std::string proxy = "127.0.0.1:" + std::to_string(TlsProxyPort());
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, proxy, "", ""));
  EXPECT_EQ(DOWNLOAD_OK, FetchOnOlderProxyRoad(url));
  ExpectTarget("through the proxy");
  EXPECT_EQ(Lines{"CONNECT localhost:" + std::to_string(TlsPort(TLS_TRUSTED)) + " HTTP/1.1"}, TlsProxyRequests());
  Lines lines = LogTexts();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("https proxy: " + proxy + " from the internet settings", lines[1]);

  // "<local>" bypasses names without a dot, "localhost" among them.
  DeleteFileW(target.c_str());
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, proxy, "<local>", ""));
  EXPECT_EQ(DOWNLOAD_OK, FetchOnOlderProxyRoad(url));
  ExpectTarget("through the proxy");
  EXPECT_EQ(1u, TlsProxyRequests().size()) << "the bypassed address went through the proxy";

  DeleteFileW(target.c_str());
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT, "", "", ""));
  EXPECT_EQ(DOWNLOAD_OK, FetchOnOlderProxyRoad(url));
  EXPECT_EQ(1u, TlsProxyRequests().size());
  EXPECT_EQ(3u, TlsRequests().size());
  EXPECT_EQ(2, CountLogLines("https proxy: " + proxy + " from the internet settings"));
  EXPECT_EQ(1, CountLogLines("https proxy: winhttp's default"));
}

// A proxy script named in the user's settings decides per address.
TEST_F(HttpsClientTest, ProxyScriptFromTheUsersSettingsNamesTheProxy) {
  ASSERT_TRUE(ServeTlsRoute("/setup.exe", TlsFileResponse("named by the script")));
  std::string proxy = "127.0.0.1:" + std::to_string(TlsProxyPort());
  LoopbackServer scripts = {};
  ASSERT_TRUE(StartLoopbackServer(
      &scripts, FileResponse("function FindProxyForURL(url, host) { return \"PROXY " + proxy + "\"; }\n")));
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_SCRIPT, "", "", LoopbackUrl(&scripts, "/proxy.pac")));
  std::string url = TlsUrl(TLS_TRUSTED, "/setup.exe");
  EXPECT_EQ(DOWNLOAD_OK, FetchOnOlderProxyRoad(url));
  EXPECT_TRUE(WaitLoopbackServer(&scripts, LOOPBACK_ACCEPT_TIMEOUT_MS));
  ExpectTarget("named by the script");
  EXPECT_EQ(1u, TlsProxyRequests().size());
  Lines lines = LogTexts();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("https proxy: " + proxy + " from the proxy script", lines[1]);
}

// http:// through a proxy: a proxy that asks for credentials is not answered,
// the download fails and the log says why; an address on the bypass list goes
// directly, through setup.exe's own client.
TEST_F(HttpsClientTest, HttpProxyAskingForAuthenticationFailsAndTheBypassListGoesDirect) {
  LoopbackServer proxy = {};
  ASSERT_TRUE(StartLoopbackServer(&proxy, {SendBytes("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: "
                                                     "Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n")}));
  std::string address = "127.0.0.1:" + std::to_string(proxy.port);
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, "https=other:1;http=" + address, "", ""));
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch("http://127.0.0.2:9/setup.exe"));
  EXPECT_TRUE(WaitLoopbackServer(&proxy, LOOPBACK_ACCEPT_TIMEOUT_MS));
  ExpectNoTarget();
  EXPECT_EQ((Steps{PREPARING, RESOLVING, CONNECTING, SENDING, PARSING, FAILED}), Reports);
  EXPECT_EQ((Lines{"url: http://127.0.0.2:9/setup.exe", "http proxy: " + address + " from the internet settings",
                   "http error : HTTP/1.1 407 Proxy Authentication Required",
                   "the proxy asks for authentication, which setup.exe does not give"}),
            LogTexts());
  ASSERT_EQ(1u, proxy.requests.size());
  EXPECT_TRUE(StartsWith(proxy.requests[0], "GET ")) << proxy.requests[0];

  DeleteRunLog();
  ASSERT_NE(nullptr, OpenRunLogFile());
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, "http=" + address, "<local>;127.0.0.*", ""));
  EXPECT_EQ(DOWNLOAD_FAILED, Fetch("http://127.0.0.2:9/setup.exe"));
  EXPECT_EQ((Lines{"url: http://127.0.0.2:9/setup.exe", "connect error: 10061 at 127.0.0.2"}), LogTexts());
}

// ---- Breaks, retries and continuations, on every road ------------------------

// The same scripted server behind each client: setup.exe's own (direct
// http://), WinHTTP through the user's proxy (http://), WinHTTP over TLS
// (https://, the TLS server relaying to it).
enum Road { DIRECT, PROXY, TLS };

struct ResumeCase {
  const char* what;
  std::vector<ServedTry> tries;  // the server's part, connection by connection
  int result;
  // The file's bytes afterwards: 0 none, 1 or 2 that version whole; -50000:
  // its first 50,000 bytes, kept and continued by a later start; -50001: the
  // same, but the kept file grows by a byte first and is taken whole again.
  int version;
  std::vector<std::string> ranges;  // each request's Range value ("" for none)
  std::string logged;               // a line the run log must hold ("" for none)
  bool decodedByTheLibrary = false;  // a chunked answer: on setup.exe's own road refused, and its file deleted
};

const std::string ETAG = "ETag: \"v1\"\r\n";
const std::string DATED = "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\nDate: Mon, 07 Dec 2026 10:01:00 GMT\r\n";

class ResumeOnEveryRoad : public HttpsClientTest {
 protected:
  // The second version is shorter than the bytes kept of the first: taking it must truncate.
  const std::string v1 = Pattern(100000), v2 = Pattern(40001).substr(1);

  void RunCases(Road road) {
    DownloadSettings = DownloadTuning{1500, 3000, 0, true, RANGE_HEAD_LIMIT_MS};
    const std::string answer206 = "HTTP/1.1 206 Partial Content\r\nContent-Length: 50000\r\nContent-Range: bytes ";
    const ResumeCase cases[] = {
        {"head stalls after its length", {Answer("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n", LOOPBACK_AWAIT_CLOSE)},
         DOWNLOAD_FAILED, 0, {""}, ""},
        {"break in the head", {Answer("HTTP/1.1 200 OK\r\nContent-Len")}, DOWNLOAD_FAILED, 0, {""}, ""},
        {"break after the first body byte", {Serve(v1, ETAG, 1), Serve(v1, ETAG)}, DOWNLOAD_OK, 1, {"", "1-"},
         "try 2 of 5 from byte 1: 206, continuing"},
        {"reset mid-body", {Serve(v1, ETAG, 50000, LOOPBACK_RESET), Serve(v1, ETAG)}, DOWNLOAD_OK, 1, {"", "*"}, ""},
        {"silence mid-body", {Serve(v1, ETAG, 60000, LOOPBACK_AWAIT_CLOSE), Serve(v1, ETAG)}, DOWNLOAD_OK, 1,
         {"", "60000-"}, ""},
        {"break one byte before the end", {Serve(v1, ETAG, 99999), Serve(v1, ETAG)}, DOWNLOAD_OK, 1, {"", "99999-"},
         "download broke at byte 99999 of 100000: the connection was closed"},
        {"date as validator", {Serve(v1, DATED, 30000), Serve(v1, DATED)}, DOWNLOAD_OK, 1, {"", "30000-"}, ""},
        {"date too recent: starts over",
         {Serve(v1, "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\nDate: Mon, 07 Dec 2026 10:00:59 GMT\r\n", 30000),
          Serve(v1, "")},
         DOWNLOAD_OK, 1, {"", ""}, "try 2 of 5 from byte 0: 200, starting over"},
        {"no validator: starts over", {Serve(v1, "", 50000), Serve(v1, "")}, DOWNLOAD_OK, 1, {"", ""},
         "try 2 of 5 from byte 0: 200, starting over"},
        {"changed file: 200", {Serve(v1, ETAG, 50000), Serve(v2, "ETag: \"v2\"\r\n")}, DOWNLOAD_OK, 2,
         {"", "50000-"}, "try 2 of 5 from byte 50000: 200, starting over"},
        {"206 from the wrong byte", {Serve(v1, ETAG, 50000), Answer(answer206 + "0-49999/100000\r\n\r\n" + v1)},
         DOWNLOAD_FAILED, 0, {"", "50000-"}, "partial answer refused: content-range does not start at the byte asked for"},
        {"206 with a changed tag: the next try takes the whole file",
         {Serve(v1, ETAG, 50000), Answer(answer206 + "50000-99999/100000\r\nETag: W/\"v1\"\r\n\r\n"),
          Serve(v2, "ETag: \"v2\"\r\n")},
         DOWNLOAD_OK, 2, {"", "50000-", ""}, "partial answer refused: the etag changed"},
        {"206 with a changed date", {Serve(v1, DATED, 50000),
                                     Answer(answer206 + "50000-99999/100000\r\nLast-Modified: Mon, 07 Dec 2026 10:00:01 "
                                                        "GMT\r\n\r\n"),
                                     Serve(v1, DATED)},
         DOWNLOAD_OK, 1, {"", "50000-", ""}, "partial answer refused: the last-modified date changed"},
        {"206 chunked, without a length",
         {Serve(v1, ETAG, 50000), Answer("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 50000-99999/100000\r\n"
                                         "Transfer-Encoding: chunked\r\n" + ETAG + "\r\nc350\r\n" + v1.substr(50000) +
                                         "\r\n0\r\n\r\n")},
         DOWNLOAD_OK, 1, {"", "50000-"}, "try 2 of 5 from byte 50000: 206, continuing", true},
        {"206 with two different ranges",
         {Serve(v1, ETAG, 50000), Answer(answer206 + "50000-99999/100000\r\nContent-Range: bytes 0-49999/100000\r\n" +
                                         ETAG + "\r\n" + v1.substr(50000))},
         DOWNLOAD_FAILED, 0, {"", "50000-"}, "response head refused: two different content ranges"},
        // Lengths of digits only: a short or empty file never passes for the whole one.
        {"an empty length", {Answer("HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\nbody")}, DOWNLOAD_FAILED, 0, {""},
         "content length refused: not a decimal number"},
        {"a length in words", {Answer("HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nbody")}, DOWNLOAD_FAILED, 0,
         {""}, "content length refused: not a decimal number"},
        {"a length with a word behind it", {Answer("HTTP/1.1 200 OK\r\nContent-Length: 12 bytes\r\n\r\nbody")},
         DOWNLOAD_FAILED, 0, {""}, "content length refused: not a decimal number"},
        {"two different lengths", {Answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 40\r\n\r\nbody")},
         DOWNLOAD_FAILED, 0, {""}, "content length refused: two different values"},
        {"416", {Serve(v1, ETAG, 50000), Answer("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n")},
         DOWNLOAD_FAILED, 0, {"", "50000-"}, "http error : HTTP/1.1 416 Range Not Satisfiable"},
        {"every try breaks", {Serve(v1, ETAG, 10000), Serve(v1, ETAG, 20000), Serve(v1, ETAG, 30000),
                              Serve(v1, ETAG, 40000), Serve(v1, ETAG, 50000), Serve(v1, ETAG)},
         DOWNLOAD_FAILED, -50000, {"", "10000-", "20000-", "30000-", "40000-"},
         "partial download kept at byte 50000 of 100000 for a later start"},
        {"every try breaks, and the kept file changes", {Serve(v1, ETAG, 10000), Serve(v1, ETAG, 20000),
                                                         Serve(v1, ETAG, 30000), Serve(v1, ETAG, 40000),
                                                         Serve(v1, ETAG, 50000), Serve(v1, ETAG)},
         DOWNLOAD_FAILED, -50001, {"", "10000-", "20000-", "30000-", "40000-"},
         "partial download not continued: its file does not hold the 50000 bytes written"},
    };
    for (const ResumeCase& each : cases) {
      LoopbackServer server = {};
      ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"", {}, ServeTries(each.tries)}},
                                      static_cast<int>(each.tries.size())));
      std::string path = "/resume/" + std::to_string(road) + "/" + std::to_string(&each - cases) + "/setup.exe";
      std::string url = LoopbackUrl(&server, path);
      if (road == TLS) {
        ASSERT_TRUE(RelayTlsRoute(path, server.port));
        url = TlsUrl(TLS_TRUSTED, path);
      }
      DeleteRunLog();
      ASSERT_NE(nullptr, OpenRunLogFile());
      // setup.exe's own road does not decode a chunked answer: refused, and the kept bytes go.
      bool refusedChunks = each.decodedByTheLibrary && road == DIRECT;
      EXPECT_EQ(refusedChunks ? DOWNLOAD_FAILED : each.result, Fetch(url)) << each.what;
      if (each.version <= -50000) {
        ExpectTarget(v1.substr(0, 50000));
        if (each.version == -50001) {
          ASSERT_TRUE(WriteFileBytes(target, v1.substr(0, 50001)));
        }
        // Another address for the same file that reaches no server (the next
        // mirror) leaves it; a later start of the first address continues it.
        EXPECT_EQ(DOWNLOAD_FAILED, Fetch("http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/other.exe"));
        EXPECT_EQ(DOWNLOAD_OK, Fetch(url)) << each.what;
        EXPECT_EQ(each.version == -50000 ? 1 : 0, CountLogLines("continuing the partial download at byte 50000 of 100000"))
            << each.what;
      }
      StopLoopbackServer(&server);
      size_t proxied = 0;
      for (const std::string& line : TlsProxyRequests()) proxied += line.find(path + " ") != std::string::npos ? 1 : 0;
      EXPECT_EQ(road == PROXY ? server.requests.size() : 0u, proxied) << each.what;
      if (each.version == 0 || refusedChunks)
        ExpectNoTarget();
      else
        ExpectTarget(each.version == 2 ? v2 : v1);
      std::vector<std::string> ranges;
      for (const std::string& request : server.requests) {
        size_t at = request.find("\r\nRange: bytes=");
        ranges.push_back(at == std::string::npos ? "" : request.substr(at + 15, request.find("\r\n", at + 2) - at - 15));
        if (!ranges.back().empty() && ranges.size() <= each.ranges.size() && each.ranges[ranges.size() - 1] == "*")
          ranges.back() = "*";
      }
      std::vector<std::string> expected = each.ranges;
      if (each.version == -50000) expected.push_back("50000-");
      if (each.version == -50001) expected.push_back("");
      EXPECT_EQ(expected, ranges) << each.what;
      std::string logged = refusedChunks ? "response head refused: a transfer coding is named" : each.logged;
      if (!logged.empty()) {
        EXPECT_EQ(1, CountLogLines(logged)) << each.what;
      }
      EXPECT_LT(server.bytesSent, 2 * v1.size()) << each.what;
      DeleteFileW(target.c_str());
    }
  }
};

TEST_F(ResumeOnEveryRoad, DirectHttp) { RunCases(DIRECT); }

TEST_F(ResumeOnEveryRoad, HttpThroughTheUsersProxy) {
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, "127.0.0.1:" + std::to_string(TlsProxyPort()), "", ""));
  RunCases(PROXY);
}

TEST_F(ResumeOnEveryRoad, Https) { RunCases(TLS); }

}  // namespace
