#include "install/payload_pin.h"

static int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

const wchar_t* ProductPinKey(const wchar_t* tag) {
  if (tag == 0 || tag[0] != L'v' || (tag[1] != L'2' && tag[1] != L'4') || tag[2] != L'\0') return 0;
  return tag[1] == L'2' ? PRODUCT_PIN_KEY_V2 : PRODUCT_PIN_KEY_V4;
}

bool ParsePin(const wchar_t* text, unsigned char digest[SHA256_SIZE]) {
  for (int i = 0; i < SHA256_SIZE; ++i) {
    // The terminator is no digit, so a short text stops here without reading past it.
    int high = HexValue(text[2 * i]);
    if (high < 0) return false;
    int low = HexValue(text[2 * i + 1]);
    if (low < 0) return false;
    digest[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return text[PIN_DIGITS] == L'\0';
}

void FormatDigest(const unsigned char digest[SHA256_SIZE], wchar_t text[PIN_DIGITS + 1]) {
  static const wchar_t DIGITS[] = L"0123456789abcdef";
  for (int i = 0; i < SHA256_SIZE; ++i) {
    text[2 * i] = DIGITS[digest[i] >> 4];
    text[2 * i + 1] = DIGITS[digest[i] & 15];
  }
  text[PIN_DIGITS] = L'\0';
}

bool DigestsEqual(const unsigned char a[SHA256_SIZE], const unsigned char b[SHA256_SIZE]) {
  unsigned difference = 0;
  for (int i = 0; i < SHA256_SIZE; ++i) difference |= static_cast<unsigned>(a[i] ^ b[i]);
  return difference == 0;
}
