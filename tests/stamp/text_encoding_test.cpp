#include <gtest/gtest.h>

#include <string>

#include "tools/setupstamp/text_encoding.h"

namespace {

TEST(TextEncoding, DetectsByteOrderMarkUtf8AndGbk) {
  EXPECT_EQ(TEXT_UTF8_BOM, DetectTextEncoding("\xEF\xBB\xBF" "a=\xD6\xD0"));
  EXPECT_EQ(TEXT_UTF8, DetectTextEncoding("a=b\r\n"));
  EXPECT_EQ(TEXT_UTF8, DetectTextEncoding(""));
  EXPECT_EQ(TEXT_UTF8, DetectTextEncoding("a=\xE4\xB8\xAD\xE6\x96\x87"));  // 中文 in UTF-8
  EXPECT_EQ(TEXT_GBK, DetectTextEncoding("a=\xD6\xD0\xCE\xC4"));           // 中文 in GBK
}

TEST(TextEncoding, MalformedUtf8IsNotUtf8) {
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));        // U+1F600
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));        // U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));               // overlong zero
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));           // overlong slash
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));           // a surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));       // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("a\xE4\xB8"));              // cut short at the end
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8" "a"));           // cut short before a letter
  EXPECT_FALSE(IsValidUtf8("\x80"));                   // a lone continuation byte
  EXPECT_FALSE(IsValidUtf8("\xFF"));
}

TEST(TextEncoding, StrictDecodingAndGbkRoundTrip) {
  std::wstring text;
  ASSERT_TRUE(WideFromUtf8("\xE4\xB8\xAD\xF0\x9F\x98\x80", text));
  EXPECT_EQ(L"中\U0001F600", text);
  EXPECT_FALSE(WideFromUtf8("\xC0\x80", text));
  ASSERT_TRUE(WideFromGbk("\xD6\xD0\xCE\xC4", text));
  EXPECT_EQ(L"中文", text);
  EXPECT_FALSE(WideFromGbk("\x81\x20", text));
  EXPECT_FALSE(WideFromGbk("\xD6", text)) << "a lead byte without its trail byte";

  std::string bytes;
  ASSERT_TRUE(GbkFromWide(L"北岸 Brenvik", bytes));
  EXPECT_EQ("\xB1\xB1\xB0\xB6 Brenvik", bytes);
  EXPECT_FALSE(GbkFromWide(L"a한", bytes));
  // As the program decodes: a bad byte pair does not lose the text around it.
  EXPECT_FALSE(WideFromGbk("\xD6\xD0\x81\x20" "a", text));
  std::wstring loose = WideFromGbkLoosely("\xD6\xD0\x81\x20" "a");
  ASSERT_GE(loose.size(), 3u);
  EXPECT_EQ(L'中', loose[0]);
  EXPECT_EQ(L'a', loose[loose.size() - 1]);
  EXPECT_EQ("\xE4\xB8\xAD", Utf8FromWide(L"中"));
}

TEST(TextEncoding, Utf8OfEveryWidthAndOfLoneSurrogates) {
  const std::wstring text = L"a\u00E9\u4E2D\U0001F600\uFFFF";
  const std::string bytes = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBF";
  EXPECT_EQ(bytes, Utf8FromWide(text));
  std::wstring back;
  ASSERT_TRUE(WideFromUtf8(bytes, back));
  EXPECT_EQ(text, back);
  // A surrogate without its partner has no UTF-8 form: it is written as U+FFFD.
  const std::wstring lone = {L'x', static_cast<wchar_t>(0xD83D), L'y', static_cast<wchar_t>(0xDE00)};
  EXPECT_EQ("x\xEF\xBF\xBDy\xEF\xBF\xBD", Utf8FromWide(lone));
  EXPECT_FALSE(WideFromUtf8("ok\xF4\x90\x80\x80", back));
  EXPECT_EQ(L"", back) << "a refused decoding leaves no text";
}

TEST(TextEncoding, CharactersWithoutGbkFormAreListedOnce) {
  EXPECT_EQ(L"", FindNonGbkCharacters(L"全是中文 and ASCII，标点。"));
  EXPECT_EQ(L"한\U0001F600", FindNonGbkCharacters(L"a한b\U0001F600c한"));
  // A character Windows would only approximate has no GBK form either.
  EXPECT_EQ(L"\u0100", FindNonGbkCharacters(L"\u0100")) << "Ā: GBK has ā but not Ā";
}

}  // namespace
