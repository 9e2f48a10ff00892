// The plain-value decisions of a download that survives breaks, and the proxy
// rules of an http:// address, called directly.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "http/date.h"
#include "http/proxy_rules.h"
#include "http/resume_rules.h"
#include "head_of.h"

namespace {

ResumePoint PointAt(long long kept, long long total, const char* etag) {
  ResumePoint point;
  BeginResumePoint(&point);
  point.validator.kind = VALIDATOR_ETAG;
  strcpy(point.validator.text, etag);
  strcpy(point.etag, etag);
  point.kept = kept;
  point.total = total;
  return point;
}

const char MODIFIED[] = "Mon, 07 Dec 2026 10:00:00 GMT";

// A strong tag, else a date that the answer's own Date makes strong (at
// least 60 s older), else none: a weak tag or a recent date cannot guard a splice.
TEST(ResumeRules, ValidatorIsAStrongTagElseAStrongDateElseNone) {
  struct Case {
    std::string lines;
    ValidatorKind kind;
    std::string text;
  } cases[] = {
      {"etag:  \"v1\" \t\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n", VALIDATOR_ETAG, "\"v1\""},
      {"ETag: W/\"v1\"\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\nDate: Mon, 07 Dec 2026 10:01:00 GMT\n",
       VALIDATOR_LAST_MODIFIED, MODIFIED},
      {"Date: Mon, 07 Dec 2026 10:00:59 GMT\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n", VALIDATOR_NONE, ""},
      {"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\nDate: Mon, 07 Dec 2026 10:00:00 GMT\n", VALIDATOR_NONE, ""},
      {"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\nDate: Sun, 06 Dec 2026 10:00:00 GMT\n", VALIDATOR_NONE, ""},
      {"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n", VALIDATOR_NONE, ""},
      // 30 s apart across the end of March in a leap year.
      {"Last-Modified: Sun, 31 Mar 2024 23:59:30 GMT\nDate: Mon, 01 Apr 2024 00:00:00 GMT\n", VALIDATOR_NONE, ""},
      // Dates in the obsolete forms are not read, and so never strong.
      {"Last-Modified: Monday, 07-Dec-26 10:00:00 GMT\nDate: Tue, 08 Dec 2026 10:00:00 GMT\n", VALIDATOR_NONE, ""},
      {"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\nDate: Tue Dec  8 10:00:00 2026\n", VALIDATOR_NONE, ""},
      {"ETag: W/\"v1\"\n", VALIDATOR_NONE, ""},
      // Too long to send back (255 bytes fit): none.
      {"ETag: " + std::string(255, 'e') + "\n", VALIDATOR_ETAG, std::string(255, 'e')},
      {"ETag: " + std::string(256, 'e') + "\n", VALIDATOR_NONE, ""},
  };
  for (const Case& each : cases) {
    Validator chosen;
    ChooseValidator(HeadOf("HTTP/1.1 200 OK\n" + each.lines), &chosen);
    EXPECT_EQ(each.kind, chosen.kind) << each.lines;
    EXPECT_EQ(each.text, chosen.text) << each.lines;
  }
  EXPECT_TRUE(IsStrongDate(1000, 1060));
  EXPECT_FALSE(IsStrongDate(1000, 1059));
  EXPECT_FALSE(IsStrongDate(HTTP_DATE_NONE, 1060));
  EXPECT_FALSE(IsStrongDate(1000, HTTP_DATE_NONE));

  // Only a piece of a cut line: none.
  HeadState head = HeadOf("HTTP/1.1 200 OK\n");
  EXPECT_TRUE(ExamineHeadLine(&head, "ETag: \"cut\"", LINE_CUT_FIRST));
  Validator chosen;
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
                          "bytes 0-1/9223372036854775808", "items 5-9/10", "bytes5-9/10",
                          "bytes 00000000000000000005-9/10", "bytes 5-00000000000000000009/10",
                          "bytes 5-9/00000000000000000010"})
    EXPECT_FALSE(ParseContentRange(bad, &range)) << bad;
  // Nineteen digits each, the largest value last: the last that are taken.
  ASSERT_TRUE(ParseContentRange("bytes 0000000000000000005-9223372036854775806/9223372036854775807", &range));
  EXPECT_EQ(5, range.first);
  EXPECT_EQ(9223372036854775806LL, range.last);
  EXPECT_EQ(LENGTH_VALUE_MAX, range.total);
  ASSERT_TRUE(ParseContentRange("bytes 4294967296-4294967297/4294967298", &range));
  EXPECT_EQ(4294967296LL, range.first);
}

TEST(ResumeRules, TheResumedRequestIsTheFirstOneWithRangeAndIfRange) {
  ResumePoint point = PointAt(4096, 10000, "\"v1\"");
  char request[RESUME_REQUEST_BUFFER_SIZE];
  EXPECT_EQ(73, BuildResumeRequest("h", "/a.exe", "8080", point, request));
  EXPECT_STREQ("GET /a.exe HTTP/1.1\r\nHost: h:8080\r\nRange: bytes=4096-\r\nIf-Range: \"v1\"\r\n\r\n", request);
  // A first request at its limit still takes the longest validator.
  memset(point.validator.text, 'v', VALIDATOR_SIZE - 1);
  point.validator.text[VALIDATOR_SIZE - 1] = '\0';
  point.kept = LENGTH_VALUE_MAX - 1;
  std::string path = "/" + std::string(1023 - 27, 'p');
  ASSERT_EQ(1023, BuildRequest("h", path.c_str(), "80", request));
  // "Range: bytes=9223372036854775806-" and "If-Range: " with the validator, each with its CR LF.
  EXPECT_EQ(1023 + 35 + 10 + 255 + 2, BuildResumeRequest("h", path.c_str(), "80", point, request));
  EXPECT_NE(nullptr, strstr(request, "\r\nRange: bytes=9223372036854775806-\r\n"));
  // Every count of digits, from byte 0 on, past 32 bits too.
  char headers[64 + VALIDATOR_SIZE];
  for (long long kept : {0LL, 1LL, 9LL, 10LL, 4294967295LL, 4294967296LL, 1000000000000000000LL}) {
    point.kept = kept;
    ASSERT_GT(BuildResumeHeaders(point, headers, sizeof headers), 0);
    EXPECT_EQ("Range: bytes=" + std::to_string(kept) + "-", std::string(headers, strchr(headers, '\r'))) << kept;
  }
}

// What an answer to a request for the rest means: appended only when it is
// exactly that rest of the same file; a 206 whose ETag (weak or strong) or
// date is not the first answer's is of a changed file, and the next try takes
// the whole of it.
TEST(ResumeRules, OnlyAnExactContinuationOfTheSameFileIsAppended) {
  ResumePoint tagged = PointAt(400, 1000, "\"v1\"");
  strcpy(tagged.lastModified, MODIFIED);
  // A weak tag and a strong date: the date went into If-Range.
  ResumePoint dated = PointAt(400, 1000, "W/\"v1\"");
  dated.validator.kind = VALIDATOR_LAST_MODIFIED;
  strcpy(dated.validator.text, MODIFIED);
  strcpy(dated.lastModified, MODIFIED);
  ResumePoint dateOnly = dated;
  dateOnly.etag[0] = '\0';
  const std::string rest = "HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-999/1000\n";
  struct Case {
    const ResumePoint& point;
    std::string head;
    ResumeAnswer expected;
  } cases[] = {
      {tagged, rest + "Content-Length: 600\nETag: \"v1\"\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n",
       RESUME_APPEND},
      {tagged, rest, RESUME_APPEND},
      {tagged, "HTTP/1.1 200 OK\nContent-Length: 1200\nETag: \"v2\"\n", RESUME_START_OVER},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Length: 600\n", RESUME_REFUSED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes */1000\n", RESUME_REFUSED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-999/1000\n", RESUME_REFUSED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes 401-999/1000\n", RESUME_REFUSED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-998/1000\n", RESUME_REFUSED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-1199/1200\n", RESUME_REFUSED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes 400-999/1200\n", RESUME_REFUSED},
      {tagged, rest + "Content-Length: 599\n", RESUME_REFUSED},
      {tagged, rest + "ETag: \"v2\"\n", RESUME_CHANGED},
      {tagged, rest + "ETag: W/\"v1\"\n", RESUME_CHANGED},
      {tagged, rest + "ETag: \"v1\"\nLast-Modified: Mon, 07 Dec 2026 10:00:01 GMT\n", RESUME_CHANGED},
      {tagged, "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-999/1000\nETag: \"v2\"\n", RESUME_CHANGED},
      {dated, rest + "ETag: W/\"v1\"\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n", RESUME_APPEND},
      {dated, rest + "ETag: W/\"v2\"\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n", RESUME_CHANGED},
      {dated, rest + "Last-Modified: Tue, 08 Dec 2026 10:00:00 GMT\n", RESUME_CHANGED},
      {dateOnly, rest + "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\n", RESUME_APPEND},
      {dateOnly, rest + "ETag: \"v2\"\n", RESUME_CHANGED},
  };
  for (const Case& each : cases) {
    const char* why = "";
    EXPECT_EQ(each.expected, JudgeResumeAnswer(HeadOf(each.head), each.point, &why)) << each.head;
    EXPECT_EQ(each.expected == RESUME_REFUSED || each.expected == RESUME_CHANGED, why[0] != '\0') << each.head;
  }
  // Past 32 bits, the rest of a file of LENGTH_VALUE_MAX bytes.
  const ResumePoint large = PointAt(4294967296LL, LENGTH_VALUE_MAX, "\"v1\"");
  const char* why = "";
  EXPECT_EQ(RESUME_APPEND, JudgeResumeAnswer(HeadOf("HTTP/1.1 206\nContent-Length: 9223372032559808511\n"
                                                     "Content-Range: bytes 4294967296-9223372036854775806/"
                                                     "9223372036854775807\n"),
                                              large, &why));
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
  EXPECT_EQ(AFTER_TRY_AGAIN, DecideAfterTry(TRY_CHANGED, 1)) << "a changed file is taken whole on the next try";
  EXPECT_EQ(AFTER_TRY_FAIL, DecideAfterTry(TRY_CHANGED, 5));

  const ResumePoint point = PointAt(400, 1000, "\"v1\"");
  EXPECT_TRUE(KeepPartialFile(point, TRY_BROKEN));
  EXPECT_TRUE(KeepPartialFile(point, TRY_NOT_CONNECTED));
  EXPECT_FALSE(KeepPartialFile(point, TRY_REFUSED));
  ResumePoint none = point;
  none.validator.kind = VALIDATOR_NONE;
  EXPECT_FALSE(KeepPartialFile(none, TRY_BROKEN));
  EXPECT_FALSE(KeepPartialFile(PointAt(0, 1000, "\"v1\""), TRY_BROKEN));

  EXPECT_EQ(ROAD_WINSOCK, ChooseDownloadRoad(SCHEME_HTTP, false));
  EXPECT_EQ(ROAD_WINHTTP, ChooseDownloadRoad(SCHEME_HTTP, true));
  EXPECT_EQ(ROAD_WINHTTP, ChooseDownloadRoad(SCHEME_HTTPS, false));
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
  EXPECT_TRUE(ProxyForScheme(L"first:1 second:2", L"http", proxy, PROXY_TEXT_SIZE));
  EXPECT_STREQ(L"first:1", proxy) << "of two entries for every scheme, the first";

  const wchar_t* list = L"<local>; *.corp.example, http://10.1.*;Files.Example.com";
  for (const wchar_t* host : {L"intranet", L"a.corp.example", L"b.a.corp.example", L"10.1.2.3", L"files.example.com"})
    EXPECT_TRUE(HostBypassesProxy(host, list)) << host;
  for (const wchar_t* host : {L"corp.example", L"10.10.2.3", L"www.example.com", L"files.example.com.cn"})
    EXPECT_FALSE(HostBypassesProxy(host, list)) << host;
  EXPECT_FALSE(HostBypassesProxy(L"intranet", L""));
  EXPECT_TRUE(HostBypassesProxy(L"a.b", L"*"));
}

}  // namespace
