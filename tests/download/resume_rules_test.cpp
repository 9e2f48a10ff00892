// The plain-value decisions of a download that survives breaks, and the proxy
// rules of an http:// address, called directly.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "download/proxy_rules.h"
#include "download/resume_rules.h"

namespace {

// A head as the reader leaves it after `lines` (status line first), a range asked for.
HeadState HeadOf(const std::string& lines) {
  HeadState head;
  BeginHead(&head);
  head.partialAllowed = true;
  size_t start = 0;
  for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_TRUE(ExamineHeadLine(&head, lines.substr(start, end - start).c_str())) << lines.substr(start, end - start);
  return head;
}

ResumePoint PointAt(int kept, int total, const char* etag) {
  ResumePoint point;
  BeginResumePoint(&point);
  point.validator.kind = VALIDATOR_ETAG;
  strcpy(point.validator.text, etag);
  point.kept = kept;
  point.total = total;
  return point;
}

TEST(ResumeRules, ValidatorIsAStrongTagElseTheDateAndHeadValuesAreTakenWhole) {
  Validator chosen;
  ChooseValidator(HeadOf("HTTP/1.1 200 OK\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\netag:  \"v1\" \t\n"), &chosen);
  EXPECT_EQ(VALIDATOR_ETAG, chosen.kind);
  EXPECT_STREQ("\"v1\"", chosen.text);
  ChooseValidator(HeadOf("HTTP/1.1 200 OK\nETag: W/\"v1\"\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n"), &chosen);
  EXPECT_EQ(VALIDATOR_LAST_MODIFIED, chosen.kind);
  EXPECT_STREQ("Mon, 07 Dec 2026 10:00:00 GMT", chosen.text);
  // Too long to send back (255 bytes fit), or only a piece of a cut line: none.
  ChooseValidator(HeadOf("HTTP/1.1 200 OK\nETag: " + std::string(255, 'e') + "\n"), &chosen);
  EXPECT_EQ(VALIDATOR_ETAG, chosen.kind);
  ChooseValidator(HeadOf("HTTP/1.1 200 OK\nETag: " + std::string(256, 'e') + "\n"), &chosen);
  EXPECT_EQ(VALIDATOR_NONE, chosen.kind);
  HeadState head = HeadOf("HTTP/1.1 200 OK\n");
  EXPECT_TRUE(ExamineHeadLine(&head, "ETag: \"cut\"", false));
  ChooseValidator(head, &chosen);
  EXPECT_EQ(VALIDATOR_NONE, chosen.kind);

  // 206 only where a range was asked for; its range read strictly.
  head = HeadOf("HTTP/1.0 206\nContent-Range: BYTES 5-9/10\n");
  EXPECT_TRUE(head.rangeValid);
  EXPECT_EQ(206, head.status);
  BeginHead(&head);
  EXPECT_FALSE(ExamineHeadLine(&head, "HTTP/1.1 206 Partial Content"));
  ContentRange range;
  for (const char* bad : {"bytes */10", "bytes 5-10/10", "bytes 6-5/10", "bytes 5-9/10x", "bytes -1-9/10",
                          "bytes 0-1/2147483648", "items 5-9/10", "bytes5-9/10", "bytes 00000000005-9/10",
                          "bytes 5-00000000009/10", "bytes 5-9/00000000010"})
    EXPECT_FALSE(ParseContentRange(bad, &range)) << bad;
  // Ten digits each, the largest value last: the last that are taken.
  ASSERT_TRUE(ParseContentRange("bytes 0000000005-2147483646/2147483647", &range));
  EXPECT_EQ(5, range.first);
  EXPECT_EQ(2147483646, range.last);
  EXPECT_EQ(2147483647, range.total);
}

TEST(ResumeRules, TheResumedRequestIsTheFirstOneWithRangeAndIfRange) {
  ResumePoint point = PointAt(4096, 10000, "\"v1\"");
  char request[RESUME_REQUEST_BUFFER_SIZE];
  EXPECT_EQ(73, BuildResumeRequest("h", "/a.exe", "8080", point, request));
  EXPECT_STREQ("GET /a.exe HTTP/1.1\r\nHost: h:8080\r\nRange: bytes=4096-\r\nIf-Range: \"v1\"\r\n\r\n", request);
  // A first request at its limit still takes the longest validator.
  memset(point.validator.text, 'v', VALIDATOR_SIZE - 1);
  point.validator.text[VALIDATOR_SIZE - 1] = '\0';
  point.kept = 2147483646;
  std::string path = "/" + std::string(1023 - 27, 'p');
  ASSERT_EQ(1023, BuildRequest("h", path.c_str(), "80", request));
  // "Range: bytes=2147483646-" and "If-Range: " with the validator, each with its CR LF.
  EXPECT_EQ(1023 + 26 + 10 + 255 + 2, BuildResumeRequest("h", path.c_str(), "80", point, request));
}

TEST(ResumeRules, OnlyAnExactContinuationIsAppendedAndA200StartsOver) {
  const ResumePoint point = PointAt(400, 1000, "\"v1\"");
  struct Case {
    std::string head;
    ResumeAnswer expected;
  } cases[] = {
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-999/1000\nContent-Length: 600\nETag: \"v1\"\n",
       RESUME_APPEND},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-999/1000\n", RESUME_APPEND},
      {"HTTP/1.1 200 OK\nContent-Length: 1200\nETag: \"v2\"\n", RESUME_START_OVER},
      {"HTTP/1.1 206 Partial Content\nContent-Length: 600\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes */1000\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-999/1000\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 401-999/1000\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-998/1000\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-1199/1200\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-999/1000\nContent-Length: 599\n", RESUME_REFUSED},
      {"HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-999/1000\nETag: \"v2\"\n", RESUME_REFUSED},
  };
  for (const Case& each : cases) {
    const char* why = "";
    EXPECT_EQ(each.expected, JudgeResumeAnswer(HeadOf(each.head), point, &why)) << each.head;
    EXPECT_EQ(each.expected == RESUME_REFUSED, why[0] != '\0') << each.head;
  }
}

TEST(ResumeRules, RetriesFollowABreakInTheBodyOnlyAndStopAtFiveTries) {
  EXPECT_EQ(AFTER_TRY_DONE, DecideAfterTry(TRY_COMPLETE, 3));
  for (TryEnd end : {TRY_NOT_CONNECTED, TRY_HEAD_CUT, TRY_REFUSED}) EXPECT_EQ(AFTER_TRY_FAIL, DecideAfterTry(end, 1));
  EXPECT_EQ(AFTER_TRY_FAIL, DecideAfterTry(TRY_REFUSED, 2));
  for (TryEnd end : {TRY_BROKEN, TRY_NOT_CONNECTED, TRY_HEAD_CUT}) {
    EXPECT_EQ(AFTER_TRY_AGAIN, DecideAfterTry(end, 4));
    EXPECT_EQ(AFTER_TRY_FAIL, DecideAfterTry(end, 5));
  }
  EXPECT_EQ(AFTER_TRY_AGAIN, DecideAfterTry(TRY_BROKEN, 1));

  const ResumePoint point = PointAt(400, 1000, "\"v1\"");
  EXPECT_TRUE(KeepPartialFile(point, TRY_BROKEN));
  EXPECT_TRUE(KeepPartialFile(point, TRY_NOT_CONNECTED));
  EXPECT_FALSE(KeepPartialFile(point, TRY_REFUSED));
  ResumePoint none = point;
  none.validator.kind = VALIDATOR_NONE;
  EXPECT_FALSE(KeepPartialFile(none, TRY_BROKEN));
  EXPECT_FALSE(KeepPartialFile(PointAt(0, 1000, "\"v1\""), TRY_BROKEN));

  EXPECT_EQ(ROAD_WINSOCK, ChooseDownloadRoad(URL_SCHEME_HTTP, false));
  EXPECT_EQ(ROAD_WINHTTP, ChooseDownloadRoad(URL_SCHEME_HTTP, true));
  EXPECT_EQ(ROAD_WINHTTP, ChooseDownloadRoad(URL_SCHEME_HTTPS, false));
}

TEST(ResumeRules, PausesDoubleFromAboutOneSecondEachSpreadByAQuarter) {
  const unsigned bases[] = {1000, 2000, 4000, 8000};
  for (int number = 2; number <= DOWNLOAD_TRIES; ++number) {
    unsigned base = bases[number - 2];
    EXPECT_EQ(base * 3 / 4, RetryPauseMs(number, 0, 100));
    EXPECT_EQ(base * 5 / 4, RetryPauseMs(number, base / 2, 100));
    EXPECT_EQ(base * 3 / 4, RetryPauseMs(number, base / 2 + 1, 100)) << "the spread wraps";
  }
  EXPECT_EQ(100u, RetryPauseMs(5, 4000, 1));
  EXPECT_EQ(0u, RetryPauseMs(3, 12345, 0));
  // The generator's values spread the pauses: 100 of them land in both halves.
  unsigned state = 1, low = 0;
  for (int i = 0; i < 100; ++i) low += RetryPauseMs(2, NextRandom(&state), 100) < 1000 ? 1 : 0;
  EXPECT_GT(low, 20u);
  EXPECT_LT(low, 80u);
}

TEST(ProxyRules, TheEntryForHttpElseOneForEverySchemeAndTheBypassList) {
  wchar_t proxy[PROXY_TEXT_SIZE];
  EXPECT_TRUE(ProxyForScheme(L"https=s:443; HTTP=p:80;http=q:80", L"http", proxy, PROXY_TEXT_SIZE));
  EXPECT_STREQ(L"p:80", proxy);
  EXPECT_TRUE(ProxyForScheme(L" all:3128 http=p:80", L"http", proxy, PROXY_TEXT_SIZE));
  EXPECT_STREQ(L"p:80", proxy);
  EXPECT_TRUE(ProxyForScheme(L"all:3128;socks=s:1080", L"http", proxy, PROXY_TEXT_SIZE));
  EXPECT_STREQ(L"all:3128", proxy);
  EXPECT_FALSE(ProxyForScheme(L"https=s:443;socks=k:1", L"http", proxy, PROXY_TEXT_SIZE));
  EXPECT_FALSE(ProxyForScheme(L"all:3128", L"http", proxy, 8)) << "9 units do not fit in 8";
  EXPECT_TRUE(ProxyForScheme(L"all:312", L"http", proxy, 8));

  const wchar_t* list = L"<local>; *.corp.example, http://10.1.*;Files.Example.com";
  for (const wchar_t* host : {L"intranet", L"a.corp.example", L"b.a.corp.example", L"10.1.2.3", L"files.example.com"})
    EXPECT_TRUE(HostBypassesProxy(host, list)) << host;
  for (const wchar_t* host : {L"corp.example", L"10.10.2.3", L"www.example.com", L"files.example.com.cn"})
    EXPECT_FALSE(HostBypassesProxy(host, list)) << host;
  EXPECT_FALSE(HostBypassesProxy(L"intranet", L""));
  EXPECT_TRUE(HostBypassesProxy(L"a.b", L"*"));
}

}  // namespace
