#include <gtest/gtest.h>
#include <windows.h>

#include "config/replace_all.h"
#include "config/setup_config.h"

namespace {

ConfigTable Parse(const std::wstring& text) {
  ConfigTable table;
  ParseConfigText(text, table);
  return table;
}

TEST(ConfigLines, SplitAtTheFirstEqualsSignWithNothingTrimmed) {
  ConfigTable table = Parse(L"a=b=c\n=x\nk=\nabc\n k = v \n");
  EXPECT_EQ(5u, table.size());
  EXPECT_EQ(L"b=c", table[L"a"]);
  EXPECT_EQ(L"x", table[L""]);
  ASSERT_EQ(1u, table.count(L"k"));
  EXPECT_EQ(L"", table[L"k"]);
  EXPECT_EQ(L"abc", table[L"abc"]);
  ASSERT_EQ(1u, table.count(L" k ")) << "blanks around '=' belong to the key";
  EXPECT_EQ(L" v ", table[L" k "]);
}

TEST(ConfigLines, CarriageReturnsAndEmptyLines) {
  // CR LF text; a line of only CR is an entry with empty key and value;
  // empty lines (leading LF, two LFs in a row) are skipped.
  ConfigTable table = Parse(L"\na=1\r\n\r\n\n\nb=2\r\nc=3\r\r\n");
  EXPECT_EQ(4u, table.size());
  EXPECT_EQ(L"1", table[L"a"]);
  EXPECT_EQ(L"2", table[L"b"]);
  EXPECT_EQ(L"3\r", table[L"c"]) << "only one CR before the LF is dropped";
  ASSERT_EQ(1u, table.count(L""));
  EXPECT_EQ(L"", table[L""]);
}

TEST(ConfigLines, FirstOccurrenceWinsAndKeysAreCaseSensitive) {
  ConfigTable table = Parse(L"app.name=First\r\nApp.Name=Capital\r\napp.name=Second\r\n");
  EXPECT_EQ(2u, table.size());
  EXPECT_EQ(L"First", table[L"app.name"]);
  EXPECT_EQ(L"Capital", table[L"App.Name"]);
}

TEST(ConfigLines, LastLineWithoutLineFeedAndEmptyText) {
  ConfigTable table = Parse(L"a=1\r\nlast=yes");
  EXPECT_EQ(L"yes", table[L"last"]);
  EXPECT_EQ(2u, table.size());
  EXPECT_TRUE(Parse(L"").empty());
  EXPECT_TRUE(Parse(L"\n\n").empty());
}

TEST(ConfigEscapes, LineFeedPassRunsBeforeBackslashPass) {
  EXPECT_EQ(L"one\ntwo", ExpandConfigEscapes(L"one\\ntwo"));
  EXPECT_EQ(L"a\\b", ExpandConfigEscapes(L"a\\\\b"));
  // A doubled backslash before n: the line-feed pass takes the second backslash.
  EXPECT_EQ(L"x\\\ny", ExpandConfigEscapes(L"x\\\\ny"));
  EXPECT_EQ(L"tab\\t stays", ExpandConfigEscapes(L"tab\\t stays"));
  EXPECT_EQ(L"\\", ExpandConfigEscapes(L"\\"));
}

TEST(ReplaceAllText, LeftToRightWithoutOverlapOrRescan) {
  EXPECT_EQ(L"ba", ReplaceAll(L"aaa", L"aa", L"b"));
  EXPECT_EQ(L"aaaaaa", ReplaceAll(L"aaa", L"a", L"aa"));
  EXPECT_EQ(L"http://h/p/brenvik-setupv4.exe?v4",
            ReplaceAll(L"http://h/p/brenvik-setupvv.exe?vv", L"vv", L"v4"));
  EXPECT_EQ(L"vvv2v", ReplaceAll(L"vvv", L"vv", L"vvv2"));
  EXPECT_EQ(L"no match", ReplaceAll(L"no match", L"vv", L"v2"));
  EXPECT_EQ(L"", ReplaceAll(L"", L"vv", L"v2"));
}

TEST(ReplaceAllText, EmptyPatternReturnsTheSourceUnchanged) {
  EXPECT_EQ(L"abc", ReplaceAll(L"abc", L"", L"x"));
}

// The test executable carries the sample configuration as resource 1600/1601.
// The harness runs it with ANSI code page 936, as on a Chinese Windows.
TEST(ConfigResource, SampleLoadsFromTheExecutableWithTheAnsiCodePage) {
  ASSERT_EQ(936u, GetACP()) << "the harness should give Wine processes code page 936";
  std::wstring text = LoadConfigText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(0u, text.find(L"app.name="));
  EXPECT_EQ(L"\r\n", text.substr(text.size() - 2));

  SetupConfig.clear();
  LoadSetupConfig();
  EXPECT_EQ(11u, SetupConfig.size());
  EXPECT_EQ(L"安装程序", GetConfigValue(L"setup.text"));
  EXPECT_EQ(L"开始安装", GetConfigValue(L"button.text"));
  EXPECT_EQ(L"http://127.0.0.1:3000/package/brenvik/brenvik-setupvv.exe", GetConfigValue(L"app.url"));
  EXPECT_EQ(L"http://127.0.0.1:3000/download/c/NetFx20SP2_x86.exe", GetConfigValue(L"net2.url2"));
  EXPECT_EQ(L"", GetConfigValue(L"net2.url3"));

  std::wstring summary = GetConfigText(L"summary");
  EXPECT_NE(std::wstring::npos, summary.find(L'\n'));
  EXPECT_EQ(std::wstring::npos, summary.find(L"\\n"));
  EXPECT_NE(std::wstring::npos, GetConfigValue(L"summary").find(L"\\n")) << "GetConfigValue keeps escapes";
}

}  // namespace
