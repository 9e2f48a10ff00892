// The native build's stand-in for gbk_code_page.cpp, which converts through
// Windows' code page 936: the same conversions through the C library's iconv
// and its GBK table. Only the fuzz targets link it.
#include <errno.h>
#include <iconv.h>

#include <string>

#include "tools/setupstamp/text_encoding.h"

// Converts `in` from one encoding to another; false at the first byte sequence
// that has no form in the other (or does not decode). With `loose`, a byte that
// does not decode becomes U+FFFD (as UTF-16LE) and the conversion goes on.
static bool Convert(iconv_t converter, const std::string& in, std::string& out, bool loose) {
  out.clear();
  if (converter == (iconv_t)-1) return false;
  iconv(converter, NULL, NULL, NULL, NULL);  // back to the initial state
  bool whole = true;
  char* source = const_cast<char*>(in.data());
  size_t sourceLeft = in.size();
  while (sourceLeft > 0) {
    char buffer[256];
    char* target = buffer;
    size_t targetLeft = sizeof buffer;
    size_t done = iconv(converter, &source, &sourceLeft, &target, &targetLeft);
    out.append(buffer, static_cast<size_t>(target - buffer));
    if (done != (size_t)-1 || errno == E2BIG) continue;
    if (!loose) {
      whole = false;
      break;
    }
    out.append("\xFD\xFF", 2);
    ++source;
    --sourceLeft;
  }
  return whole;
}

// Two bytes per code unit, little-endian.
static std::wstring UnitsFromBytes(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return text;
}

// Opened once: opening a converter costs far more than a short conversion.
static iconv_t FromGbk() {
  static iconv_t converter = iconv_open("UTF-16LE", "GBK");
  return converter;
}

static iconv_t ToGbk() {
  static iconv_t converter = iconv_open("GBK", "UTF-16LE");
  return converter;
}

bool WideFromGbk(const std::string& bytes, std::wstring& text) {
  std::string utf16;
  bool whole = Convert(FromGbk(), bytes, utf16, false);
  text = whole ? UnitsFromBytes(utf16) : std::wstring();
  return whole;
}

std::wstring WideFromGbkLoosely(const std::string& bytes) {
  std::string utf16;
  Convert(FromGbk(), bytes, utf16, true);
  return UnitsFromBytes(utf16);
}

bool GbkFromWide(const std::wstring& text, std::string& bytes) {
  std::string utf16;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned int unit = static_cast<unsigned int>(text[i]);
    if (unit > 0xFFFF) return false;
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  std::wstring back;
  return Convert(ToGbk(), utf16, bytes, false) && WideFromGbk(bytes, back) && back == text;
}
