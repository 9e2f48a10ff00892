#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/config_table.h"
#include "http/url.h"
#include "test_files.h"
#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/file_access.h"

namespace {

// A complete configuration without any finding; lines 1 to 9.
const wchar_t BASE[] =
    L"app.name=印章测试\n"
    L"setup.text=安装程序\n"
    L"button.text=开始安装\n"
    L"summary=第一行\\n第二行\n"
    L"corp.name=北岸软件\n"
    L"corp.tel=电话 010-5555\n"
    L"net2.url1=http://127.0.0.1/dotnet.exe\n"
    L"net2.url2=http://127.0.0.1:3000/dotnet.exe\n"
    L"app.url=http://127.0.0.1:3000/brenvik-setupvv.exe\n";

std::vector<std::wstring> CheckBytes(const std::string& bytes) {
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(bytes, encoding, lines, messages);
  CheckConfigLines(lines, messages);
  std::vector<std::wstring> formatted;
  for (size_t i = 0; i < messages.size(); ++i)
    formatted.push_back(FormatCheckMessage(L"product.txt", messages[i]));
  return formatted;
}

std::vector<std::wstring> Check(const std::wstring& text) {
  return CheckBytes(Utf8FromWide(text));
}

std::wstring Base(const std::wstring& line, const std::wstring& replacement) {
  std::wstring text = ReplaceAll(BASE, line + L"\n", replacement);
  EXPECT_NE(text, BASE) << "the base text has no line " << Utf8FromWide(line);
  return text;
}

typedef std::vector<std::wstring> Messages;

TEST(ConfigCheck, CompleteTextsHaveNoFindings) {
  EXPECT_EQ(Messages(), Check(BASE));
  std::string sample;
  std::wstring failure;
  WCHAR path[MAX_PATH];
  GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring folder = FolderOfPath(path);
  ASSERT_TRUE(ReadWholeFile(folder + L"\\config.sample.txt", sample, failure)) << Utf8FromWide(failure);
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(sample, encoding, lines, messages);
  EXPECT_EQ(TEXT_GBK, encoding);
  EXPECT_EQ(11u, lines.size());
  CheckConfigLines(lines, messages);
  EXPECT_TRUE(messages.empty()) << "the shipped sample is clean; first: "
                                << (messages.empty() ? "" : Utf8FromWide(messages[0].text));
}

TEST(ConfigCheck, RequiredKeysMissingOrEmpty) {
  std::wstring text = Base(L"summary=第一行\\n第二行", L"summary=\n");
  text = ReplaceAll(text, L"corp.tel=电话 010-5555\n", L"");
  EXPECT_EQ(Messages({L"product.txt: error: required key \"corp.tel\" is missing",
                      L"product.txt:4: error: required key \"summary\" has an empty value"}),
            Check(text));
  for (size_t i = 0; i < sizeof(REQUIRED_KEYS) / sizeof(REQUIRED_KEYS[0]); ++i) {
    std::wstring key = REQUIRED_KEYS[i];
    text = BASE;
    size_t start = text.find(key + L"=");
    ASSERT_NE(std::wstring::npos, start) << Utf8FromWide(key);
    text.erase(start, text.find(L'\n', start) + 1 - start);
    Messages found = Check(text);
    ASSERT_FALSE(found.empty()) << Utf8FromWide(key);
    EXPECT_EQ(L"product.txt: error: required key \"" + key + L"\" is missing", found[0]);
  }
  // Only the first occurrence counts, so a value given later does not help.
  EXPECT_EQ(Messages({L"product.txt:1: error: required key \"app.name\" has an empty value",
                      L"product.txt:10: warning: key \"app.name\" given again: only line 1 counts, "
                      L"this line is ignored"}),
            Check(Base(L"app.name=印章测试", L"app.name=\n") + L"app.name=Later\n"));
}

TEST(ConfigCheck, CharactersThatGbkCannotHold) {
  EXPECT_EQ(Messages({L"product.txt:5: error: GBK (code page 936) cannot hold \"한\" (U+D55C), "
                      L"\"\U0001F600\" (U+1F600)"}),
            Check(Base(L"corp.name=北岸软件", L"corp.name=北岸한\U0001F600软件한\n")));
}

TEST(ConfigCheck, BlanksAroundTheEqualsSign) {
  EXPECT_EQ(Messages({L"product.txt: error: required key \"corp.name\" is missing",
                      L"product.txt:5: warning: blank before \"=\" becomes part of the key \"corp.name \" "
                      L"(the program looks for \"corp.name\")",
                      L"product.txt:5: warning: blank after \"=\" becomes part of the value of \"corp.name \""}),
            Check(Base(L"corp.name=北岸软件", L"corp.name = 北岸软件\n")));
  EXPECT_EQ(Messages({L"product.txt: error: required key \"corp.name\" is missing",
                      L"product.txt:5: warning: blank at the start of the line becomes part of the key "
                      L"\"\tcorp.name\" (the program looks for \"corp.name\")"}),
            Check(Base(L"corp.name=北岸软件", L"\tcorp.name=北岸软件\n")));
  // An ideographic blank at the end is as invisible as an ASCII one.
  EXPECT_EQ(Messages({L"product.txt:2: warning: blank at the end of the line becomes part of the value of "
                      L"\"setup.text\""}),
            Check(Base(L"setup.text=安装程序", L"setup.text=安装程序\u3000\n")));
}

TEST(ConfigCheck, RepeatedUnknownAndMalformedLines) {
  EXPECT_EQ(Messages({L"product.txt:10: warning: key \"corp.tel\" given again: only line 6 counts, "
                      L"this line is ignored",
                      L"product.txt:11: warning: empty line: the program skips it, and it is left out of "
                      L"the stamped text",
                      L"product.txt:12: warning: no \"=\" in the line: the program takes the whole line "
                      L"\"corp.fax 010\" as a key and as its value",
                      L"product.txt:13: warning: unknown key \"App.Name\": the program never reads it "
                      L"(did you mean \"app.name\"?)",
                      L"product.txt:14: warning: unknown key \"summery\": the program never reads it "
                      L"(did you mean \"summary\"?)",
                      L"product.txt:15: warning: unknown key \"colour\": the program never reads it",
                      L"product.txt:16: warning: unknown key \"net2.url01\": the program never reads it "
                      L"(did you mean \"net2.url1\"?)",
                      L"product.txt:17: warning: carriage return inside the line: it becomes part of the "
                      L"key or the value"}),
            Check(std::wstring(BASE) +
                  L"corp.tel=other\n\ncorp.fax 010\nApp.Name=x\nsummery=x\ncolour=red\n"
                  L"net2.url01=http://127.0.0.1/x\nnet4.url1=http://127.0.0.1/x\r\r\n"));
  // The known keys besides the required ones raise nothing.
  EXPECT_EQ(Messages(), Check(std::wstring(BASE) + L"net4.url1=http://a/b\nnet4.url2=\nnet2.url3=http://a/b\n"));
}

TEST(ConfigCheck, LineEndsAndLineNumbers) {
  std::string lf = Utf8FromWide(BASE) + "extra=1\n";
  std::string crlf = Utf8FromWide(ReplaceAll(BASE, L"\n", L"\r\n")) + "extra=1";
  Messages expected({L"product.txt:10: warning: unknown key \"extra\": the program never reads it"});
  EXPECT_EQ(expected, CheckBytes(lf));
  EXPECT_EQ(expected, CheckBytes(crlf)) << "CR LF, and a last line without a line end";
  EXPECT_EQ(expected, CheckBytes("\xEF\xBB\xBF" + crlf)) << "a byte-order mark is not part of line 1";
}

TEST(ConfigCheck, AddressesTheDownloadClientRefuses) {
  EXPECT_EQ(Messages({L"product.txt:9: warning: \"app.url\" has no \"vv\": every Windows version downloads "
                      L"the same build",
                      L"product.txt:9: error: the download client refuses the address in \"app.url\": "
                      L"it does not begin with \"http://\" or \"https://\" (lower case)"}),
            Check(Base(L"app.url=http://127.0.0.1:3000/brenvik-setupvv.exe", L"app.url=HTTP://host/a.exe\n")));
  EXPECT_EQ(Messages({L"product.txt:8: error: the download client refuses the address in \"net2.url2\": "
                      L"no \"/\" follows the host"}),
            Check(Base(L"net2.url2=http://127.0.0.1:3000/dotnet.exe", L"net2.url2=http://127.0.0.1:3000\n")));
  // https:// is taken, and held to the same rules.
  EXPECT_EQ(Messages(), Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=https://127.0.0.1/x.exe\n")));
  EXPECT_EQ(Messages({L"product.txt:7: error: the download client refuses the address in \"net2.url1\": "
                      L"its port \"99999\" is not a number from 1 to 65535"}),
            Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=https://127.0.0.1:99999/x.exe\n")));
  EXPECT_EQ(Messages({L"product.txt:7: warning: the address in \"net2.url1\" holds a blank or control "
                      L"character, which breaks the request line"}),
            Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=http://127.0.0.1/dot net.exe\n")));
}

TEST(ConfigCheck, AddressLimitsCountGbkBytes) {
  EXPECT_EQ(L"", CheckDownloadAddress(L"http://example.com/a"));
  EXPECT_EQ(L"no \"/\" follows the host", CheckDownloadAddress(L"http://example.com"));
  EXPECT_EQ(L"it does not begin with \"http://\" or \"https://\" (lower case)",
            CheckDownloadAddress(L"ftp://example.com/a"));
  EXPECT_EQ(L"it names no host", CheckDownloadAddress(L"http:///a"));
  EXPECT_EQ(L"its port \"99999\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:99999/a"));
  EXPECT_EQ(L"its port \"x\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:x/a"));
  EXPECT_EQ(L"its port \"65536\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:65536/a"));
  EXPECT_EQ(L"its port \"00000\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:00000/a"));
  EXPECT_EQ(L"its port \"\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:/a"));
  std::wstring remark = L"left over";
  EXPECT_EQ(L"", CheckDownloadAddress(L"http://h:65535/a", &remark));
  EXPECT_EQ(L"", remark);
  EXPECT_EQ(L"", CheckDownloadAddress(L"http://h:00001/a", &remark));
  EXPECT_EQ(L"its port \"00001\" has leading zeros: the download client connects to port 1 but sends \"00001\" "
            L"in the request's Host line, which a server may not recognise as its own; write \"1\"",
            remark);
  EXPECT_EQ(L"port longer than 5 characters", CheckDownloadAddress(L"http://h:123456/a"));
  EXPECT_EQ(L"host longer than 1023 bytes", CheckDownloadAddress(L"http://" + std::wstring(1024, L'h') + L"/a"));
  EXPECT_EQ(L"it is 5007 bytes long in GBK; at most 4095 fit",
            CheckDownloadAddress(L"http://h/" + std::wstring(4998, L'p')));
  // 400 Chinese characters are 800 bytes in GBK (1,200 in UTF-8): they fit.
  EXPECT_EQ(L"", CheckDownloadAddress(L"http://h/" + std::wstring(400, L'中')));
  EXPECT_EQ(L"path longer than 1023 bytes", CheckDownloadAddress(L"http://h/" + std::wstring(600, L'中')));
  // Host and path fit on their own, but not in one request.
  EXPECT_EQ(L"its request would be longer than 1023 bytes",
            CheckDownloadAddress(L"http://" + std::wstring(500, L'h') + L"/" + std::wstring(600, L'p')));
  EXPECT_EQ(L"it holds characters that GBK cannot hold", CheckDownloadAddress(L"http://h/한"));
}

// The same splitter decides for https:// addresses; the system's HTTP library
// writes their request, so neither its length limit nor the Host line remark applies.
TEST(ConfigCheck, HttpsAddressesByTheSameRules) {
  EXPECT_EQ(L"", CheckDownloadAddress(L"https://example.com/a"));
  EXPECT_EQ(L"", CheckDownloadAddress(L"https://example.com:8443/a?b=1"));
  EXPECT_EQ(L"no \"/\" follows the host", CheckDownloadAddress(L"https://example.com"));
  EXPECT_EQ(L"it does not begin with \"http://\" or \"https://\" (lower case)",
            CheckDownloadAddress(L"HTTPS://example.com/a"));
  EXPECT_EQ(L"it names no host", CheckDownloadAddress(L"https:///a"));
  EXPECT_EQ(L"its port \"0\" is not a number from 1 to 65535", CheckDownloadAddress(L"https://h:0/a"));
  EXPECT_EQ(L"its port \"https\" is not a number from 1 to 65535", CheckDownloadAddress(L"https://h:https/a"));
  EXPECT_EQ(L"host longer than 1023 bytes", CheckDownloadAddress(L"https://" + std::wstring(1024, L'h') + L"/a"));
  EXPECT_EQ(L"path longer than 1023 bytes", CheckDownloadAddress(L"https://h/" + std::wstring(1023, L'p')));
  std::wstring remark = L"left over";
  EXPECT_EQ(L"", CheckDownloadAddress(L"https://" + std::wstring(500, L'h') + L"/" + std::wstring(600, L'p'), &remark));
  EXPECT_EQ(L"", CheckDownloadAddress(L"https://h:00443/a", &remark));
  EXPECT_EQ(L"", remark);
}

// The findings that are errors, and what setup.exe's own parser makes of the
// text the tool would stamp (decoded as the program decodes its resource).
struct Verdict {
  Messages errors;
  ConfigParseResult parsed;
};

Verdict CheckAgainstTheProgram(const std::wstring& text) {
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(Utf8FromWide(text), encoding, lines, messages);
  CheckConfigLines(lines, messages);
  Verdict verdict;
  for (size_t i = 0; i < messages.size(); ++i)
    if (messages[i].severity == CHECK_ERROR) verdict.errors.push_back(FormatCheckMessage(L"product.txt", messages[i]));
  std::string stamped;
  EXPECT_TRUE(BuildStampedText(lines, stamped));
  std::wstring resource = WideFromGbkLoosely(stamped);
  static ConfigTable table;
  verdict.parsed = ParseConfigText(resource.data(), static_cast<int>(resource.size()), &table);
  return verdict;
}

// Found by the fuzzer: the tool passed texts that setup.exe refuses whole.
TEST(ConfigCheck, TextsPastTheProgramsLimitsAreRefused) {
  // BASE is 9 lines; each stamped line ends in CR LF.
  size_t baseUnits = std::wstring(BASE).size() + 9;
  std::wstring atLimit = BASE;
  size_t rest = CONFIG_TEXT_MAX - baseUnits;
  for (; rest > 1024; rest -= 1024) atLimit += L"app.name=" + std::wstring(1024 - 11, L'x') + L"\n";
  atLimit += L"app.name=" + std::wstring(rest - 11, L'x') + L"\n";
  Verdict verdict = CheckAgainstTheProgram(atLimit);
  EXPECT_EQ(Messages(), verdict.errors);
  EXPECT_EQ(CONFIG_PARSED, verdict.parsed);
  verdict = CheckAgainstTheProgram(atLimit + L"k\n");  // 3 units more, with its CR LF
  EXPECT_EQ(Messages({L"product.txt: error: the stamped text has 16387 characters (line ends included); setup.exe "
                      L"reads at most 16384 and refuses a longer configuration whole"}),
            verdict.errors);
  EXPECT_EQ(CONFIG_TEXT_TOO_LONG, verdict.parsed);

  std::wstring keys = BASE;
  for (int n = 9; n < CONFIG_MAX_ENTRIES; ++n) keys += L"pad" + std::to_wstring(n) + L"=x\n";
  verdict = CheckAgainstTheProgram(keys);
  EXPECT_EQ(Messages(), verdict.errors);
  EXPECT_EQ(CONFIG_PARSED, verdict.parsed);
  verdict = CheckAgainstTheProgram(keys + L"pad64=x\n");
  EXPECT_EQ(Messages({L"product.txt: error: 65 different keys; setup.exe reads at most 64 and refuses a "
                      L"configuration with more whole"}),
            verdict.errors);
  EXPECT_EQ(CONFIG_TOO_MANY_ENTRIES, verdict.parsed);
  // A key given again is one key: the table stays within its limit.
  EXPECT_EQ(Messages(), CheckAgainstTheProgram(keys + L"pad9=again\n").errors);
}

TEST(ConfigCheck, MirrorListEndsAtTheFirstGap) {
  EXPECT_EQ(Messages({L"product.txt:10: warning: \"net2.url4\" is never tried: the mirror list ends at "
                      L"\"net2.url3\", which is missing"}),
            Check(std::wstring(BASE) + L"net2.url4=http://127.0.0.1/d.exe\n"));
  EXPECT_EQ(Messages({L"product.txt:10: warning: \"net2.url3\" is never tried: the mirror list ends at "
                      L"\"net2.url2\", which is empty"}),
            Check(Base(L"net2.url2=http://127.0.0.1:3000/dotnet.exe", L"net2.url2=\n") +
                  L"net2.url3=http://127.0.0.1/d.exe\n"));
  // A mirror after the gap is still an address: a refused one is an error.
  EXPECT_EQ(Messages({L"product.txt:10: error: the download client refuses the address in \"net2.url12\": "
                      L"no \"/\" follows the host",
                      L"product.txt:10: warning: \"net2.url12\" is never tried: the mirror list ends at "
                      L"\"net2.url3\", which is missing"}),
            Check(std::wstring(BASE) + L"net2.url12=http://127.0.0.1\n"));
}

TEST(ConfigCheck, UndecodableLinesAreErrorsWithTheirNumber) {
  // Not UTF-8, so GBK; 0x81 0x20 is no GBK character.
  Messages found = CheckBytes("app.name=x\r\nsetup.text=\x81\x20\r\n");
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(),
                                   L"product.txt:2: error: bytes that are neither UTF-8 nor GBK (code page 936)"));
  found = CheckBytes("\xEF\xBB\xBF" "app.name=x\nsetup.text=\xD6\xD0\n");
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(),
                                   L"product.txt:2: error: bytes that are not UTF-8, in a file that begins "
                                   L"with a UTF-8 byte-order mark"));
  // A line that does not decode is not checked further: no second finding on it.
  EXPECT_EQ(1, std::count_if(found.begin(), found.end(),
                             [](const std::wstring& m) { return m.find(L"product.txt:2:") == 0; }));
}

TEST(ConfigCheck, KnownKeysAndMirrorNumbers) {
  // The mirror numbers themselves are setup.exe's own (MirrorKeys tests).
  const wchar_t* const known[] = {L"net2.url37", L"net4.url2", L"app.url", L"app.url10", L"app.sha256.v2",
                                  L"net2.sha256", L"app.connections", L"app.redirects"};
  for (const wchar_t* key : known) EXPECT_TRUE(IsKnownKey(key)) << Utf8FromWide(key);
  // "app.url1" (the first address is "app.url"), letter case, a zero character.
  const std::wstring unknown[] = {L"net2.url01", L"net4.url3", L"app.url1", L"APP.URL", L"",
                                  std::wstring(L"app.url2\0", 9), L"app.connection"};
  for (const std::wstring& key : unknown) EXPECT_FALSE(IsKnownKey(key)) << Utf8FromWide(key);
  EXPECT_EQ(L"app.sha256.v4", SuggestKnownKey(L"app.sha265.v4"));
  EXPECT_EQ(L"app.connections", SuggestKnownKey(L"app.connection"));
  EXPECT_EQ(L"app.url", SuggestKnownKey(L"app.url1"));
  EXPECT_EQ(L"app.url37", SuggestKnownKey(L"APP.URL37"));
}

// The product's further addresses: numbered as the runtime's mirrors, each
// checked as "app.url" is, with its "vv" in place.
TEST(ConfigCheck, ProductMirrorsAreCheckedAsAppUrlIs) {
  const std::wstring neverTried = L"\" is never tried: the mirror list ends at ";
  const struct {
    const wchar_t* extra;  // lines 10 on
    Messages expected;
  } rows[] = {
      {L"app.url2=https://mirror.example.com/brenvik-setupvv.exe\napp.url3=http://127.0.0.1/vv.exe\n", {}},
      {L"app.url2=http://[2001:db8::1]:3000/vv.exe\napp.url3=https://[::1]/vv.exe\n", {}},
      {L"app.url2=http://[::1/vv.exe\n",
       {L"product.txt:10: error: the download client refuses the address in \"app.url2\": bad ipv6 literal"}},
      {L"app.url3=http://127.0.0.1/vv.exe\n",
       {L"product.txt:10: warning: \"app.url3" + neverTried + L"\"app.url2\", which is missing"}},
      {L"app.url2=\napp.url3=http://127.0.0.1/vv.exe\n",
       {L"product.txt:11: warning: \"app.url3" + neverTried + L"\"app.url2\", which is empty"}},
      {L"app.url2=http://127.0.0.1/a.exe\n",
       {L"product.txt:10: warning: \"app.url2\" has no \"vv\": every Windows version downloads the same build"}},
      {L"app.url2=HTTP://127.0.0.1/vv.exe\n",
       {L"product.txt:10: error: the download client refuses the address in \"app.url2\": it does not begin with "
        L"\"http://\" or \"https://\" (lower case)"}},
      {L"app.url2=http://127.0.0.1:0vv/a.exe\n",
       {L"product.txt:10: error: the download client refuses the address in \"app.url2\": its port \"0v2\" is not "
        L"a number from 1 to 65535"}},
      {L"app.url2=http://127.0.0.1:03000/vv.exe\n",
       {L"product.txt:10: warning: the address in \"app.url2\": its port \"03000\" has leading zeros: the download "
        L"client connects to port 3000 but sends \"03000\" in the request's Host line, which a server may not "
        L"recognise as its own; write \"3000\""}},
      {L"app.url02=http://127.0.0.1/vv.exe\napp.url1=http://127.0.0.1/vv.exe\n",
       {L"product.txt:10: warning: unknown key \"app.url02\": the program never reads it (did you mean \"app.url2\"?)",
        L"product.txt:11: warning: unknown key \"app.url1\": the program never reads it (did you mean \"app.url\"?)"}},
  };
  for (const auto& row : rows) EXPECT_EQ(row.expected, Check(std::wstring(BASE) + row.extra)) << Utf8FromWide(row.extra);
  EXPECT_EQ(Messages({L"product.txt:10: error: the download client refuses the address in \"app.url2\": it is 4096 "
                      L"bytes long in GBK; at most 4095 fit"}),
            Check(std::wstring(BASE) + L"app.url2=http://h/vv" + std::wstring(URL_BUFFER_SIZE - 11, L'p') + L"\n"));
  // Without a first address the others are never tried either.
  EXPECT_EQ(Messages({L"product.txt: error: required key \"app.url\" is missing",
                      L"product.txt:9: warning: \"app.url2" + neverTried + L"\"app.url\", which is missing"}),
            Check(Base(L"app.url=http://127.0.0.1:3000/brenvik-setupvv.exe",
                       L"app.url2=http://127.0.0.1:3000/brenvik-setupvv.exe\n")));
}

TEST(ConfigCheck, ConnectionsFromOneToEightAndRedirectsFromZeroToNineInPlainDecimal) {
  for (const wchar_t* value : {L"1", L"8"})
    EXPECT_EQ(Messages(), Check(std::wstring(BASE) + L"app.connections=" + value + L"\n")) << Utf8FromWide(value);
  const std::wstring refused =
      L", not a number from 1 to 8 in plain decimal (no sign, blank or leading zero): setup.exe would download over "
      L"one connection";
  // The edges; the other malformed values are setup.exe's own (ConnectionSetting tests).
  for (const wchar_t* value : {L"0", L"9", L""})
    EXPECT_EQ(Messages({L"product.txt:10: error: \"app.connections\" is \"" + std::wstring(value) + L"\"" + refused}),
              Check(std::wstring(BASE) + L"app.connections=" + value + L"\n"))
        << Utf8FromWide(value);
  // Redirects: from 0 to 9, the edges on both sides.
  for (const wchar_t* value : {L"0", L"9"})
    EXPECT_EQ(Messages(), Check(std::wstring(BASE) + L"app.redirects=" + value + L"\n")) << Utf8FromWide(value);
  for (const wchar_t* value : {L"10", L"-1"})
    EXPECT_EQ(Messages({L"product.txt:10: error: \"app.redirects\" is \"" + std::wstring(value) +
                        L"\", not a number from 0 to 9 in plain decimal (no sign, blank or leading zero): setup.exe "
                        L"would follow no redirect"}),
              Check(std::wstring(BASE) + L"app.redirects=" + value + L"\n"))
        << Utf8FromWide(value);
  // A blank is part of the value: a warning for the blank, an error for the count.
  EXPECT_EQ(Messages({L"product.txt:10: warning: blank at the end of the line becomes part of the value of "
                      L"\"app.connections\"",
                      L"product.txt:10: error: \"app.connections\" is \"4 \"" + refused}),
            Check(std::wstring(BASE) + L"app.connections=4 \n"));
}

TEST(ConfigCheck, PinValuesAsSetupReadsThem) {
  const std::wstring digest(L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852b855");
  EXPECT_EQ(Messages(), Check(std::wstring(BASE) + L"app.sha256.v2=" + digest + L"\napp.sha256.v4=" + digest +
                              L"\nnet2.sha256=" + digest + L"\n"));
  EXPECT_EQ(Messages({L"product.txt:10: error: pin \"app.sha256.v2\" has an empty value, which setup.exe takes "
                      L"as a malformed pin and refuses the download; give the SHA-256 or leave the line out",
                      L"product.txt:11: error: pin \"app.sha256.v4\" is malformed, so setup.exe refuses the "
                      L"download: it has 66 characters; a pin is 64 hexadecimal digits",
                      L"product.txt:12: error: pin \"net2.sha256\" is malformed, so setup.exe refuses the "
                      L"download: character 1 is not a hexadecimal digit; a pin is 64 of them"}),
            Check(std::wstring(BASE) + L"app.sha256.v2=\napp.sha256.v4=0x" + digest + L"\nnet2.sha256=-" +
                  digest.substr(1) + L"\n"));
  // A blank after the digits is part of the value: a warning for the blank, an error for the pin.
  Messages found = Check(std::wstring(BASE) + L"net2.sha256=" + digest + L" \n");
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ(L"product.txt:10: warning: blank at the end of the line becomes part of the value of \"net2.sha256\"",
            found[0]);
  EXPECT_EQ(0u, found[1].find(L"product.txt:10: error: pin \"net2.sha256\" is malformed")) << Utf8FromWide(found[1]);
  // One product pin leaves the other build unchecked.
  EXPECT_EQ(Messages({L"product.txt:10: warning: \"app.sha256.v4\" is given but \"app.sha256.v2\" is not: on "
                      L"Windows XP to 7 the product installer is started unchecked"}),
            Check(std::wstring(BASE) + L"app.sha256.v4=" + digest + L"\n"));
  EXPECT_EQ(Messages({L"product.txt:10: warning: \"app.sha256.v2\" is given but \"app.sha256.v4\" is not: on "
                      L"Windows 8 and later the product installer is started unchecked"}),
            Check(std::wstring(BASE) + L"app.sha256.v2=" + digest + L"\n"));
}

TEST(ConfigCheck, PublisherPinValuesAsSetupReadsThem) {
  const std::wstring digest(L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852b855");
  // A publisher pin covers both builds: one SHA-256 pin beside it leaves nothing unchecked.
  EXPECT_EQ(Messages(), Check(std::wstring(BASE) + L"app.signer=" + digest + L"," + digest +
                              L"\nnet2.signer=" + digest + L"\napp.sha256.v2=" + digest + L"\n"));
  EXPECT_EQ(Messages({L"product.txt:10: error: publisher pin \"app.signer\" is malformed, so setup.exe refuses the "
                      L"download: key 2: it has 0 characters; a pin is 64 hexadecimal digits (comma-separated, no "
                      L"blanks)",
                      L"product.txt:11: error: publisher pin \"net2.signer\" is malformed, so setup.exe refuses the "
                      L"download: key 1: it has 0 characters; a pin is 64 hexadecimal digits (comma-separated, no "
                      L"blanks)"}),
            Check(std::wstring(BASE) + L"app.signer=" + digest + L",\nnet2.signer=\n"));
}

TEST(ConfigCheck, ConfigurationsThatSetupAcceptsAreNotRefused) {
  // getaddrinfo reads "080" as port 80; only the Host line keeps the zero.
  EXPECT_EQ(Messages({L"product.txt:7: warning: the address in \"net2.url1\": its port \"080\" has leading zeros: "
                      L"the download client connects to port 80 but sends \"080\" in the request's Host line, "
                      L"which a server may not recognise as its own; write \"80\""}),
            Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=http://127.0.0.1:080/dotnet.exe\n")));
  EXPECT_EQ(Messages({L"product.txt:9: warning: the address in \"app.url\": its port \"03000\" has leading zeros: "
                      L"the download client connects to port 3000 but sends \"03000\" in the request's Host "
                      L"line, which a server may not recognise as its own; write \"3000\""}),
            Check(Base(L"app.url=http://127.0.0.1:3000/brenvik-setupvv.exe",
                       L"app.url=http://127.0.0.1:03000/brenvik-setupvv.exe\n")));
  // No runtime mirror at all: fine for Vista and later, a dead end on XP.
  std::wstring noMirrors = Base(L"net2.url2=http://127.0.0.1:3000/dotnet.exe", L"");
  const std::wstring consequence =
      L"): on Windows XP without the .NET 2.0 runtime setup.exe stops with \"(X003)\"; nothing is needed for a "
      L"product for Vista and later";
  EXPECT_EQ(Messages({L"product.txt: warning: no runtime mirror (\"net2.url1\" is missing" + consequence}),
            Check(ReplaceAll(noMirrors, L"net2.url1=http://127.0.0.1/dotnet.exe\n", L"")));
  EXPECT_EQ(Messages({L"product.txt:7: warning: no runtime mirror (\"net2.url1\" is empty" + consequence}),
            Check(ReplaceAll(noMirrors, L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=")));
  // A second mirror without the first is never tried either.
  EXPECT_EQ(Messages({L"product.txt: warning: no runtime mirror (\"net2.url1\" is missing" + consequence,
                      L"product.txt:7: warning: \"net2.url2\" is never tried: the mirror list ends at "
                      L"\"net2.url1\", which is missing"}),
            Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"")));
}

TEST(DownloadClientPort, LeadingZerosAreReadAsDecimal) {
  // What the warning above relies on: the client passes the port text to getaddrinfo.
  WSADATA winsock;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &winsock));
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  const char* texts[] = {"080", "08080", "00021"};
  const int ports[] = {80, 8080, 21};
  for (int i = 0; i < 3; ++i) {
    addrinfo* found = NULL;
    ASSERT_EQ(0, getaddrinfo("127.0.0.1", texts[i], &hints, &found)) << texts[i];
    EXPECT_EQ(ports[i], ntohs(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_port)) << texts[i];
    freeaddrinfo(found);
  }
  WSACleanup();
}

TEST(StampedText, GbkWithCrLfAfterEveryLineAndNoEmptyLines) {
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(Utf8FromWide(L"app.name=中\n\nsetup.text=文\r\nlast=x"), encoding, lines, messages);
  std::string bytes;
  ASSERT_TRUE(BuildStampedText(lines, bytes));
  EXPECT_EQ("app.name=\xD6\xD0\r\nsetup.text=\xCE\xC4\r\nlast=x\r\n", bytes);
  lines.clear();
  ReadConfigLines(Utf8FromWide(L"app.name=한\n"), encoding, lines, messages);
  EXPECT_FALSE(BuildStampedText(lines, bytes));
}

TEST(ExeFiles, FolderOfPath) {
  EXPECT_EQ(L"C:\\dist", FolderOfPath(L"C:\\dist\\setup.exe"));
  EXPECT_EQ(L"C:\\", FolderOfPath(L"C:\\setup.exe"));
  EXPECT_EQ(L"out/sub", FolderOfPath(L"out/sub/setup.exe"));
  EXPECT_EQ(L".", FolderOfPath(L"setup.exe"));
  EXPECT_EQ(L"D:.", FolderOfPath(L"D:setup.exe"));
  EXPECT_EQ(L"error 5: access denied (read-only or protected)", DescribeFileError(ERROR_ACCESS_DENIED));
}

}  // namespace
