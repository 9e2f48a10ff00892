// The native tool's GBK (and the fuzz targets'): the conversions of
// gbk_code_page.cpp, which goes through Windows' code page 936, made one
// character at a time through the C library's iconv and its GBK table. Where
// the two tables differ, this file follows Windows' (compared pair by pair
// under Wine): the user-defined pairs, which glibc refuses, are Windows'
// private-use characters, and a loose decoding puts what Windows puts.
#include <iconv.h>

#include <string>

#include "tools/setupstamp/text_encoding.h"

// Runs of user-defined GBK pairs and the private-use characters that Windows
// gives them, in order: pairs from `first` to `last` (trail bytes 0x40 to 0xFE,
// not 0x7F) map to consecutive characters from `unit` on.
struct UserDefinedRun {
  unsigned short first;
  unsigned short last;
  unsigned short unit;
};

static const UserDefinedRun USER_DEFINED[] = {
    {0xA140, 0xA1A0, 0xE4C6}, {0xA240, 0xA2A0, 0xE526}, {0xA2AB, 0xA2B0, 0xE766}, {0xA2E3, 0xA2E4, 0xE76C},
    {0xA2EF, 0xA2F0, 0xE76E}, {0xA2FD, 0xA2FE, 0xE770}, {0xA340, 0xA3A0, 0xE586}, {0xA440, 0xA4A0, 0xE5E6},
    {0xA4F4, 0xA4FE, 0xE772}, {0xA540, 0xA5A0, 0xE646}, {0xA5F7, 0xA5FE, 0xE77D}, {0xA640, 0xA6A0, 0xE6A6},
    {0xA6B9, 0xA6C0, 0xE785}, {0xA6D9, 0xA6DF, 0xE78D}, {0xA6EC, 0xA6ED, 0xE794}, {0xA6F3, 0xA6F3, 0xE796},
    {0xA6F6, 0xA6FE, 0xE797}, {0xA740, 0xA7A0, 0xE706}, {0xA7C2, 0xA7D0, 0xE7A0}, {0xA7F2, 0xA7FE, 0xE7AF},
    {0xA896, 0xA8A0, 0xE7BC}, {0xA8BC, 0xA8BC, 0xE7C7}, {0xA8BF, 0xA8BF, 0xE7C8}, {0xA8C1, 0xA8C4, 0xE7C9},
    {0xA8EA, 0xA8FE, 0xE7CD}, {0xA958, 0xA958, 0xE7E2}, {0xA95B, 0xA95B, 0xE7E3}, {0xA95D, 0xA95F, 0xE7E4},
    {0xA989, 0xA995, 0xE7E7}, {0xA997, 0xA9A3, 0xE7F4}, {0xA9F0, 0xA9FE, 0xE801}, {0xAAA1, 0xAAFE, 0xE000},
    {0xABA1, 0xABFE, 0xE05E}, {0xACA1, 0xACFE, 0xE0BC}, {0xADA1, 0xADFE, 0xE11A}, {0xAEA1, 0xAEFE, 0xE178},
    {0xAFA1, 0xAFFE, 0xE1D6}, {0xD7FA, 0xD7FE, 0xE810}, {0xF8A1, 0xF8FE, 0xE234}, {0xF9A1, 0xF9FE, 0xE292},
    {0xFAA1, 0xFAFE, 0xE2F0}, {0xFBA1, 0xFBFE, 0xE34E}, {0xFCA1, 0xFCFE, 0xE3AC}, {0xFDA1, 0xFDFE, 0xE40A},
    {0xFE50, 0xFEA0, 0xE815}, {0xFEA1, 0xFEFE, 0xE468},
};

static const unsigned long QUESTION_MARK = 0x3F;
static const unsigned long LOOSE_FF = 0xF8F5;  // what Windows makes of a lone 0xFF

// The trail bytes between two pairs of one run, 0x7F left out.
static unsigned long TrailSteps(unsigned int from, unsigned int to) {
  return to - from - (from < 0x7F && to > 0x7F ? 1 : 0);
}

static bool UserDefinedUnit(unsigned int pair, unsigned long& unit) {
  unsigned int trail = pair & 0xFF;
  if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  for (size_t i = 0; i < sizeof(USER_DEFINED) / sizeof(USER_DEFINED[0]); ++i) {
    const UserDefinedRun& run = USER_DEFINED[i];
    if (pair < run.first || pair > run.last) continue;
    unit = run.unit + TrailSteps(run.first & 0xFF, trail);
    return true;
  }
  return false;
}

static bool UserDefinedPair(unsigned long unit, unsigned int& pair) {
  for (size_t i = 0; i < sizeof(USER_DEFINED) / sizeof(USER_DEFINED[0]); ++i) {
    const UserDefinedRun& run = USER_DEFINED[i];
    unsigned long count = TrailSteps(run.first & 0xFF, run.last & 0xFF) + 1;
    if (unit < run.unit || unit >= run.unit + count) continue;
    unsigned int trail = (run.first & 0xFF) + static_cast<unsigned int>(unit - run.unit);
    if ((run.first & 0xFF) < 0x7F && trail >= 0x7F) ++trail;
    pair = (run.first & 0xFF00) | trail;
    return true;
  }
  return false;
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

// One whole character through iconv; false when it has no form on the other side.
static bool ConvertOne(iconv_t converter, const char* in, size_t size, std::string& out) {
  out.clear();
  if (converter == (iconv_t)-1) return false;
  iconv(converter, NULL, NULL, NULL, NULL);  // back to the initial state
  char* source = const_cast<char*>(in);
  char buffer[8];
  char* target = buffer;
  size_t sourceLeft = size, targetLeft = sizeof buffer;
  if (iconv(converter, &source, &sourceLeft, &target, &targetLeft) == (size_t)-1 || sourceLeft != 0) return false;
  out.assign(buffer, static_cast<size_t>(target - buffer));
  return true;
}

// The character at `bytes[i]`; `used` bytes of it. False where Windows' strict
// conversion fails; `unit` is then what its loose one puts instead.
static bool DecodeOne(const std::string& bytes, size_t i, unsigned long& unit, size_t& used) {
  unsigned int lead = static_cast<unsigned char>(bytes[i]);
  used = 1;
  if (lead < 0x80) {
    unit = lead;
    return true;
  }
  if (lead == 0x80) {
    unit = 0x20AC;  // the euro sign, a single byte in code page 936
    return true;
  }
  if (lead == 0xFF) {
    unit = LOOSE_FF;
    return false;
  }
  unit = QUESTION_MARK;
  if (i + 1 == bytes.size()) return false;
  used = 2;  // a lead byte takes the next byte with it, whatever it is
  unsigned int pair = lead << 8 | static_cast<unsigned char>(bytes[i + 1]);
  if (UserDefinedUnit(pair, unit)) return true;
  std::string utf16;
  if (!ConvertOne(FromGbk(), bytes.data() + i, 2, utf16) || utf16.size() != 2) return false;
  unit = static_cast<unsigned char>(utf16[0]) | static_cast<unsigned char>(utf16[1]) << 8;
  return true;
}

bool WideFromGbk(const std::string& bytes, std::wstring& text) {
  text.clear();
  for (size_t i = 0; i < bytes.size();) {
    unsigned long unit = 0;
    size_t used = 0;
    if (!DecodeOne(bytes, i, unit, used)) {
      text.clear();
      return false;
    }
    text += static_cast<wchar_t>(unit);
    i += used;
  }
  return true;
}

std::wstring WideFromGbkLoosely(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 0; i < bytes.size();) {
    unsigned long unit = 0;
    size_t used = 0;
    DecodeOne(bytes, i, unit, used);
    text += static_cast<wchar_t>(unit);
    i += used;
  }
  return text;
}

bool GbkFromWide(const std::wstring& text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned long unit = static_cast<unsigned long>(static_cast<unsigned int>(text[i]));
    unsigned int pair = 0;
    if (unit > 0xFFFF || (unit >= 0xD800 && unit <= 0xDFFF)) return false;
    if (unit < 0x80) {
      bytes += static_cast<char>(unit);
    } else if (UserDefinedPair(unit, pair)) {
      bytes += static_cast<char>(pair >> 8);
      bytes += static_cast<char>(pair & 0xFF);
    } else {
      char utf16[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
      std::string encoded;
      if (!ConvertOne(ToGbk(), utf16, 2, encoded)) return false;
      bytes += encoded;
    }
  }
  // A character must come back as itself (no best fit).
  std::wstring back;
  return WideFromGbk(bytes, back) && back == text;
}
