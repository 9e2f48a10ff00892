#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/config_table.h"
#include "config/replace_all.h"
#include "config/setup_config.h"

namespace {

// One table for the whole program: it is too large for a test's stack.
ConfigTable Table;

ConfigParseResult Parse(const std::wstring& text) {
  return ParseConfigText(text.c_str(), static_cast<int>(text.size()), &Table);
}

// The value under `key`, or "(missing)".
std::wstring Value(const wchar_t* key) {
  const ConfigEntry* entry = FindConfigEntry(&Table, key);
  if (entry == NULL) return L"(missing)";
  return std::wstring(Table.text + entry->value, static_cast<size_t>(entry->valueLength));
}

TEST(ConfigLines, SplitAtTheFirstEqualsSignWithNothingTrimmed) {
  ASSERT_EQ(CONFIG_PARSED, Parse(L"a=b=c\n=x\nk=\nabc\n k = v \n"));
  EXPECT_EQ(5, Table.count);
  EXPECT_EQ(L"b=c", Value(L"a"));
  EXPECT_EQ(L"x", Value(L""));
  EXPECT_EQ(L"", Value(L"k"));
  EXPECT_EQ(L"abc", Value(L"abc"));
  EXPECT_EQ(L" v ", Value(L" k ")) << "blanks around '=' belong to the key";
  EXPECT_EQ(L"(missing)", Value(L"k "));
}

TEST(ConfigLines, CarriageReturnsAndEmptyLines) {
  // CR LF text; a line of only CR is an entry with empty key and value;
  // empty lines (leading LF, two LFs in a row) are skipped.
  ASSERT_EQ(CONFIG_PARSED, Parse(L"\na=1\r\n\r\n\n\nb=2\r\nc=3\r\r\n"));
  EXPECT_EQ(4, Table.count);
  EXPECT_EQ(L"1", Value(L"a"));
  EXPECT_EQ(L"2", Value(L"b"));
  EXPECT_EQ(L"3\r", Value(L"c")) << "only one CR before the LF is dropped";
  EXPECT_EQ(L"", Value(L""));
}

TEST(ConfigLines, FirstOccurrenceWinsAndKeysAreCaseSensitive) {
  ASSERT_EQ(CONFIG_PARSED, Parse(L"app.name=First\r\nApp.Name=Capital\r\napp.name=Second\r\n"));
  EXPECT_EQ(2, Table.count);
  EXPECT_EQ(L"First", Value(L"app.name"));
  EXPECT_EQ(L"Capital", Value(L"App.Name"));
}

TEST(ConfigLines, LastLineWithoutLineFeedAndEmptyText) {
  ASSERT_EQ(CONFIG_PARSED, Parse(L"a=1\r\nlast=yes"));
  EXPECT_EQ(L"yes", Value(L"last"));
  EXPECT_EQ(2, Table.count);
  EXPECT_EQ(CONFIG_PARSED, Parse(L""));
  EXPECT_EQ(0, Table.count);
  EXPECT_EQ(CONFIG_PARSED, Parse(L"\n\n"));
  EXPECT_EQ(0, Table.count);
}

TEST(ConfigLines, AZeroInsideAKeyIsPartOfIt) {
  const std::wstring text(L"a\0b=1\nab=2\n", 11);
  ASSERT_EQ(CONFIG_PARSED, Parse(text));
  EXPECT_EQ(2, Table.count);
  EXPECT_EQ(L"(missing)", Value(L"a")) << "the key is three characters long, not one";
  EXPECT_EQ(L"2", Value(L"ab"));
}

TEST(ConfigLimits, TextUpToTheLimitIsTakenOneMoreIsRefusedWhole) {
  // One line that fills the limit exactly.
  std::wstring text = L"k=" + std::wstring(CONFIG_TEXT_MAX - 4, L'v') + L"\r\n";
  ASSERT_EQ(static_cast<size_t>(CONFIG_TEXT_MAX), text.size());
  ASSERT_EQ(CONFIG_PARSED, Parse(text));
  EXPECT_EQ(static_cast<size_t>(CONFIG_TEXT_MAX - 4), Value(L"k").size());

  text = L"first=1\n" + text;
  EXPECT_EQ(CONFIG_TEXT_TOO_LONG, Parse(text));
  EXPECT_EQ(0, Table.count) << "nothing of a refused text is kept";
}

std::wstring NumberedKeys(int count) {
  std::wstring text;
  for (int i = 0; i < count; ++i)
    text += L"key" + std::to_wstring(i) + L"=" + std::to_wstring(i) + L"\r\n";
  return text;
}

TEST(ConfigLimits, KeysUpToTheLimitAreTakenOneMoreRefusesTheText) {
  ASSERT_EQ(CONFIG_PARSED, Parse(NumberedKeys(CONFIG_MAX_ENTRIES)));
  EXPECT_EQ(CONFIG_MAX_ENTRIES, Table.count);
  const std::wstring last = std::to_wstring(CONFIG_MAX_ENTRIES - 1);
  EXPECT_EQ(last, Value((L"key" + last).c_str()));

  // Repeated keys and empty lines are no entries and do not count.
  ASSERT_EQ(CONFIG_PARSED,
            Parse(NumberedKeys(CONFIG_MAX_ENTRIES) + L"\n\nkey0=again\r\nkey" + last + L"=again\n"));
  EXPECT_EQ(CONFIG_MAX_ENTRIES, Table.count);
  EXPECT_EQ(L"0", Value(L"key0"));

  EXPECT_EQ(CONFIG_TOO_MANY_ENTRIES, Parse(NumberedKeys(CONFIG_MAX_ENTRIES + 1)));
  EXPECT_EQ(0, Table.count) << "a table with its last keys missing would mean something else";
}

TEST(ConfigLookup, ValueIsCopiedWholeOrNotAtAll) {
  ASSERT_EQ(CONFIG_PARSED, Parse(L"four=abcd\nempty=\n"));
  wchar_t value[5] = L"xxxx";
  EXPECT_TRUE(CopyConfigValue(&Table, L"four", value, 5));
  EXPECT_STREQ(L"abcd", value);
  EXPECT_FALSE(CopyConfigValue(&Table, L"four", value, 4));
  EXPECT_STREQ(L"", value);

  wcscpy(value, L"xxxx");
  EXPECT_TRUE(CopyConfigValue(&Table, L"missing", value, 5));
  EXPECT_STREQ(L"", value) << "a missing key reads as an empty value";
  wcscpy(value, L"xxxx");
  EXPECT_TRUE(CopyConfigValue(&Table, L"empty", value, 1));
  EXPECT_STREQ(L"", value);
}

std::wstring Expanded(const wchar_t* value) {
  wchar_t text[64];
  EXPECT_TRUE(ExpandConfigEscapes(value, text, 64));
  return text;
}

TEST(ConfigEscapes, LineFeedPassRunsBeforeBackslashPass) {
  EXPECT_EQ(L"one\ntwo", Expanded(L"one\\ntwo"));
  EXPECT_EQ(L"a\\b", Expanded(L"a\\\\b"));
  // A doubled backslash before n: the line-feed pass takes the second backslash.
  EXPECT_EQ(L"x\\\ny", Expanded(L"x\\\\ny"));
  EXPECT_EQ(L"tab\\t stays", Expanded(L"tab\\t stays"));
  EXPECT_EQ(L"\\", Expanded(L"\\"));
}

TEST(ConfigEscapes, ExpandInPlace) {
  wchar_t text[16] = L"a\\nb\\\\\\\\nc";
  ASSERT_TRUE(ExpandConfigEscapes(text, text, 16));
  EXPECT_STREQ(L"a\nb\\\\\nc", text);
}

std::wstring Replaced(const wchar_t* source, const wchar_t* pattern, const wchar_t* replacement) {
  wchar_t result[64];
  EXPECT_TRUE(ReplaceAll(source, pattern, replacement, result, 64));
  return result;
}

TEST(ReplaceAllText, LeftToRightWithoutOverlapOrRescan) {
  EXPECT_EQ(L"ba", Replaced(L"aaa", L"aa", L"b"));
  EXPECT_EQ(L"aaaaaa", Replaced(L"aaa", L"a", L"aa"));
  EXPECT_EQ(L"http://h/p/brenvik-setupv4.exe?v4",
            Replaced(L"http://h/p/brenvik-setupvv.exe?vv", L"vv", L"v4"));
  EXPECT_EQ(L"vvv2v", Replaced(L"vvv", L"vv", L"vvv2"));
  EXPECT_EQ(L"no match", Replaced(L"no match", L"vv", L"v2"));
  EXPECT_EQ(L"", Replaced(L"", L"vv", L"v2"));
}

TEST(ReplaceAllText, EmptyPatternCopiesTheSourceUnchanged) {
  EXPECT_EQ(L"abc", Replaced(L"abc", L"", L"x"));
}

TEST(ReplaceAllText, AResultThatDoesNotFitIsRefusedNotCut) {
  wchar_t result[7] = L"xxxxxx";
  // "aaa" doubled is six characters: with the terminator exactly seven.
  EXPECT_TRUE(ReplaceAll(L"aaa", L"a", L"aa", result, 7));
  EXPECT_STREQ(L"aaaaaa", result);
  EXPECT_FALSE(ReplaceAll(L"aaa", L"a", L"aa", result, 6));
  EXPECT_STREQ(L"", result);
  // The same at the unchanged tail and for a source without the pattern.
  EXPECT_TRUE(ReplaceAll(L"a-tail", L"a", L"b", result, 7));
  EXPECT_FALSE(ReplaceAll(L"a-tail", L"a", L"b", result, 6));
  EXPECT_FALSE(ReplaceAll(L"abcdefg", L"x", L"y", result, 7));
  EXPECT_FALSE(ReplaceAll(L"", L"x", L"y", result, 0)) << "not even the terminator fits";
}

TEST(ReplaceAllText, ShorteningInPlace) {
  wchar_t text[32] = L"vv-xvvvx-vv";
  ASSERT_TRUE(ReplaceAll(text, L"vv", L"4", text, 32));
  EXPECT_STREQ(L"4-x4vx-4", text);
}

// The test executable carries the sample configuration as resource 1600/1601.
// The harness runs it with ANSI code page 936, as on a Chinese Windows.
TEST(ConfigResource, SampleLoadsFromTheExecutableWithTheAnsiCodePage) {
  ASSERT_EQ(936u, GetACP()) << "the harness should give Wine processes code page 936";
  std::vector<wchar_t> buffer(CONFIG_TEXT_MAX);
  int length = LoadConfigText(buffer.data());
  ASSERT_GT(length, 0);
  std::wstring text(buffer.data(), static_cast<size_t>(length));
  EXPECT_EQ(0u, text.find(L"app.name="));
  EXPECT_EQ(L"\r\n", text.substr(text.size() - 2));

  LoadSetupConfig();
  EXPECT_EQ(11, SetupConfig.count);
  wchar_t value[256];
  ASSERT_TRUE(GetConfigValue(L"setup.text", value, 256));
  EXPECT_STREQ(L"安装程序", value);
  ASSERT_TRUE(GetConfigValue(L"button.text", value, 256));
  EXPECT_STREQ(L"开始安装", value);
  ASSERT_TRUE(GetConfigValue(L"app.url", value, 256));
  EXPECT_STREQ(L"http://127.0.0.1:3000/package/brenvik/brenvik-setupvv.exe", value);
  ASSERT_TRUE(GetConfigValue(L"net2.url3", value, 256));
  EXPECT_STREQ(L"", value);

  // 57 characters: they fit 58 code units with the terminator, not 57.
  EXPECT_TRUE(GetConfigValue(L"app.url", value, 58));
  EXPECT_FALSE(GetConfigValue(L"app.url", value, 57));
  EXPECT_STREQ(L"", value);

  ASSERT_TRUE(GetConfigValue(L"summary", value, 256));
  EXPECT_NE(nullptr, wcsstr(value, L"\\n")) << "GetConfigValue keeps escapes";
  ASSERT_TRUE(GetConfigText(L"summary", value, 256));
  EXPECT_NE(nullptr, wcschr(value, L'\n'));
  EXPECT_EQ(nullptr, wcsstr(value, L"\\n"));
}

}  // namespace
