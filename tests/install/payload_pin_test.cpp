#include <gtest/gtest.h>

#include <string>

#include "install/payload_pin.h"

namespace {

const wchar_t ABC_SHA256[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(PayloadPin, ReadsSixtyFourDigitsOfEitherCase) {
  unsigned char lower[SHA256_SIZE];
  unsigned char upper[SHA256_SIZE];
  ASSERT_TRUE(ParsePin(ABC_SHA256, lower));
  std::wstring shouted(ABC_SHA256);
  for (wchar_t& c : shouted) c = static_cast<wchar_t>(towupper(c));
  ASSERT_TRUE(ParsePin(shouted.c_str(), upper));
  EXPECT_TRUE(DigestsEqual(lower, upper));
  EXPECT_EQ(0xba, lower[0]);
  EXPECT_EQ(0xad, lower[31]);

  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(upper, text);
  EXPECT_STREQ(ABC_SHA256, text) << "formatted in lower case whatever the input";
}

TEST(PayloadPin, RefusesEverythingButExactlySixtyFourDigits) {
  unsigned char digest[SHA256_SIZE];
  const std::wstring good(ABC_SHA256);
  EXPECT_FALSE(ParsePin(L"", digest));
  EXPECT_FALSE(ParsePin(good.substr(0, 63).c_str(), digest)) << "one digit short";
  EXPECT_FALSE(ParsePin((good + L"0").c_str(), digest)) << "one digit over";
  EXPECT_FALSE(ParsePin((good + L" ").c_str(), digest)) << "a trailing blank";
  EXPECT_FALSE(ParsePin((L" " + good.substr(1)).c_str(), digest)) << "a leading blank";
  EXPECT_FALSE(ParsePin((good.substr(0, 63) + L"g").c_str(), digest));
  EXPECT_FALSE(ParsePin((L"0x" + good.substr(2)).c_str(), digest));
  // Characters just outside the digit ranges.
  for (wchar_t outside : {L'/', L':', L'@', L'G', L'`', L'g', static_cast<wchar_t>(0xFF10)}) {
    std::wstring bad = good;
    bad[10] = outside;
    EXPECT_FALSE(ParsePin(bad.c_str(), digest)) << static_cast<int>(outside);
  }
}

TEST(PayloadPin, KeysAndComparison) {
  EXPECT_STREQ(L"app.sha256.v2", ProductPinKey(L"v2"));
  EXPECT_STREQ(L"app.sha256.v4", ProductPinKey(L"v4"));
  EXPECT_EQ(nullptr, ProductPinKey(L"v3"));
  EXPECT_EQ(nullptr, ProductPinKey(L"v"));
  EXPECT_EQ(nullptr, ProductPinKey(L"v44"));

  unsigned char a[SHA256_SIZE] = {};
  unsigned char b[SHA256_SIZE] = {};
  EXPECT_TRUE(DigestsEqual(a, b));
  b[31] = 1;
  EXPECT_FALSE(DigestsEqual(a, b)) << "a difference in the last byte counts";
  b[31] = 0;
  b[0] = 0x80;
  EXPECT_FALSE(DigestsEqual(a, b));
}

}  // namespace
