// --pin writes a digest into the lines the way setup.exe will read them back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/pin_option.h"
#include "tools/setupstamp/text_encoding.h"

namespace {

const std::wstring DIGEST(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
const std::wstring OTHER(64, L'0');

struct Pinned {
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
};

Pinned Pin(const std::wstring& text, const std::wstring& key, const std::wstring& digest) {
  Pinned pinned;
  TextEncoding encoding;
  ReadConfigLines(Utf8FromWide(text), encoding, pinned.lines, pinned.messages);
  ApplyPin(pinned.lines, key, digest, L"build\\installer.exe", pinned.messages);
  return pinned;
}

std::vector<std::wstring> Texts(const Pinned& pinned) {
  std::vector<std::wstring> texts;
  for (size_t i = 0; i < pinned.lines.size(); ++i) texts.push_back(pinned.lines[i].text);
  return texts;
}

TEST(PinOption, ReplacesTheValueThatCountsAndNamesBoth) {
  Pinned pinned = Pin(L"app.name=x\napp.sha256.v4=" + OTHER + L"\napp.sha256.v4=later\n", L"app.sha256.v4", DIGEST);
  EXPECT_EQ(std::vector<std::wstring>({L"app.name=x", L"app.sha256.v4=" + DIGEST, L"app.sha256.v4=later"}),
            Texts(pinned));
  ASSERT_EQ(1u, pinned.messages.size());
  EXPECT_EQ(L"product.txt:2: warning: \"app.sha256.v4\" was \"" + OTHER + L"\"; --pin sets it to \"" + DIGEST +
                L"\", the SHA-256 of build\\installer.exe",
            FormatCheckMessage(L"product.txt", pinned.messages[0]));

  // An empty value and a line without "=" (key and value both the whole line) are replaced the same way.
  pinned = Pin(L"net2.sha256=\n", L"net2.sha256", DIGEST);
  EXPECT_EQ(std::vector<std::wstring>({L"net2.sha256=" + DIGEST}), Texts(pinned));
  EXPECT_EQ(1u, pinned.messages.size());
  pinned = Pin(L"app.name=x\napp.sha256.v2\n", L"app.sha256.v2", DIGEST);
  EXPECT_EQ(std::vector<std::wstring>({L"app.name=x", L"app.sha256.v2=" + DIGEST}), Texts(pinned));
  ASSERT_EQ(1u, pinned.messages.size());
  EXPECT_EQ(2, pinned.messages[0].line);
}

TEST(PinOption, TheSameDigestInCapitalsStaysAsWritten) {
  std::wstring capitals = DIGEST;
  for (size_t i = 0; i < capitals.size(); ++i)
    if (capitals[i] >= L'a' && capitals[i] <= L'f') capitals[i] = capitals[i] - L'a' + L'A';
  Pinned pinned = Pin(L"app.sha256.v2=" + capitals + L"\n", L"app.sha256.v2", DIGEST);
  EXPECT_EQ(std::vector<std::wstring>({L"app.sha256.v2=" + capitals}), Texts(pinned));
  EXPECT_TRUE(pinned.messages.empty());
}

TEST(PinOption, AddsALineWhenNoLineGivesTheKey) {
  // A blank before "=" makes another key, which setup.exe would not read as the pin.
  Pinned pinned = Pin(L"app.name=x\r\napp.sha256.v4 =" + OTHER + L"\r\n", L"app.sha256.v4", DIGEST);
  EXPECT_EQ(std::vector<std::wstring>({L"app.name=x", L"app.sha256.v4 =" + OTHER, L"app.sha256.v4=" + DIGEST}),
            Texts(pinned));
  EXPECT_TRUE(pinned.messages.empty());
  EXPECT_EQ(0, pinned.lines.back().number) << "the file has no such line to name";
  std::string bytes;
  ASSERT_TRUE(BuildStampedText(pinned.lines, bytes));
  EXPECT_EQ(Utf8FromWide(L"app.name=x\r\napp.sha256.v4 =" + OTHER + L"\r\napp.sha256.v4=" + DIGEST + L"\r\n"),
            bytes);
}

TEST(PinOption, PinKeysAndProblems) {
  EXPECT_TRUE(IsPinKey(L"app.sha256.v2"));
  EXPECT_TRUE(IsPinKey(L"app.sha256.v4"));
  EXPECT_TRUE(IsPinKey(L"net2.sha256"));
  EXPECT_FALSE(IsPinKey(L"app.sha256.v3"));
  EXPECT_FALSE(IsPinKey(L"NET2.SHA256"));
  EXPECT_EQ(L"", DescribePinProblem(DIGEST));
  EXPECT_EQ(L"it has 63 characters; a pin is 64 hexadecimal digits", DescribePinProblem(DIGEST.substr(1)));
  EXPECT_EQ(L"it has 65 characters; a pin is 64 hexadecimal digits", DescribePinProblem(DIGEST + L"0"));
  EXPECT_EQ(L"character 64 is not a hexadecimal digit; a pin is 64 of them",
            DescribePinProblem(DIGEST.substr(0, 63) + L"g"));
  // A full-width digit looks like one but is not.
  EXPECT_EQ(L"character 1 is not a hexadecimal digit; a pin is 64 of them",
            DescribePinProblem(L"\uFF10" + DIGEST.substr(1)));
}

}  // namespace
