#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "download/http_client.h"
#include "http/date.h"
#include "http/url.h"
#include "http/request.h"
#include "http/head.h"
#include "http/head_reader.h"
#include "http/body_rules.h"
#include "http/redirect.h"

namespace {

struct Parts {
  UrlSplit result;
  std::string host, path, port, refusal;
};

Parts Split(const std::string& url) {
  char host[HOST_BUFFER_SIZE] = "", path[PATH_BUFFER_SIZE] = "", port[PORT_BUFFER_SIZE] = "";
  const char* refusal = NULL;
  Parts parts;
  parts.result = SplitUrl(url.c_str(), host, path, port, &refusal);
  parts.host = host;
  parts.path = path;
  parts.port = port;
  parts.refusal = refusal != NULL ? refusal : "(null)";
  return parts;
}

std::string Request(const char* host, const char* path, const char* port) {
  char request[REQUEST_BUFFER_SIZE];
  int length = BuildRequest(host, path, port, request);
  if (length < 0) return "(refused)";
  EXPECT_EQ((size_t)length, strlen(request));
  return request;
}

TEST(SplitUrl, HostPortAndPathWithItsQuery) {
  Parts parts = Split("http://example.test:8080/dir/setup.exe?a=1&b=/2");
  EXPECT_EQ(URL_SPLIT, parts.result);
  EXPECT_EQ("example.test", parts.host);
  EXPECT_EQ("8080", parts.port);
  EXPECT_EQ("/dir/setup.exe?a=1&b=/2", parts.path);

  parts = Split("http://example.test/");
  EXPECT_EQ(URL_SPLIT, parts.result);
  EXPECT_EQ("example.test", parts.host);
  EXPECT_EQ("80", parts.port);
  EXPECT_EQ("/", parts.path);

  // Only the first colon of the host part splits; an empty host or port is passed on as it is.
  parts = Split("http://a:b:c/x");
  EXPECT_EQ("a", parts.host);
  EXPECT_EQ("b:c", parts.port);
  parts = Split("http://:/x");
  EXPECT_EQ(URL_SPLIT, parts.result);
  EXPECT_EQ("", parts.host);
  EXPECT_EQ("", parts.port);

  // An IPv6 literal keeps its brackets (the Host line carries them); its port follows the "]".
  parts = Split("http://[2001:db8::1]:8080/x");
  EXPECT_EQ("[2001:db8::1] 8080", parts.host + " " + parts.port);
  EXPECT_EQ("[::1] 80", Split("http://[::1]/x").host + " " + Split("http://[::1]/x").port);
  EXPECT_EQ(URL_BAD_HOST, Split("http://[::1/x").result);
  EXPECT_EQ(URL_BAD_HOST, Split("http://[::1]8080/x").result);
}

// Where a Location leads from http://h:81/a/b?q ("" when nowhere), and whether the hop is made.
TEST(Redirect, LocationsResolveAndHopsAreDecided) {
  const char* const rows[][2] = {
      {"http://o:82/x.exe", "http://o:82/x.exe"}, {"HTTPS://o/x", "https://o/x"}, {"//o/", "http://o/"},
      {"//o", ""}, {"http://o?x", ""}, {"//[::1]:8/y?z", "http://[::1]:8/y?z"}, {"/c/./d/../e", "http://h:81/c/e"},
      {"c", "http://h:81/a/c"}, {"../../../c/", "http://h:81/c/"}, {"..", "http://h:81/"},
      {"?r", "http://h:81/a/b?r"}, {"c#f", "http://h:81/a/c"}, {"c?x/../y", "http://h:81/a/c?x/../y"},
      {"ftp://o/x", ""}, {"mailto:a@b", ""}, {"/a b", ""}, {"/\xE4", ""}, {"#only", ""}};
  for (const auto& row : rows) {
    char target[URL_BUFFER_SIZE] = "";
    EXPECT_EQ(row[1][0] != '\0', ResolveLocation("http://h:81/a/b?q", row[0], target)) << row[0];
    EXPECT_STREQ(row[1], row[1][0] != '\0' ? target : "") << row[0];
  }
  // The dot segments go before the download's splitter holds the path to its buffer.
  char target[URL_BUFFER_SIZE];
  EXPECT_TRUE(ResolveLocation("http://h/", ("http://h/" + std::string(1200, 'p') + "/../q").c_str(), target));
  EXPECT_STREQ("http://h/q", target);

  RedirectChain chain;
  BeginRedirectChain(&chain, "http://h/1", 2);
  const std::pair<const char*, RedirectHop> hops[] = {
      {"", REDIRECT_NO_LOCATION}, {"ftp://h/", REDIRECT_NOT_AN_ADDRESS}, {"/1", REDIRECT_LOOP},
      {"https://h/2", REDIRECT_FOLLOWED}, {"http://h/3", REDIRECT_DOWNGRADE}, {"//h/2", REDIRECT_LOOP},
      {"/3", REDIRECT_FOLLOWED}, {"/4", REDIRECT_TOO_MANY}};
  for (const auto& hop : hops) EXPECT_EQ(hop.second, DecideRedirect(&chain, hop.first)) << hop.first;
  EXPECT_STREQ("https://h/3", chain.visited[2]);
}

TEST(SplitUrl, SchemeIsByteExactAndAPathIsNeeded) {
  EXPECT_EQ(URL_BAD_SCHEME, Split("HTTP://example.test/").result);
  EXPECT_EQ(URL_BAD_SCHEME, Split("https://example.test/").result);
  EXPECT_EQ(URL_BAD_SCHEME, Split("http:/").result);
  EXPECT_EQ(URL_BAD_SCHEME, Split("").result);
  EXPECT_EQ(URL_NO_PATH, Split("http://example.test").result);
  EXPECT_EQ(URL_NO_PATH, Split("http://example.test:80?x=1").result);
  EXPECT_EQ(URL_NO_PATH, Split("http://").result);
}

TEST(SplitUrl, EveryPartIsRefusedOneByteBeyondItsBuffer) {
  const std::string prefix = "http://";
  // The 8-bit URL: 4,095 bytes fit (then its path is what is too long), 4,096 do not.
  std::string url = prefix + "h/" + std::string(4095 - prefix.size() - 2, 'p');
  ASSERT_EQ(4095u, url.size());
  EXPECT_EQ("path longer than 1023 bytes", Split(url).refusal);
  Parts parts = Split(url + "p");
  EXPECT_EQ(URL_TOO_LONG, parts.result);
  EXPECT_EQ("url longer than 4095 bytes", parts.refusal);
  // Too long wins over a wrong scheme: nothing past the buffer is looked at.
  EXPECT_EQ(URL_TOO_LONG, Split("ftp://" + std::string(5000, 'x')).result);

  // The host part, port included, and the path: 1,023 bytes each.
  std::string host1023(1023, 'h');
  EXPECT_EQ(URL_SPLIT, Split(prefix + host1023 + "/").result);
  EXPECT_EQ(URL_SPLIT, Split(prefix + std::string(1018, 'h') + ":8080/").result);
  parts = Split(prefix + std::string(1019, 'h') + ":8080/");
  EXPECT_EQ(URL_TOO_LONG, parts.result);
  EXPECT_EQ("host longer than 1023 bytes", parts.refusal);
  EXPECT_EQ(URL_SPLIT, Split(prefix + "h/" + std::string(1022, 'p')).result);
  parts = Split(prefix + "h/" + std::string(1023, 'p'));
  EXPECT_EQ(URL_TOO_LONG, parts.result);
  EXPECT_EQ("path longer than 1023 bytes", parts.refusal);

  // The port text: five characters.
  EXPECT_EQ("65535", Split(prefix + "h:65535/").port);
  parts = Split(prefix + "h:655350/");
  EXPECT_EQ(URL_TOO_LONG, parts.result);
  EXPECT_EQ("port longer than 5 characters", parts.refusal);
}

TEST(BuildRequest, HostLineCarriesThePortUnlessItIsExactly80) {
  EXPECT_EQ("GET /f.exe HTTP/1.1\r\nHost: example.test\r\n\r\n",
            Request("example.test", "/f.exe", "80"));
  EXPECT_EQ("GET /f.exe HTTP/1.1\r\nHost: example.test:8080\r\n\r\n",
            Request("example.test", "/f.exe", "8080"));
  EXPECT_EQ("GET /f.exe HTTP/1.1\r\nHost: example.test:080\r\n\r\n",
            Request("example.test", "/f.exe", "080"));
  EXPECT_EQ("GET /d/f.exe?v=2&x=%20 HTTP/1.1\r\nHost: h:81\r\n\r\n",
            Request("h", "/d/f.exe?v=2&x=%20", "81"));
  // The split and the request together, from the URL.
  Parts parts = Split("http://example.test:80/a?b");
  EXPECT_EQ("GET /a?b HTTP/1.1\r\nHost: example.test\r\n\r\n",
            Request(parts.host.c_str(), parts.path.c_str(), parts.port.c_str()));
}

TEST(BuildRequest, RefusesARequestOverItsBuffer) {
  // Fixed text: "GET " + " HTTP/1.1\r\nHost: " + "\r\n\r\n" = 4 + 17 + 4 bytes.
  std::string host(500, 'h');
  std::string path = "/" + std::string(1023 - 25 - 500 - 1, 'p');
  std::string fits = Request(host.c_str(), path.c_str(), "80");
  EXPECT_EQ(1023u, fits.size());
  EXPECT_EQ("(refused)", Request(host.c_str(), (path + "p").c_str(), "80"));
  EXPECT_EQ("(refused)", Request(host.c_str(), path.c_str(), "8080"));
}

// One reader for every status line: the number for any "HTTP/" line of three
// digits, and the only 200 and 206 lines that a download takes.
TEST(StatusLine, NumberForEveryLineAndOnlyExact200And206Taken) {
  struct Row {
    const char* line;
    int status;
    bool whole200;
    bool partial;
  };
  const Row rows[] = {
      {"HTTP/1.1 200 OK", 200, true, false},           {"HTTP/1.0 200 OK", 200, true, false},
      {"HTTP/1.1 200 ok", 200, false, false},          {"HTTP/1.1 200 OK ", 200, false, false},
      {"HTTP/1.1 200", 200, false, false},             {"HTTP/1.1 200 OKAY", 200, false, false},
      {"HTTP/2 200 OK", 200, false, false},            {"http/1.1 200 OK", 0, false, false},
      {"HTTP/1.1 206 Partial Content", 206, false, true}, {"HTTP/1.0 206", 206, false, true},
      {"HTTP/1.1 2060", 0, false, false},              {"HTTP/1.1 503 Service Unavailable", 503, false, false},
      {"HTTP/1.0 429", 429, false, false},             {"HTTP/1.1 302 Found", 302, false, false},
      {"HTTP/1.1 5030", 0, false, false},              {"HTTP/1.1 50", 0, false, false},
      {"HTTP/1.1", 0, false, false},                   {"ICY 200 OK", 0, false, false},
      {"", 0, false, false},
  };
  for (const Row& row : rows) {
    StatusLine read = ReadStatusLine(row.line);
    EXPECT_EQ(row.status, read.status) << row.line;
    EXPECT_EQ(row.whole200, read.whole200) << row.line;
    EXPECT_EQ(row.partial, read.partial) << row.line;
  }
}

static_assert(DecimalDigits(9) == 1 && DecimalDigits(10) == 2 && DecimalDigits(2147483647) == 10 &&
                  DecimalDigits(9223372036854775807LL) == 19,
              "the digit limit follows from the largest length");
static_assert(LENGTH_VALUE_MAX == 9223372036854775807LL && LENGTH_DIGITS_MAX == 19, "lengths are signed 64-bit");

// The digit and value limits of a length, each member of a list alike
// (the forms a head may give are judged in the head table below).
TEST(LengthValue, ValuesAndRefusalsAtTheDigitAndValueLimits) {
  struct Case {
    const char* text;
    LengthValue read;
    long long value;
  } cases[] = {
      {"9223372036854775807", LENGTH_VALUE_TAKEN, LENGTH_VALUE_MAX},
      {"9223372036854775808", LENGTH_VALUE_TOO_LARGE, 0},
      {"0000000000000000123", LENGTH_VALUE_TAKEN, 123},
      {"00000000000000000123", LENGTH_VALUE_TOO_LARGE, 0},
      {"00000000000000000000", LENGTH_VALUE_TOO_LARGE, 0},
      {"99999999999999999999999999", LENGTH_VALUE_TOO_LARGE, 0},
      {"9223372036854775807, 9223372036854775807", LENGTH_VALUE_TAKEN, LENGTH_VALUE_MAX},
      {"5, 00000000000000000005", LENGTH_VALUE_TOO_LARGE, 0},
      {"9223372036854775807, 9223372036854775806", LENGTH_VALUE_LIST_DIFFERS, 0},
  };
  for (const Case& each : cases) {
    long long value = -1;
    EXPECT_EQ(each.read, ParseLengthValue(each.text, &value)) << each.text;
    EXPECT_EQ(each.value, value) << each.text;
  }
}

HeadRead FeedHead(HeadReader* reader, const std::string& bytes, bool partialAllowed) {
  BeginHeadReader(reader, HEAD_SIZE_LIMIT, 0, HEAD_TIME_LIMIT_MS);
  reader->head.partialAllowed = partialAllowed;
  HeadRead step = HEAD_READ_MORE;
  for (size_t i = 0; step == HEAD_READ_MORE && i < bytes.size(); ++i) step = ReadHeadByte(reader, bytes[i], 0);
  return step;
}

// The length at the edges of the numbers that hold it and of the lines that
// give it, each head read byte by byte as the client reads it: the length
// taken, or why the head is refused.
TEST(HeadLengths, EdgesOfTheNumbersAndOfTheLinesThatGiveThem) {
  const char* const refused = "content length refused: more digits or a larger value than a length may have";
  const char* const differ = "content length refused: two different values";
  const char* const cut = "content length refused: its line is cut";
  const char* const coding = "response head refused: a transfer coding is named";
  const char* const none = "no content length in the response head";
  const char* const notNumber = "content length refused: not a decimal number";
  const char* const ranges = "response head refused: two different content ranges";
  // A line of exactly HEAD_LINE_SIZE characters is examined as a cut one.
  const std::string pad = "X-Pad: " + std::string(HEAD_LINE_SIZE - 7, 'x');
  const std::string longLength = "Content-Length: 5" + std::string(HEAD_LINE_SIZE - 18, ' ');
  struct Case {
    bool partial;       // a 206 answer (to a request for a range)
    std::string lines;  // header lines, each ending in LF
    long long length;
    const char* refusal;
  } cases[] = {
      {false, "Content-Length: 2147483647\n", 2147483647LL, NULL},
      {false, "Content-Length: 2147483648\n", 2147483648LL, NULL},
      {false, "Content-Length: 4294967295\n", 4294967295LL, NULL},
      {false, "Content-Length: 4294967296\n", 4294967296LL, NULL},
      {false, "Content-Length: 4294967297\n", 4294967297LL, NULL},
      {false, "Content-Length: 9223372036854775807\n", LENGTH_VALUE_MAX, NULL},
      {false, "Content-Length: 9223372036854775808\n", 0, refused},
      {false, "Content-Length: 0000000000000000005\n", 5, NULL},
      {false, "Content-Length: 00000000000000000005\n", 0, refused},
      // Digits and nothing else (RFC 9110 section 8.6), blanks around them allowed.
      {false, "Content-Length: \t12 \t\n", 12, NULL},
      {false, "Content-Length: \n", 0, notNumber},
      {false, "Content-Length: abc\n", 0, notNumber},
      {false, "Content-Length: 12 bytes\n", 0, notNumber},
      {false, "Content-Length: 0x10\n", 0, notNumber},
      {false, "Content-Length: -5\n", 0, notNumber},
      {false, "Content-Length: 1 2\n", 0, notNumber},
      // A list of one value stands for it; different values or an empty member refuse it.
      {false, "Content-Length: 100, 100\n", 100, NULL},
      {false, "Content-Length: 7,7\t, 7 \nContent-Length: 7\n", 7, NULL},
      {false, "Content-Length: 100, 200\n", 0, differ},
      {false, "Content-Length: 5, 5\nContent-Length: 6\n", 0, differ},
      {false, "Content-Length: 5,,5\n", 0, notNumber},
      {false, "Content-Length: 5,\n", 0, notNumber},
      // Names in any case, directly followed by their colon.
      {false, "content-LENGTH:7\n", 7, NULL},
      {false, "Content-Length : 7\n", 0, none},
      {false, "X-Content-Length: 7\n", 0, none},
      // The same number again is one length; another number, or a refused one first, refuses it.
      {false, "Content-Length: 5\ncontent-length: 05\n", 5, NULL},
      {false, "Content-Length: 5\nContent-Length: 6\n", 0, differ},
      {false, "Content-Length: 99999999999999999999\nContent-Length: 5\n", 0, refused},
      // A piece behind a cut is no line of its own; a length line that is cut is no length.
      {false, pad + "Content-Length: 5\n", 0, none},
      {false, pad + "Content-Length: 5\nContent-Length: 3\n", 3, NULL},
      // A line of three pieces: its second one is a rest of it, although cut again.
      {false, pad + "Content-Length: 5" + std::string(HEAD_LINE_SIZE, 'y') + "\nContent-Length: 3\n", 3, NULL},
      {false, longLength + "\n", 5, NULL},
      {false, longLength + " \n", 0, cut},
      // Any transfer coding, in any case, cut or whole, with a length or without.
      {false, "Transfer-Encoding: chunked\n", 0, coding},
      {false, "Content-Length: 10\ntransfer-encoding: CHUNKED\n", 10, coding},
      {false, "Transfer-Encoding: identity\nContent-Length: 3\n", 3, coding},
      {false, "Transfer-Encoding: " + std::string(HEAD_LINE_SIZE, 'g') + "\nContent-Length: 3\n", 3, coding},
      {true, "Transfer-Encoding: chunked\nContent-Range: bytes 5-9/10\n", 0, coding},
      {true, "Content-Range: bytes 5-9/10\n", 0, NULL},
      {true, "Content-Range: bytes 5-9/10\nContent-Length: 5\n", 5, NULL},
      // A range given twice must read the same both times.
      {true, "Content-Range: bytes 5-9/10\ncontent-range: bytes 5-9/10 \n", 0, NULL},
      {true, "Content-Range: bytes 5-9/10\nContent-Range: bytes 0-4/10\n", 0, ranges},
      {true, "Content-Range: bytes 5-9/10\nContent-Range: bytes */10\n", 0, ranges},
  };
  for (const Case& each : cases) {
    HeadReader reader;
    std::string head = (each.partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n") + each.lines + "\r\n";
    ASSERT_EQ(HEAD_READ_ENDED, FeedHead(&reader, head, each.partial)) << each.lines;
    EXPECT_STREQ(each.refusal, HeadRefusal(reader.head)) << each.lines;
    EXPECT_EQ(each.length, reader.head.contentLength) << each.lines;
  }
}

TEST(HeadLines, TheStatusLineComesFirstAndIsNoHeader) {
  HeadState head;
  BeginHead(&head);
  EXPECT_FALSE(head.lengthSeen);
  EXPECT_FALSE(ExamineHeadLine(&head, "HTTP/1.1 302 Found"));
  // A length line in place of the status line is a refused status line.
  BeginHead(&head);
  EXPECT_FALSE(ExamineHeadLine(&head, "Content-Length: 5"));

  BeginHead(&head);
  EXPECT_TRUE(ExamineHeadLine(&head, "HTTP/1.0 200 OK"));
  // A later status-like line is just another head line.
  EXPECT_TRUE(ExamineHeadLine(&head, "HTTP/1.1 500 Internal Server Error"));
  EXPECT_TRUE(ExamineHeadLine(&head, "Content-Length: 3", LINE_CUT_REST));
  EXPECT_FALSE(head.lengthSeen) << "a piece behind a cut is no line";
  EXPECT_TRUE(ExamineHeadLine(&head, "Content-Length: 3"));
  EXPECT_EQ(3, head.contentLength);
  EXPECT_EQ(NULL, HeadRefusal(head));
}

// The one current form of an HTTP date, to the second, and nothing else.
TEST(HttpDate, TheImfFormToTheSecondAndNoOtherForm) {
  struct Case {
    const char* text;
    long long seconds;
  } cases[] = {
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Sun, 06 Nov 1994 08:49:37 GMT \t", 784111777},
      {"Mon, 07 Dec 2026 10:00:00 GMT", 1796637600},
      {"Tue, 29 Feb 2000 23:59:60 GMT", 951868800},
      {"Fri, 01 Mar 2024 00:00:00 GMT", 1709251200},
      {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799LL},
      // Dates that do not exist, numbers out of range, years before 1970.
      {"Thu, 29 Feb 2100 00:00:00 GMT", HTTP_DATE_NONE},
      {"Thu, 31 Apr 2026 00:00:00 GMT", HTTP_DATE_NONE},
      {"Thu, 00 Jan 2026 00:00:00 GMT", HTTP_DATE_NONE},
      {"Thu, 01 Jan 2026 24:00:00 GMT", HTTP_DATE_NONE},
      {"Thu, 01 Jan 2026 00:60:00 GMT", HTTP_DATE_NONE},
      {"Thu, 01 Jan 2026 00:00:61 GMT", HTTP_DATE_NONE},
      {"Wed, 01 Jan 1969 00:00:00 GMT", HTTP_DATE_NONE},
      // Not the form: case, names, blanks, zone, a cut or a longer text.
      {"Sun, 06 nov 1994 08:49:37 GMT", HTTP_DATE_NONE},
      {"Sun, 06 Nov 1994 08:49:37 gmt", HTTP_DATE_NONE},
      {"Xyz, 06 Nov 1994 08:49:37 GMT", HTTP_DATE_NONE},
      {"Sun, 6 Nov 1994 08:49:37 GMT", HTTP_DATE_NONE},
      {"Sun, 06 Nov 1994 08:49:37 UTC", HTTP_DATE_NONE},
      {"Sun, 06 Nov 1994 08:49:37 GMT+1", HTTP_DATE_NONE},
      {"Sun, 06 Nov 1994 08:49:37 GM", HTTP_DATE_NONE},
      {"Sun, 06 Nov 1994", HTTP_DATE_NONE},
      {"", HTTP_DATE_NONE},
      // The obsolete forms are not read: such a date never vouches for a file.
      {"Sunday, 06-Nov-94 08:49:37 GMT", HTTP_DATE_NONE},
      {"Sun Nov  6 08:49:37 1994", HTTP_DATE_NONE},
  };
  for (const auto& each : cases) EXPECT_EQ(each.seconds, ParseHttpDate(each.text)) << each.text;
}

TEST(BodyProgress, ReceiveSizesAndPercentages) {
  EXPECT_EQ(4096, BodyReceiveSize(10000, 0));
  EXPECT_EQ(1808, BodyReceiveSize(10000, 8192));
  EXPECT_EQ(1, BodyReceiveSize(4097, 4096));
  EXPECT_EQ(4096, BodyReceiveSize(2147483647, 2147483647 - 5000));
  EXPECT_EQ(10, BodyReceiveSize(4294967306LL, 4294967296LL));
  EXPECT_EQ(4096, BodyReceiveSize(LENGTH_VALUE_MAX, 0));
  EXPECT_EQ(1, BodyReceiveSize(LENGTH_VALUE_MAX, LENGTH_VALUE_MAX - 1));

  EXPECT_EQ(40, PercentReceived(4096, 10000));
  EXPECT_EQ(81, PercentReceived(8192, 10000));
  EXPECT_EQ(100, PercentReceived(10000, 10000));
  EXPECT_EQ(0, PercentReceived(1, 101));
  EXPECT_EQ(99, PercentReceived(2147483646, 2147483647));
  EXPECT_EQ(100, PercentReceived(2147483647, 2147483647));
  // Past 32 bits: neither count wraps, and the shares stay right.
  EXPECT_EQ(50, PercentReceived(4294967296LL, 8589934592LL));
  EXPECT_EQ(99, PercentReceived(4294967295LL * 100 - 1, 4294967295LL * 100));
  EXPECT_EQ(0, PercentReceived(LENGTH_VALUE_MAX / 101, LENGTH_VALUE_MAX));
  EXPECT_EQ(1, PercentReceived(LENGTH_VALUE_MAX / 100 + 1024, LENGTH_VALUE_MAX));
  EXPECT_EQ(100, PercentReceived(LENGTH_VALUE_MAX, LENGTH_VALUE_MAX));
  // Double precision, as on any other unit: k of 100 gives k, except where the
  // double quotient lies just below k / 100 (29, 57, 58). The x87 unit's wider
  // intermediate would give other answers.
  for (int k = 0; k <= 100; ++k) {
    int expected = (k == 29 || k == 57 || k == 58) ? k - 1 : k;
    EXPECT_EQ(expected, PercentReceived(k, 100)) << k;
  }
}

// The rest of a body fits when what the file grows by is at most the free
// bytes; a file written anew frees what it held, and so does the file it
// replaces. A FAT volume takes 4 GiB - 1 bytes and not one more.
TEST(BodyFitsOnDisk, TheGrowthAgainstTheFreeBytesFromBothSides) {
  EXPECT_TRUE(BodyFitsOnDisk(1000, 0, 1000));
  EXPECT_FALSE(BodyFitsOnDisk(1001, 0, 1000));
  EXPECT_TRUE(BodyFitsOnDisk(1000, 400, 600));
  EXPECT_FALSE(BodyFitsOnDisk(1000, 399, 600));
  EXPECT_TRUE(BodyFitsOnDisk(5, 400, 0)) << "smaller than what the file held";
  EXPECT_FALSE(BodyFitsOnDisk(-5, 0, ~0ULL)) << "a negative length never fits";
  EXPECT_FALSE(BodyFitsOnDisk(-LENGTH_VALUE_MAX, 400, 0));
  EXPECT_TRUE(BodyFitsOnDisk(LENGTH_VALUE_MAX, 0, 9223372036854775807ULL));
  EXPECT_FALSE(BodyFitsOnDisk(LENGTH_VALUE_MAX, 0, 9223372036854775806ULL));
  EXPECT_TRUE(BodyFitsOnDisk(4294967297LL, 1, 4294967296ULL));
  EXPECT_FALSE(BodyFitsOnDisk(4294967297LL, 0, 4294967296ULL));

  const long long any = LENGTH_VALUE_MAX;
  EXPECT_EQ(BODY_ROOM_FITS, JudgeBodyRoom(1000, 0, 400, 600, any));
  EXPECT_EQ(BODY_ROOM_DISK_FULL, JudgeBodyRoom(1000, 0, 399, 600, any));
  EXPECT_EQ(BODY_ROOM_FITS, JudgeBodyRoom(1000, 300, 100, 600, any));
  EXPECT_EQ(BODY_ROOM_DISK_FULL, JudgeBodyRoom(1000, 300, 99, 600, any));
  EXPECT_EQ(BODY_ROOM_FITS, JudgeBodyRoom(LENGTH_VALUE_MAX, 0, LENGTH_VALUE_MAX, ~0ULL, any)) << "no overflow";
  EXPECT_EQ(BODY_ROOM_DISK_FULL, JudgeBodyRoom(-1, 0, 400, ~0ULL, any));
  EXPECT_EQ(BODY_ROOM_FITS, JudgeBodyRoom(4294967295LL, 0, 0, ~0ULL, FAT_FILE_SIZE_MAX));
  EXPECT_EQ(BODY_ROOM_FILE_TOO_LARGE, JudgeBodyRoom(4294967296LL, 0, 0, ~0ULL, FAT_FILE_SIZE_MAX));
  EXPECT_EQ(BODY_ROOM_FILE_TOO_LARGE, JudgeBodyRoom(4294967296LL, 4294967295LL, 0, 0, FAT_FILE_SIZE_MAX))
      << "before the free bytes: a kept file that fits does not make its whole fit";
}

TEST(HeadBudget, SizeAndTimeLimitsHoldAcrossTheTickCountersWrap) {
  HeadBudget budget;
  BeginHeadBudget(&budget, 3, 100, 50);
  EXPECT_EQ(HEAD_SPEND_OK, SpendHeadByte(&budget, 100));
  EXPECT_EQ(HEAD_SPEND_OK, SpendHeadByte(&budget, 120));
  EXPECT_EQ(HEAD_SPEND_OK, SpendHeadByte(&budget, 150)) << "the last byte that fits, at the last moment";
  EXPECT_EQ(HEAD_SPEND_TOO_LONG, SpendHeadByte(&budget, 150));

  BeginHeadBudget(&budget, 100, 100, 50);
  EXPECT_EQ(HEAD_SPEND_TOO_SLOW, SpendHeadByte(&budget, 151));

  // Started 10 ms before the 32-bit counter wraps.
  BeginHeadBudget(&budget, 100, 0xFFFFFFF6u, 50);
  EXPECT_EQ(HEAD_SPEND_OK, SpendHeadByte(&budget, 30));
  EXPECT_EQ(HEAD_SPEND_TOO_SLOW, SpendHeadByte(&budget, 41));
}

// Feeds `bytes` to a reader at tick 0 until it decides; `used` counts the bytes it took.
HeadRead Feed(HeadReader* reader, const std::string& bytes, size_t* used, bool thenClose) {
  BeginHeadReader(reader, HEAD_SIZE_LIMIT, 0, HEAD_TIME_LIMIT_MS);
  HeadRead step = HEAD_READ_MORE;
  for (*used = 0; step == HEAD_READ_MORE && *used < bytes.size(); ++*used)
    step = ReadHeadByte(reader, bytes[*used], 0);
  return step == HEAD_READ_MORE && thenClose ? CloseHead(reader) : step;
}

TEST(HeadReader, EndsAtTheEmptyLineAndTakesNoByteOfTheBody) {
  HeadReader reader;
  size_t used = 0;
  const std::string head = "HTTP/1.1 200 OK\r\nCon\rtent-Length: 3\r\r\n\r\n";
  EXPECT_EQ(HEAD_READ_ENDED, Feed(&reader, head + "abc", &used, false));
  EXPECT_EQ(head.size(), used);
  EXPECT_EQ(3, reader.head.contentLength) << "every CR is dropped, inside a line as well";

  // A line of 1,024 characters, and one of 2,048, end in an empty rest: not the end of the head.
  for (size_t size : {1024u, 2048u}) {
    std::string line = "X-Pad: " + std::string(size - 7, 'x');
    EXPECT_EQ(HEAD_READ_ENDED, Feed(&reader, "HTTP/1.0 200 OK\n" + line + "\nContent-Length: 9\n\nbody", &used, false));
    EXPECT_EQ(9, reader.head.contentLength) << size;
  }
  // A piece that begins with a length line's name is no length line.
  EXPECT_EQ(HEAD_READ_ENDED,
            Feed(&reader, "HTTP/1.0 200 OK\nX: " + std::string(1021, 'x') + "Content-Length: 7\n\n", &used, false));
  EXPECT_FALSE(reader.head.lengthSeen);
}

TEST(HeadReader, RefusalsCutsAndTheConnectionsEnd) {
  HeadReader reader;
  size_t used = 0;
  EXPECT_EQ(HEAD_READ_REFUSED, Feed(&reader, "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\n", &used, false));
  EXPECT_STREQ("HTTP/1.1 404 Not Found", reader.line);
  EXPECT_EQ(24u, used) << "refused at the status line's LF";
  // A status line cut at 1,024 characters is refused with the piece, which the guard byte ends.
  EXPECT_EQ(HEAD_READ_REFUSED, Feed(&reader, "HTTP/1.1 200 OK" + std::string(2000, ' '), &used, false));
  EXPECT_EQ(1024u, strlen(reader.line));
  EXPECT_EQ(1024u, used);

  // The connection's end ends the line read so far, which is examined, but
  // only the empty line ends a head: one that stops before it is cut.
  EXPECT_EQ(HEAD_READ_CUT, Feed(&reader, "HTTP/1.1 200 OK\nContent-Length: 12", &used, true));
  EXPECT_EQ(12, reader.head.contentLength);
  EXPECT_EQ(HEAD_READ_CUT, Feed(&reader, "HTTP/1.1 200 OK\nContent-Length: 12\n", &used, true));
  EXPECT_EQ(HEAD_READ_REFUSED, Feed(&reader, "HTTP/1.1 200", &used, true));
  EXPECT_EQ(HEAD_READ_CUT, Feed(&reader, "", &used, true));
  EXPECT_FALSE(reader.head.lengthSeen);
}

// No server sends a NUL in a head: wherever it stands before the empty line,
// the head is refused at that byte, with its line up to it; in the body it is
// data.
TEST(HeadReader, ANulByteRefusesTheHeadWhereItStands) {
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    size_t used;
    std::string line;
  } cases[] = {
      {"HTTP/1.1 200\0 OK\r\n\r\n"s, 13, "HTTP/1.1 200"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4\0" "99\r\n\r\nbody"s, 35, "Content-Length: 4"},
      {"HTTP/1.1 200 OK\r\n\0\r\n"s, 18, ""},
      {"HTTP/1.1 200 OK\r\nX: \rab\0\r\n"s, 24, "X: ab"},
      // Behind a piece cut at 1,024 characters, the line holds the rest read so far.
      {"HTTP/1.1 200 OK\r\nX-Pad: " + std::string(1024 - 7, 'x') + "yz\0"s, 17 + 1024 + 3, "yz"},
  };
  HeadReader reader;
  size_t used = 0;
  for (const Case& each : cases) {
    EXPECT_EQ(HEAD_READ_NUL_BYTE, Feed(&reader, each.bytes, &used, true)) << each.line;
    EXPECT_EQ(each.used, used) << each.line;
    EXPECT_EQ(each.line, reader.line);
  }
  EXPECT_EQ(HEAD_READ_ENDED, Feed(&reader, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n\0\0"s, &used, false));
  EXPECT_EQ(2, reader.head.contentLength);
}

}  // namespace
