// Downloads in ranges over several connections, on each road, against a
// scripted server that answers ranges and misbehaves once on purpose: the
// file exact in every case, the requests and the run log's connection lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

// winsock2.h must come before windows.h.
#include "download/http_client.h"
#include "download/download_file.h"
#include "download/range_plan.h"
#include "log/run_log.h"
#include "download_reports.h"
#include "loopback_server.h"
#include "test_files.h"
#include "tls_test_servers.h"

namespace {

const long long MIB = 1024 * 1024;
const std::string ETAG = "ETag: \"v1\"\r\n";

enum Road { DIRECT, PROXY, TLS };

// What the server does, once, to the first request for the range that starts at `twistAt`.
enum Twist { PLAIN, ANSWER_200, WRONG_RANGE, OTHER_ETAG, BUSY_503, BREAK_AFTER_100000 };

struct RangedFile {
  long long size;
  std::string validators;
  bool acceptsRanges;
  Twist twist;
  long long twistAt;
  long long changedSize;  // above 0: every request after the first sees another file ("v2") of this size
};

std::string RequestHeader(const std::string& request, const std::string& name) {
  size_t at = request.find("\r\n" + name);
  if (at == std::string::npos) return "";
  at += 2 + name.size();
  return request.substr(at, request.find("\r\n", at) - at);
}

std::string Number(long long value) { return std::to_string(value); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

LoopbackScript Send(const std::string& head, long long from, long long end) {
  return {SendBytes(head + "\r\n"), SendPattern(end, from), CloseConnection()};
}

// While set, every answer is cut just before this byte of the file (0: none).
std::atomic<long long> PoisonAt(0);

LoopbackResponder ServeRanged(const RangedFile& file) {
  auto twisted = std::make_shared<std::atomic<bool>>(false);
  auto served = std::make_shared<std::atomic<int>>(0);
  return [file, twisted, served](const std::string& request, int) {
    bool changed = file.changedSize > 0 && (*served)++ > 0;
    long long size = changed ? file.changedSize : file.size;
    std::string validators = changed ? "ETag: \"v2\"\r\n" : file.validators;
    std::string lines = validators + (file.acceptsRanges ? "Accept-Ranges: bytes\r\n" : "");
    std::string range = RequestHeader(request, "Range: bytes=");
    if (range.empty() || "ETag: " + RequestHeader(request, "If-Range: ") + "\r\n" != validators)
      return Send("HTTP/1.1 200 OK\r\nContent-Length: " + Number(size) + "\r\n" + lines, 0, size);
    long long first = atoll(range.c_str());
    size_t dash = range.find('-');
    long long last = dash + 1 < range.size() ? atoll(range.c_str() + dash + 1) : size - 1;
    Twist twist = first == file.twistAt && !twisted->exchange(true) ? file.twist : PLAIN;
    if (twist == ANSWER_200)
      return Send("HTTP/1.1 200 OK\r\nContent-Length: " + Number(size) + "\r\n" + lines, 0, size);
    if (twist == BUSY_503)
      return LoopbackScript{SendBytes("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"),
                            CloseConnection()};
    if (twist == OTHER_ETAG) lines = "ETag: \"v9\"\r\n";
    long long shown = twist == WRONG_RANGE ? first + 1 : first;
    std::string head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + Number(shown) + "-" + Number(last) +
                       "/" + Number(size) + "\r\nContent-Length: " + Number(last - shown + 1) + "\r\n" + lines;
    long long end = twist == BREAK_AFTER_100000 ? first + 100000 : last + 1;
    if (PoisonAt > 0 && first <= PoisonAt && PoisonAt < end) end = PoisonAt;
    return Send(head, shown, end);
  };
}

struct RangeCase {
  const char* what;
  RangedFile file;
  int connections;
  // What the requests show: 0 one request without a range; 1 ranges; 2 ranges, then the whole file anew on one connection.
  int shape;
  std::string logged;  // a line the run log must hold in part ("" for none)
};

class RangesOnEveryRoad : public ::testing::Test {
 protected:
  std::wstring target;

  void SetUp() override {
    ASSERT_TRUE(TlsServersRunning()) << "run through tests/harness/tls_servers.py (ctest does)";
    ASSERT_TRUE(ImportTestCa());
    ASSERT_TRUE(SetLogLocale());
    DownloadSettings = DownloadTuning{3000, 5000, 0, true};
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    wsprintfW(RunLogPath, L"%sranges-%S-%lu.log", temp, name.c_str(), GetCurrentProcessId());
    target = std::wstring(temp) + L"ranges-" + std::wstring(name.begin(), name.end()) + L".bin";
  }

  void TearDown() override {
    ClearUserProxySettings();
    DownloadSettings = DownloadTuning{HTTP_RECEIVE_TIMEOUT_MS, HEAD_TIME_LIMIT_MS, 100, true};
    DeleteRunLog();
    DeleteFileW(target.c_str());
  }

  std::string LogText() {
    std::string text;
    for (const std::string& line : RunLogTexts(RunLogPath)) text += line + "\n";
    return text;
  }

  void RunCase(Road road, const RangeCase& each, const std::string& path) {
    LoopbackServer server = {};
    server.concurrent = true;
    ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"", {}, ServeRanged(each.file)}}, 64));
    std::string url = LoopbackUrl(&server, path);
    if (road == TLS) {
      ASSERT_TRUE(RelayTlsRoute(path, server.port));
      url = TlsUrl(TLS_TRUSTED, path);
    }
    DeleteRunLog();
    ASSERT_NE(nullptr, OpenRunLogFile());
    Reports.clear();
    EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(std::wstring(url.begin(), url.end()).c_str(), target.c_str(),
                                          RecordReport, each.connections))
        << each.what;
    StopLoopbackServer(&server);
    long long size = each.file.changedSize > 0 ? each.file.changedSize : each.file.size;
    std::string bytes = ReadFileBytes(target);
    EXPECT_EQ(static_cast<size_t>(size), bytes.size()) << each.what;
    EXPECT_TRUE(PatternAt(0, static_cast<size_t>(size)) == bytes) << each.what << ": the file's bytes differ";
    EXPECT_EQ(L"100", Reports.size() > 1 ? Reports[Reports.size() - 2] : L"") << each.what;
    std::string log = LogText();
    if (!each.logged.empty()) {
      EXPECT_NE(std::string::npos, log.find(each.logged)) << each.what << "\n" << log;
    }
    ExpectRequests(road, each, server, path, log);
  }

  void ExpectRequests(Road road, const RangeCase& each, const LoopbackServer& server, const std::string& path,
                      const std::string& log) {
    std::vector<std::string> ranges;
    for (const std::string& request : server.requests) ranges.push_back(RequestHeader(request, "Range: bytes="));
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ("", ranges[0]) << each.what;
    if (each.shape == 0) {
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
    // Each range starts where the split put it; its end may move before it opens, when another connection takes
    // half. After a change the others may stop before they open.
    for (int i = 1; i < each.connections && each.shape == 1; ++i)
      EXPECT_NE(std::string::npos, log.find("connection " + Number(i) + " opened for bytes " + Number(share * i) + "-"))
          << each.what << "\n" << log;
    EXPECT_NE(std::string::npos, log.find("connection 0 opened for bytes 0-" + Number(share - 1) + "\n"))
        << each.what << "\n" << log;
    if (each.shape == 1) {
      EXPECT_NE(std::string::npos, log.find(": done\n")) << each.what << "\n" << log;
    }
    // After a change only one request more: the whole file on one connection.
    EXPECT_EQ(each.shape == 2, ranges.back().empty()) << each.what;
    EXPECT_EQ(each.shape == 2 ? 2 : 1, std::count(ranges.begin(), ranges.end(), "")) << each.what;
    long long at = each.file.twistAt;
    if (each.file.twist == WRONG_RANGE || each.file.twist == BUSY_503) {
      EXPECT_EQ(2, std::count_if(ranges.begin(), ranges.end(),
                                 [at](const std::string& r) { return atoll(r.c_str()) == at; }))
          << each.what << ": the range given back was not asked for again";
    }
    if (each.file.twist == BREAK_AFTER_100000) {
      EXPECT_EQ(1, std::count_if(ranges.begin(), ranges.end(),
                                 [at](const std::string& r) { return atoll(r.c_str()) == at + 100000; }))
          << each.what << ": the broken range was not continued";
    }
  }

  void RunCases(Road road) {
    const long long odd = 9 * MIB + 12345, at = odd / 4 * 2;
    const RangeCase cases[] = {
        {"ranges of exactly 8 MiB", {8 * MIB, ETAG, true, PLAIN, 0, 0}, 4, 1, "parallel ranges: 4 connections for 8388608 bytes"},
        {"8 connections", {odd, ETAG, true, PLAIN, 0, 0}, 8, 1, "parallel ranges: 8 connections"},
        {"no Accept-Ranges", {8 * MIB, ETAG, false, PLAIN, 0, 0}, 4, 0, ""},
        {"a weak tag only", {8 * MIB, "ETag: W/\"v1\"\r\n", true, PLAIN, 0, 0}, 4, 0, ""},
        {"one byte under 8 MiB", {8 * MIB - 1, ETAG, true, PLAIN, 0, 0}, 4, 0, ""},
        {"one connection allowed", {8 * MIB, ETAG, true, PLAIN, 0, 0}, 1, 0, ""},
        {"an extra answered 200", {odd, ETAG, true, ANSWER_200, at, 0}, 4, 2,
         "the file changed: starting over on one connection"},
        {"another tag on an extra", {odd, ETAG, true, OTHER_ETAG, at, 0}, 4, 2, ": changed, the etag changed"},
        {"a wrong content-range", {odd, ETAG, true, WRONG_RANGE, at, 0}, 4, 1,
         ": refused, content-range does not start at the byte asked for"},
        {"503 on an extra", {odd, ETAG, true, BUSY_503, at, 0}, 4, 1, ": busy, 503"},
        {"a break in one range", {odd, ETAG, true, BREAK_AFTER_100000, at, 0}, 4, 1,
         ": broken"},
        {"the file changes after the first answer", {odd, ETAG, true, PLAIN, 0, 8 * MIB + 1}, 4, 2,
         ": changed, a 200 answer"},
    };
    for (const RangeCase& each : cases)
      RunCase(road, each, "/ranges/" + Number(road) + "/" + Number(&each - cases) + "/setup.exe");
  }
};

TEST_F(RangesOnEveryRoad, DirectHttp) { RunCases(DIRECT); }

// Every range that reaches one byte breaks there, on whichever connection
// takes it, until every connection has spent its tries: the download fails
// and keeps the file up to that byte, which a later start continues on one
// connection.
TEST_F(RangesOnEveryRoad, RangesThatAllBreakLeaveTheCompletePrefixForALaterStart) {
  const long long size = 9 * MIB + 12345, poison = size / 4 * 2 + 100000;
  LoopbackServer server = {};
  server.concurrent = true;
  ASSERT_TRUE(StartLoopbackRoutes(&server, {LoopbackRoute{"", {}, ServeRanged({size, ETAG, true, PLAIN, 0, 0})}}, 200));
  std::wstring url = Wide(LoopbackUrl(&server, "/poisoned/setup.exe"));
  ASSERT_NE(nullptr, OpenRunLogFile());
  PoisonAt = poison;
  EXPECT_EQ(DOWNLOAD_FAILED, DownloadToFile(url.c_str(), target.c_str(), RecordReport, 4));
  PoisonAt = 0;
  EXPECT_TRUE(PatternAt(0, static_cast<size_t>(poison)) == ReadFileBytes(target)) << "not the complete prefix";
  EXPECT_EQ(DOWNLOAD_OK, DownloadToFile(url.c_str(), target.c_str(), RecordReport, 4));
  StopLoopbackServer(&server);
  EXPECT_TRUE(PatternAt(0, static_cast<size_t>(size)) == ReadFileBytes(target));
  std::string log = LogText();
  for (const std::string& line : {"partial download kept at byte " + Number(poison) + " of " + Number(size),
                                  "continuing the partial download at byte " + Number(poison)})
    EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
  EXPECT_EQ("bytes=" + Number(poison) + "-", "bytes=" + RequestHeader(server.requests.back(), "Range: bytes="));
  EXPECT_EQ(1u, std::count_if(server.requests.begin(), server.requests.end(), [](const std::string& request) {
              return RequestHeader(request, "Range: bytes=").empty();
            })) << "the later start asks only for the rest";
}

TEST_F(RangesOnEveryRoad, HttpThroughTheUsersProxy) {
  ASSERT_TRUE(SetUserProxySettings(SETTINGS_DIRECT | SETTINGS_PROXY, "127.0.0.1:" + std::to_string(TlsProxyPort()), "", ""));
  RunCases(PROXY);
}

TEST_F(RangesOnEveryRoad, Https) { RunCases(TLS); }

}  // namespace
