// Downloads in ranges over several connections, on each road, against a
// scripted server that answers ranges and misbehaves once on purpose: the
// file exact in every case, the requests and the run log's connection lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

// winsock2.h must come before windows.h.
#include "download/http_client.h"
#include "download/download_file.h"
#include "http/range_plan.h"
#include "log/run_log.h"
#include "download_reports.h"
#include "loopback_server.h"
#include "test_files.h"
#include "tls_test_servers.h"

namespace {

const long long MIB = 1024 * 1024;
const std::string ETAG = "ETag: \"v1\"\r\n";

// The last is the system's library with the loopback server itself as the user's proxy.
enum Road { DIRECT, PROXY, TLS, SELF_PROXY };

// What the server does to the first request for the range that starts at
// `twistAt` (the twists up to HEAD_CUT, each answer held back 300 ms, so
// that the other ranges' answers have come), or to every request for a range.
enum Twist {
  PLAIN,
  ANSWER_200,
  WRONG_RANGE,
  OTHER_ETAG,
  OTHER_ETAG_WRONG_RANGE,
  BUSY_503,
  HEAD_CUT,
  STALL_OTHERS,        // ... and every other range: its head, then silence
  BREAK_AFTER_100000,  // at once
  LATE_BREAK_503,      // 100,000 bytes before its end a pause of 6 s and a close; then a 503 for the rest
  SILENT,              // every range: accepted, never answered
  OPEN_ENDED,          // every range: to the end of the file, whatever end was asked for
  RANGES_416_FROM,     // every range from twistAt on: 416
};

struct RangedFile {
  long long size;
  std::string validators;
  bool acceptsRanges;
  Twist twist;
  long long twistAt;
  long long changedSize;  // above 0: every request after the first sees another file ("v2") of this size
  DWORD firstPause = 0;   // the first 200 pauses this long after its first 64 KiB, as a capped link would
};

std::string RequestHeader(const std::string& request, const std::string& name) {
  size_t at = request.find("\r\n" + name);
  if (at == std::string::npos) return "";
  at += 2 + name.size();
  return request.substr(at, request.find("\r\n", at) - at);
}

std::string Number(long long value) { return std::to_string(value); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

LoopbackScript Send(const std::string& head, long long from, long long end, DWORD pause = 0) {
  if (pause == 0) return {SendBytes(head + "\r\n"), SendPattern(end, from), CloseConnection()};
  long long paused = std::min(end, from + 65536);
  return {SendBytes(head + "\r\n"), SendPattern(paused, from), Pause(pause), SendPattern(end, paused),
          CloseConnection()};
}

// While set, every answer is cut just before this byte of the file (0: none).
std::atomic<long long> PoisonAt(0);

LoopbackScript operator+(LoopbackScript first, const LoopbackScript& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

const char* const ANSWER_503 = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";

// The answer to a request for first..last of a file of `size` bytes whose lines are `lines`, under `twist`.
LoopbackScript AnswerRange(const RangedFile& file, Twist twist, long long size, std::string lines, long long first,
                           long long last) {
  if (file.twist == SILENT) return {AwaitClientClose(ScaledWaitMs(60000))};
  if (file.twist == RANGES_416_FROM && first >= file.twistAt)
    return {Pause(300), SendBytes("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n"),
            CloseConnection()};
  if (file.twist == OPEN_ENDED) last = size - 1;
  LoopbackScript held;
  if (twist != PLAIN && twist < BREAK_AFTER_100000) held.push_back(Pause(300));
  if (twist == ANSWER_200)
    return held + Send("HTTP/1.1 200 OK\r\nContent-Length: " + Number(size) + "\r\n" + lines, 0, size);
  if (twist == BUSY_503) return held + LoopbackScript{SendBytes(ANSWER_503), CloseConnection()};
  if (twist == HEAD_CUT) return held + LoopbackScript{SendBytes("HTTP/1.1 206 Partial Content\r\nContent-Ra"), AwaitClientClose(30000)};
  if (twist == OTHER_ETAG || twist == OTHER_ETAG_WRONG_RANGE || twist == STALL_OTHERS) lines = "ETag: \"v9\"\r\n";
  long long shown = twist == WRONG_RANGE || twist == OTHER_ETAG_WRONG_RANGE ? first + 1 : first;
  std::string head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + Number(shown) + "-" + Number(last) +
                     "/" + Number(size) + "\r\nContent-Length: " + Number(last - shown + 1) + "\r\n" + lines;
  if (file.twist == STALL_OTHERS && twist == PLAIN) return {SendBytes(head + "\r\n"), AwaitClientClose(130000)};
  long long end = twist == BREAK_AFTER_100000 ? first + 100000 : last + 1;
  if (PoisonAt > 0 && first <= PoisonAt && PoisonAt < end) end = PoisonAt;
  if (twist == LATE_BREAK_503)
    return {SendBytes(head + "\r\n"), SendPattern(last + 1 - 100000, shown), Pause(6000), CloseConnection()};
  return held + Send(head, shown, end);
}

LoopbackResponder ServeRanged(const RangedFile& file) {
  auto twisted = std::make_shared<std::atomic<bool>>(false);
  auto continued = std::make_shared<std::atomic<bool>>(false);
  auto served = std::make_shared<std::atomic<int>>(0);
  return [file, twisted, continued, served](const std::string& request, int) {
    bool changed = file.changedSize > 0 && (*served)++ > 0;
    long long size = changed ? file.changedSize : file.size;
    std::string validators = changed ? "ETag: \"v2\"\r\n" : file.validators;
    std::string lines = validators + (file.acceptsRanges ? "Accept-Ranges: bytes\r\n" : "");
    std::string range = RequestHeader(request, "Range: bytes=");
    if (range.empty() || "ETag: " + RequestHeader(request, "If-Range: ") + "\r\n" != validators)
      return Send("HTTP/1.1 200 OK\r\nContent-Length: " + Number(size) + "\r\n" + lines, 0, size,
                  range.empty() ? file.firstPause : 0);
    long long first = atoll(range.c_str());
    size_t dash = range.find('-');
    long long last = dash + 1 < range.size() ? atoll(range.c_str() + dash + 1) : size - 1;
    // The rest of the range that broke late: a 503, once.
    if (file.twist == LATE_BREAK_503 && first == size - 100000 && !continued->exchange(true))
      return LoopbackScript{SendBytes(ANSWER_503), CloseConnection()};
    Twist twist = first == file.twistAt && !twisted->exchange(true) ? file.twist : PLAIN;
    return AnswerRange(file, twist, size, lines, first, last);
  };
}

// What the requests show.
enum Shape {
  ONE_REQUEST,  // one request, without a range
  RANGES,       // ranges, each further connection first asking for its share
  START_OVER,   // ranges, then the whole file anew on one connection
  RANGES_OFF,   // the first asks failed: no range asked after them, the first 200 read on alone
  PLAIN_AGAIN,  // ranges, then the first request once more for what is missing
};

struct RangeCase {
  const char* what;
  RangedFile file;
  int connections;
  Shape shape;
  std::string logged;  // a line the run log must hold in part ("" for none)
  std::string alsoLogged = "";
  DWORD receiveTimeout = 3000;
};

class RangesOnEveryRoad : public ::testing::Test {
 protected:
  std::wstring target;

  void SetUp() override {
    ASSERT_TRUE(TlsServersRunning()) << "run through tests/harness/tls_servers.py (ctest does)";
    ASSERT_TRUE(ImportTestCa());
    ASSERT_TRUE(SetLogLocale());
    DownloadSettings = DownloadTuning{3000, 5000, 0, true, 1000};
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    wsprintfW(RunLogPath, L"%sranges-%S-%lu.log", temp, name.c_str(), GetCurrentProcessId());
    target = std::wstring(temp) + L"ranges-" + std::wstring(name.begin(), name.end()) + L".bin";
  }

  void TearDown() override {
    ClearUserProxySettings();
    DownloadSettings = DownloadTuning{HTTP_RECEIVE_TIMEOUT_MS, HEAD_TIME_LIMIT_MS, 100, true, RANGE_HEAD_LIMIT_MS};
    DeleteRunLog();
    DeleteFileW(target.c_str());
  }

  std::string LogText() {
    std::string text;
    for (const std::string& line : RunLogTexts(RunLogPath)) text += line + "\n";
    return text;
  }

  // Serves `file` for `connections` connections on `road`; the address to download.
  std::string Serve(Road road, LoopbackServer* server, const RangedFile& file, const std::string& path,
                    int connections = 64) {
    server->concurrent = true;
    EXPECT_TRUE(StartLoopbackRoutes(server, {LoopbackRoute{"", {}, ServeRanged(file)}}, connections));
    if (road == SELF_PROXY) {
      EXPECT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, "127.0.0.1:" + Number(server->port), "", ""));
    } else if (road == PROXY) {
      EXPECT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, "127.0.0.1:" + Number(TlsProxyPort()), "", ""));
    } else if (road == TLS) {
      EXPECT_TRUE(RelayTlsRoute(path, server->port));
      return TlsUrl(TLS_TRUSTED, path);
    }
    return LoopbackUrl(server, path);
  }

  void RunCase(Road road, const RangeCase& each, const std::string& path) {
    LoopbackServer server = {};
    std::string url = Serve(road, &server, each.file, path);
    DeleteRunLog();
    ASSERT_NE(nullptr, OpenRunLogFile());
    Reports.clear();
    DownloadSettings.receiveTimeoutMs = each.receiveTimeout;
    DWORD started = GetTickCount();
    EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(Wide(url).c_str(), target.c_str(), RecordReport, DownloadLimits{each.connections, 0}))
        << each.what;
    // Only a hang reaches this: a stop ends every connection at once, whatever the receive time-out.
    EXPECT_LT(GetTickCount() - started, 60000u) << each.what << "\n" << LogText();
    StopLoopbackServer(&server);
    long long size = each.file.changedSize > 0 ? each.file.changedSize : each.file.size;
    std::string bytes = ReadFileBytes(target);
    EXPECT_EQ(static_cast<size_t>(size), bytes.size()) << each.what;
    EXPECT_TRUE(PatternAt(0, static_cast<size_t>(size)) == bytes) << each.what << ": the file's bytes differ";
    EXPECT_EQ(L"100", Reports.size() > 1 ? Reports[Reports.size() - 2] : L"") << each.what;
    int shown = -1;
    for (const std::wstring& report : Reports) {
      if (report.empty() || !iswdigit(report[0])) continue;
      if (each.shape != START_OVER) {
        EXPECT_GT(std::stoi(report), shown) << each.what << ": the bar went back";
      }
      shown = std::stoi(report);
    }
    std::string log = LogText();
    for (const std::string& line : {each.logged, each.alsoLogged})
      EXPECT_NE(std::string::npos, log.find(line)) << each.what << "\n" << log;
    ExpectRequests(road, each, server, path, log);
  }

  void ExpectRequests(Road road, const RangeCase& each, const LoopbackServer& server, const std::string& path,
                      const std::string& log) {
    std::vector<std::string> ranges;
    for (const std::string& request : server.requests) ranges.push_back(RequestHeader(request, "Range: bytes="));
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ("", ranges[0]) << each.what;
    if (each.shape == ONE_REQUEST) {
      EXPECT_EQ(1u, ranges.size()) << each.what;
      // Exactly today's request where setup.exe writes it.
      if (road == DIRECT) {
        EXPECT_EQ("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + Number(server.port) + "\r\n\r\n",
                  server.requests[0]);
      }
      EXPECT_EQ(std::string::npos, log.find("parallel ranges")) << each.what;
      return;
    }
    long long share = each.file.size / each.connections;
    EXPECT_NE(std::string::npos, log.find("connection 0 opened for bytes 0-" + Number(each.file.size - 1) + "\n"))
        << each.what << "\n" << log;
    // Each further connection first asks for its share; after a change the others may stop before they ask.
    for (int i = 1; i < each.connections && each.shape != START_OVER; ++i)
      EXPECT_NE(std::string::npos, log.find("connection " + Number(i) + " opened for bytes " + Number(share * i) + "-"))
          << each.what << "\n" << log;
    size_t whole = std::count(ranges.begin(), ranges.end(), "");
    EXPECT_EQ(each.shape == START_OVER || each.shape == PLAIN_AGAIN ? 2u : 1u, whole) << each.what;
    EXPECT_EQ(whole == 2, ranges.back().empty()) << each.what << ": the second request without a range comes last";
    if (each.shape == RANGES_OFF) {
      EXPECT_EQ(static_cast<size_t>(each.connections), ranges.size()) << each.what << ": a range asked after the first";
    }
    long long at = each.file.twistAt;
    auto startingAt = [&ranges](long long first) {
      return std::count_if(ranges.begin(), ranges.end(), [first](const std::string& r) { return !r.empty() && atoll(r.c_str()) == first; });
    };
    if (each.file.twist == WRONG_RANGE || each.file.twist == BUSY_503 || each.file.twist == HEAD_CUT) {
      EXPECT_EQ(2, startingAt(at)) << each.what << ": the range given back was not asked for again";
    }
    if (each.file.twist == BREAK_AFTER_100000) {
      EXPECT_EQ(1, startingAt(at + 100000)) << each.what << ": the broken range was not continued";
    }
  }

  void RunCases(Road road) {
    const long long odd = 9 * MIB + 12345, at = odd / 4 * 2, half = odd / 2;
    const DWORD paced = 1000;  // the first 200 waits: the further connections' answers come first
    const RangeCase cases[] = {
        {"ranges of exactly 8 MiB", {8 * MIB, ETAG, true, PLAIN, 0, 0}, 4, RANGES, "parallel ranges: 4 connections for 8388608 bytes"},
        {"8 connections", {odd, ETAG, true, PLAIN, 0, 0, paced}, 8, RANGES, "parallel ranges: 8 connections", ": done"},
        {"no Accept-Ranges", {8 * MIB, ETAG, false, PLAIN, 0, 0}, 4, ONE_REQUEST, ""},
        {"a weak tag only", {8 * MIB, "ETag: W/\"v1\"\r\n", true, PLAIN, 0, 0}, 4, ONE_REQUEST, ""},
        {"one byte under 8 MiB", {8 * MIB - 1, ETAG, true, PLAIN, 0, 0}, 4, ONE_REQUEST, ""},
        {"one connection allowed", {8 * MIB, ETAG, true, PLAIN, 0, 0}, 1, ONE_REQUEST, ""},
        {"an extra answered 200", {odd, ETAG, true, ANSWER_200, at, 0, paced}, 4, START_OVER,
         "the file changed: starting over on one connection"},
        {"another tag on an extra", {odd, ETAG, true, OTHER_ETAG, at, 0, paced}, 4, START_OVER, ": changed, the etag changed"},
        {"another tag and a wrong range", {odd, ETAG, true, OTHER_ETAG_WRONG_RANGE, at, 0, paced}, 4, START_OVER,
         ": changed, the etag changed"},
        {"a wrong content-range", {odd, ETAG, true, WRONG_RANGE, at, 0, paced}, 4, RANGES,
         ": refused, content-range does not start at the byte asked for"},
        {"503 on an extra", {odd, ETAG, true, BUSY_503, at, 0, paced}, 4, RANGES, ": busy, 503"},
        {"a range whose head is cut", {odd, ETAG, true, HEAD_CUT, at, 0, paced}, 4, RANGES, ": broken",
         ": try 2 of 5"},
        {"a break in one range", {odd, ETAG, true, BREAK_AFTER_100000, at, 0, paced}, 4, RANGES, ": broken",
         ": try 2 of 5"},
        {"the file changes after the first answer", {odd, ETAG, true, PLAIN, 0, 8 * MIB + 1, paced}, 4, START_OVER,
         ": changed, a 200 answer"},
        {"extras never answered", {odd, ETAG, true, SILENT, 0, 0, 2500}, 4, RANGES_OFF,
         "ranges off: one connection from byte ", ": broken"},
        {"open-ended ranges", {odd, ETAG, true, OPEN_ENDED, 0, 0, paced}, 4, RANGES, ": done"},
        {"416 from the last range on", {odd, ETAG, true, RANGES_416_FROM, odd / 4 * 3, 0, paced}, 4, PLAIN_AGAIN,
         "plain request for the missing bytes", ": refused, not a 206 answer"},
        {"a late 503 when the others have left", {odd, ETAG, true, LATE_BREAK_503, half, 0, paced}, 2, RANGES,
         ": busy, 503\nconnection 1: try 3 of 5", "", 10000},
        // Wine's library does not end a receive whose request another thread closes: there its time-out ends it.
        {"a changed answer while the others wait", {odd, ETAG, true, STALL_OTHERS, at, 0, paced}, 4, START_OVER,
         ": changed, the etag changed", ": stopped", road == DIRECT ? 120000u : 3000u},
    };
    for (const RangeCase& each : cases)
      RunCase(road, each, "/ranges/" + Number(road) + "/" + Number(&each - cases) + "/setup.exe");
  }
};

TEST_F(RangesOnEveryRoad, DirectHttp) { RunCases(DIRECT); }

// Every range that reaches one byte breaks there, on whichever connection
// takes it: each break costs one of the download's tries, and when they are
// spent the download fails, keeps the file up to that byte, and tries no
// more; a later start continues it on one connection.
TEST_F(RangesOnEveryRoad, RangesThatAllBreakSpendTheDownloadsTriesAndLeaveTheCompletePrefix) {
  const long long size = 9 * MIB + 12345, poison = size / 4 * 2 + 100000;
  LoopbackServer server = {};
  std::wstring url = Wide(Serve(DIRECT, &server, {size, ETAG, true, PLAIN, 0, 0, 1000}, "/poisoned/setup.exe", 200));
  ASSERT_NE(nullptr, OpenRunLogFile());
  PoisonAt = poison;
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(url.c_str(), target.c_str(), RecordReport, DownloadLimits{4, 0}));
  PoisonAt = 0;
  std::string failed = LogText();
  size_t asked = server.requests.size();
  EXPECT_TRUE(PatternAt(0, static_cast<size_t>(poison)) == ReadFileBytes(target)) << "not the complete prefix";
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(url.c_str(), target.c_str(), RecordReport, DownloadLimits{4, 0}));
  StopLoopbackServer(&server);
  EXPECT_TRUE(PatternAt(0, static_cast<size_t>(size)) == ReadFileBytes(target));
  for (int number = 2; number <= DOWNLOAD_TRIES; ++number)
    EXPECT_NE(std::string::npos, failed.find(": try " + Number(number) + " of 5\n")) << failed;
  EXPECT_EQ(std::string::npos, failed.find(": try 6 of 5")) << failed;
  EXPECT_EQ(std::string::npos, failed.find(" of 5 from byte ")) << "no try of the whole download after them\n" << failed;
  // The first asks, then at most one ask for each try and one for each connection that takes a range given back.
  EXPECT_LE(asked, 4u + (DOWNLOAD_TRIES - 1) + 3u) << failed;
  std::string log = LogText();
  for (const std::string& line : {"partial download kept at byte " + Number(poison) + " of " + Number(size),
                                  "continuing the partial download at byte " + Number(poison)})
    EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
  EXPECT_EQ("bytes=" + Number(poison) + "-", "bytes=" + RequestHeader(server.requests.back(), "Range: bytes="));
  EXPECT_EQ(1u, std::count_if(server.requests.begin(), server.requests.end(), [](const std::string& request) {
              return RequestHeader(request, "Range: bytes=").empty();
            })) << "the later start asks only for the rest";
}

// A server that takes two connections and refuses every later one, after a
// range broke: the break costs a try, each refused connection counts as not
// connected (the connection leaves while another goes on; the last one
// spends the tries), as on setup.exe's own client so through the system's
// library. The download fails as one connection's would.
TEST_F(RangesOnEveryRoad, RefusedConnectionsAfterABreakAreNotConnectedOnBothClients) {
  const long long size = 9 * MIB + 12345, half = size / 2;
  for (Road road : {DIRECT, SELF_PROXY}) {
    LoopbackServer server = {};
    std::wstring url = Wide(Serve(road, &server, {size, ETAG, true, BREAK_AFTER_100000, half, 0, 1000}, "/refusing/setup.exe", 2));
    DeleteRunLog();
    ASSERT_NE(nullptr, OpenRunLogFile());
    EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(url.c_str(), target.c_str(), RecordReport, DownloadLimits{2, 0})) << road;
    StopLoopbackServer(&server);
    ClearUserProxySettings();
    std::string log = LogText();
    for (const std::string& line :
         {"connection 1 closed at byte " + Number(half + 100000) + " of " + Number(half) + "-" + Number(size - 1) +
              ": broken\nconnection 1: try 2 of 5\n",
          std::string(": not connected\nconnection 0: try 3 of 5\n"), std::string(": try 5 of 5\n")})
      EXPECT_NE(std::string::npos, log.find(line)) << road << ": " << line << "\n" << log;
    EXPECT_EQ(std::string::npos, log.find("connection 1: try 3 of 5")) << "a refused connection is no break\n" << log;
    DeleteFileW(target.c_str());
  }
}

TEST_F(RangesOnEveryRoad, HttpThroughTheUsersProxy) { RunCases(PROXY); }

TEST_F(RangesOnEveryRoad, Https) { RunCases(TLS); }

}  // namespace
