#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_files.h"
#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/exe_resource.h"

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
                      L"it does not begin with \"http://\" (plain HTTP, lower case)"}),
            Check(Base(L"app.url=http://127.0.0.1:3000/brenvik-setupvv.exe", L"app.url=HTTP://host/a.exe\n")));
  EXPECT_EQ(Messages({L"product.txt:8: error: the download client refuses the address in \"net2.url2\": "
                      L"no \"/\" follows the host"}),
            Check(Base(L"net2.url2=http://127.0.0.1:3000/dotnet.exe", L"net2.url2=http://127.0.0.1:3000\n")));
  EXPECT_EQ(Messages({L"product.txt:7: error: the download client refuses the address in \"net2.url1\": "
                      L"it does not begin with \"http://\" (plain HTTP, lower case)"}),
            Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=https://127.0.0.1/x.exe\n")));
  EXPECT_EQ(Messages({L"product.txt:7: warning: the address in \"net2.url1\" holds a blank or control "
                      L"character, which breaks the request line"}),
            Check(Base(L"net2.url1=http://127.0.0.1/dotnet.exe", L"net2.url1=http://127.0.0.1/dot net.exe\n")));
}

TEST(ConfigCheck, AddressLimitsCountGbkBytes) {
  EXPECT_EQ(L"", CheckDownloadAddress(L"http://example.com/a"));
  EXPECT_EQ(L"no \"/\" follows the host", CheckDownloadAddress(L"http://example.com"));
  EXPECT_EQ(L"it does not begin with \"http://\" (plain HTTP, lower case)",
            CheckDownloadAddress(L"ftp://example.com/a"));
  EXPECT_EQ(L"it names no host", CheckDownloadAddress(L"http:///a"));
  EXPECT_EQ(L"its port \"99999\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:99999/a"));
  EXPECT_EQ(L"its port \"x\" is not a number from 1 to 65535", CheckDownloadAddress(L"http://h:x/a"));
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
  EXPECT_EQ(1, MirrorNumber(L"net2.url1"));
  EXPECT_EQ(10, MirrorNumber(L"net2.url10"));
  EXPECT_EQ(0, MirrorNumber(L"net2.url0"));
  EXPECT_EQ(0, MirrorNumber(L"net2.url01"));
  EXPECT_EQ(0, MirrorNumber(L"net2.url"));
  EXPECT_EQ(0, MirrorNumber(L"net2.url1a"));
  EXPECT_TRUE(IsKnownKey(L"net4.url2"));
  EXPECT_TRUE(IsKnownKey(L"net2.url37"));
  EXPECT_FALSE(IsKnownKey(L"net4.url3"));
  EXPECT_FALSE(IsKnownKey(L"APP.URL"));
  EXPECT_FALSE(IsKnownKey(L""));
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
  EXPECT_EQ(L"error 5: access denied (read-only or protected)", DescribeWin32Error(ERROR_ACCESS_DENIED));
}

}  // namespace
