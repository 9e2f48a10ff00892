#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_result.h"
#include "http/url.h"
#include "download/https_protocol.h"
#include "shell/user_texts.h"

namespace {

struct Parts {
  UrlSplit result;
  UrlScheme scheme;
  std::string host, path, port, refusal;
};

Parts SplitEither(const std::string& url) {
  char host[HOST_BUFFER_SIZE] = "", path[PATH_BUFFER_SIZE] = "", port[PORT_BUFFER_SIZE] = "";
  const char* refusal = NULL;
  Parts parts;
  parts.scheme = SCHEME_HTTPS;
  parts.result = SplitDownloadUrl(url.c_str(), &parts.scheme, host, path, port, &refusal);
  parts.host = host;
  parts.path = path;
  parts.port = port;
  parts.refusal = refusal != NULL ? refusal : "(null)";
  return parts;
}

TEST(SplitDownloadUrl, BothSchemesSplitAlikeWithTheirOwnDefaultPort) {
  Parts parts = SplitEither("https://example.test/dir/setup.exe?a=1");
  EXPECT_EQ(URL_SPLIT, parts.result);
  EXPECT_EQ(SCHEME_HTTPS, parts.scheme);
  EXPECT_EQ("example.test", parts.host);
  EXPECT_EQ("443", parts.port);
  EXPECT_EQ("/dir/setup.exe?a=1", parts.path);

  parts = SplitEither("https://example.test:8443/");
  EXPECT_EQ(SCHEME_HTTPS, parts.scheme);
  EXPECT_EQ("8443", parts.port);

  parts = SplitEither("http://example.test/x");
  EXPECT_EQ(URL_SPLIT, parts.result);
  EXPECT_EQ(SCHEME_HTTP, parts.scheme);
  EXPECT_EQ("80", parts.port);

  EXPECT_EQ(URL_NO_PATH, SplitEither("https://example.test").result);
  EXPECT_EQ(URL_NO_PATH, SplitEither("https://").result);
  for (const char* refused : {"HTTPS://example.test/", "Https://example.test/", "https:/example.test/",
                              "ftp://example.test/", "", "https:"})
    EXPECT_EQ(URL_BAD_SCHEME, SplitEither(refused).result) << refused;
  EXPECT_TRUE(IsHttpsUrl("https://x/"));
  EXPECT_FALSE(IsHttpsUrl("http://x/"));
  EXPECT_FALSE(IsHttpsUrl("HTTPS://x/"));
}

// The Winsock client's own splitter keeps refusing what it cannot fetch.
TEST(SplitDownloadUrl, PlainSplitterStillRefusesHttps) {
  char host[HOST_BUFFER_SIZE], path[PATH_BUFFER_SIZE], port[PORT_BUFFER_SIZE];
  const char* refusal = NULL;
  EXPECT_EQ(URL_BAD_SCHEME, SplitUrl("https://example.test/", host, path, port, &refusal));
}

TEST(SplitDownloadUrl, HttpsPartsHaveTheSameLimitsOnBothSides) {
  const std::string prefix = "https://";
  std::string url = prefix + "h/" + std::string(4095 - prefix.size() - 2, 'p');
  ASSERT_EQ(4095u, url.size());
  EXPECT_EQ("path longer than 1023 bytes", SplitEither(url).refusal);
  Parts parts = SplitEither(url + "p");
  EXPECT_EQ(URL_TOO_LONG, parts.result);
  EXPECT_EQ("url longer than 4095 bytes", parts.refusal);

  std::string host(1023, 'h');
  EXPECT_EQ(URL_SPLIT, SplitEither(prefix + host + "/").result);
  EXPECT_EQ("host longer than 1023 bytes", SplitEither(prefix + host + "h/").refusal);
  std::string path = "/" + std::string(1022, 'p');
  EXPECT_EQ(URL_SPLIT, SplitEither(prefix + "h" + path).result);
  EXPECT_EQ("path longer than 1023 bytes", SplitEither(prefix + "h" + path + "p").refusal);
  EXPECT_EQ("65535", SplitEither(prefix + "h:65535/").port);
  EXPECT_EQ("port longer than 5 characters", SplitEither(prefix + "h:123456/").refusal);
}

TEST(PortNumber, DigitsFrom1To65535Only) {
  EXPECT_EQ(1, PortNumber("1"));
  EXPECT_EQ(443, PortNumber("443"));
  EXPECT_EQ(8080, PortNumber("08080"));
  EXPECT_EQ(65535, PortNumber("65535"));
  for (const char* refused : {"65536", "0", "00000", "", "8o", " 80", "80 ", "-1", "+80", "99999"})
    EXPECT_EQ(0, PortNumber(refused)) << '"' << refused << '"';
}

// The library hands a value over with its size: a NUL before that end is
// found, the terminator behind it is not, and nothing past the size is read.
TEST(HeaderValue, ANulBeforeTheValuesEndIsFound) {
  const wchar_t value[] = L"12\0" L"34\0" L"\0";
  EXPECT_FALSE(HeaderValueHoldsNul(value, 2 * sizeof(wchar_t)));
  EXPECT_TRUE(HeaderValueHoldsNul(value, 3 * sizeof(wchar_t)));
  EXPECT_TRUE(HeaderValueHoldsNul(value, 5 * sizeof(wchar_t)));
  EXPECT_FALSE(HeaderValueHoldsNul(value + 3, 2 * sizeof(wchar_t)));
  EXPECT_FALSE(HeaderValueHoldsNul(value, 0));
}

std::vector<std::wstring> Reports;

void Record(DownloadStep step, int percent) {
  Reports.push_back(step != STEP_NONE && percent == PROGRESS_HIDDEN ? std::wstring(DownloadStepText(step)) : L"(malformed)");
}

// The notifications may come in any number, repeat, or not come at all: the
// texts go forward one step at a time and never back.
TEST(HttpsSteps, NotificationsMoveTheStepTextsForwardOnly) {
  EXPECT_EQ(STEP_CONNECTING, HttpsStepOfNotice(HTTPS_NOTICE_CONNECTING_TO_SERVER));
  EXPECT_EQ(STEP_SENDING, HttpsStepOfNotice(HTTPS_NOTICE_SENDING_REQUEST));
  EXPECT_EQ(STEP_LOOKING_UP, HttpsStepOfNotice(0x00000001));   // resolving: shown already
  EXPECT_EQ(STEP_LOOKING_UP, HttpsStepOfNotice(0x00010000));   // a secure failure

  Reports.clear();
  DownloadStep reached = STEP_LOOKING_UP;
  ReachHttpsStep(&reached, STEP_CONNECTING, Record);
  ReachHttpsStep(&reached, STEP_CONNECTING, Record);
  ReachHttpsStep(&reached, STEP_LOOKING_UP, Record);
  ReachHttpsStep(&reached, STEP_SENDING, Record);
  EXPECT_EQ((std::vector<std::wstring>{L"连接服务器...", L"发送请求..."}), Reports);
  EXPECT_EQ(STEP_SENDING, reached);

  // Without any notification the texts catch up in their order.
  Reports.clear();
  reached = STEP_LOOKING_UP;
  ReachHttpsStep(&reached, STEP_PARSING, Record);
  EXPECT_EQ((std::vector<std::wstring>{L"连接服务器...", L"发送请求...", L"解析响应..."}), Reports);

  reached = STEP_LOOKING_UP;
  ReachHttpsStep(&reached, STEP_SENDING, NULL);
  EXPECT_EQ(STEP_SENDING, reached);
}

TEST(WinHttpErrorMeaning, NamesTheCertificateAndChannelFailures) {
  EXPECT_STREQ("the certificate's issuer is not trusted", WinHttpErrorMeaning(12045));
  EXPECT_STREQ("the certificate does not name this host", WinHttpErrorMeaning(12038));
  EXPECT_STREQ("the certificate has expired or is not yet valid", WinHttpErrorMeaning(12037));
  EXPECT_STREQ("timed out: the server did not answer in time", WinHttpErrorMeaning(12002));
  EXPECT_EQ(0u, std::string(WinHttpErrorMeaning(12157)).find("secure channel error: the tls handshake failed"));
  EXPECT_STREQ(WinHttpErrorMeaning(12002), WinHttpErrorMeaning(10060));
  EXPECT_STREQ("not a known http library or network error; see the system's error codes", WinHttpErrorMeaning(5));
  EXPECT_STREQ(WinHttpErrorMeaning(5), WinHttpErrorMeaning(12000));
}

TEST(CertificateFlags, NamedInTheLibrarysOrderAndCutWithoutOverrun) {
  char text[160];
  EXPECT_EQ(0, DescribeCertificateFlags(0, text, sizeof text));
  EXPECT_STREQ("", text);
  // Invalid CA, wrong name, expired: the reasons a real system reports together.
  EXPECT_EQ(3, DescribeCertificateFlags(0x00000038, text, sizeof text));
  EXPECT_STREQ("untrusted issuer, wrong name, expired or not yet valid", text);
  EXPECT_EQ(1, DescribeCertificateFlags(0x80000000, text, sizeof text));
  EXPECT_STREQ("secure channel error", text);
  EXPECT_EQ(1, DescribeCertificateFlags(0x00000004 | 0x00000100, text, sizeof text));  // an unknown bit is skipped
  EXPECT_STREQ("revoked", text);
  EXPECT_EQ(8, DescribeCertificateFlags(0xFFFFFFFF, text, sizeof text));

  // Cut at the buffer's end, terminated, the byte behind it untouched.
  char small[12 + 1];
  small[12] = 'G';
  DescribeCertificateFlags(0x00000018, small, 12);
  EXPECT_STREQ("untrusted i", small);
  EXPECT_EQ('G', small[12]);
  EXPECT_EQ(0, DescribeCertificateFlags(0x8, small, 0));
  EXPECT_EQ('G', small[12]);
}

TEST(ProxyRoad, AutomaticWhereOfferedThenTheUsersSettingsInTheBrowsersOrder) {
  const UserProxySettings none = {true, false, false, false};
  const UserProxySettings detect = {true, true, false, false};
  const UserProxySettings script = {true, false, true, false};
  const UserProxySettings fixed = {true, false, false, true};
  const UserProxySettings all = {true, true, true, true};
  const UserProxySettings unread = {false, true, true, true};
  EXPECT_EQ(PROXY_ROAD_AUTOMATIC, ChooseProxyRoad(true, all));
  EXPECT_EQ(PROXY_ROAD_AUTOMATIC, ChooseProxyRoad(true, unread));
  EXPECT_EQ(PROXY_ROAD_DEFAULT, ChooseProxyRoad(false, none));
  EXPECT_EQ(PROXY_ROAD_DEFAULT, ChooseProxyRoad(false, unread));
  EXPECT_EQ(PROXY_ROAD_SCRIPT, ChooseProxyRoad(false, detect));
  EXPECT_EQ(PROXY_ROAD_SCRIPT, ChooseProxyRoad(false, script));
  EXPECT_EQ(PROXY_ROAD_SCRIPT, ChooseProxyRoad(false, all));
  EXPECT_EQ(PROXY_ROAD_STATIC, ChooseProxyRoad(false, fixed));
  // When the script names nothing, the fixed proxy is next, else the library's default.
  EXPECT_EQ(PROXY_ROAD_STATIC, ProxyRoadAfterScript(all));
  EXPECT_EQ(PROXY_ROAD_DEFAULT, ProxyRoadAfterScript(detect));
  EXPECT_EQ(PROXY_ROAD_DEFAULT, ProxyRoadAfterScript(unread));
}

TEST(HttpsReadSize, WhatRemainsAtMostOneRead) {
  EXPECT_EQ(HTTPS_READ_SIZE, HttpsReadSize(3 * HTTPS_READ_SIZE, 0));
  EXPECT_EQ(HTTPS_READ_SIZE, HttpsReadSize(HTTPS_READ_SIZE + 1, 0));
  EXPECT_EQ(1, HttpsReadSize(HTTPS_READ_SIZE + 1, HTTPS_READ_SIZE));
  EXPECT_EQ(10, HttpsReadSize(10, 0));
  EXPECT_EQ(5, HttpsReadSize(2147483647, 2147483647 - 5));
  EXPECT_EQ(700, HttpsReadSize(3 * HTTPS_READ_SIZE, 0, 700)) << "no more than the library holds";
  EXPECT_EQ(10, HttpsReadSize(10, 0, 4000000000u));
}

}  // namespace
