#include "tools/setupstamp/text_encoding.h"

static bool IsHighSurrogate(unsigned long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
static bool IsLowSurrogate(unsigned long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// An element of a wide string as a code unit. Where wchar_t is wider than 16
// bits an element beyond 0xFFFF is no UTF-16 unit and comes out above it.
static unsigned long Unit(wchar_t element) {
  return static_cast<unsigned long>(static_cast<unsigned int>(element));
}

// Walks well-formed UTF-8, appending UTF-16 units to `text` when it is given.
// False at the first sequence that is not well-formed.
static bool DecodeUtf8(const std::string& bytes, std::wstring* text) {
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  size_t i = 0;
  while (i < size) {
    unsigned char lead = data[i];
    int trail;
    unsigned long codePoint;
    unsigned long smallest;
    if (lead < 0x80) {
      trail = 0; codePoint = lead; smallest = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      trail = 1; codePoint = lead & 0x1F; smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      trail = 2; codePoint = lead & 0x0F; smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      trail = 3; codePoint = lead & 0x07; smallest = 0x10000;
    } else {
      return false;
    }
    if (size - i <= static_cast<size_t>(trail)) return false;
    for (int k = 1; k <= trail; ++k) {
      if ((data[i + k] & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (data[i + k] & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF) return false;
    if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint)) return false;
    i += trail + 1;
    if (text == NULL) continue;
    if (codePoint < 0x10000) {
      *text += static_cast<wchar_t>(codePoint);
    } else {
      *text += static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
      *text += static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    }
  }
  return true;
}

bool IsValidUtf8(const std::string& bytes) {
  return DecodeUtf8(bytes, NULL);
}

TextEncoding DetectTextEncoding(const std::string& bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return TEXT_UTF8_BOM;
  return IsValidUtf8(bytes) ? TEXT_UTF8 : TEXT_GBK;
}

const wchar_t* TextEncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TEXT_UTF8_BOM: return L"UTF-8 with byte-order mark";
    case TEXT_UTF8: return L"UTF-8";
    default: return L"GBK (code page 936)";
  }
}

bool WideFromUtf8(const std::string& bytes, std::wstring& text) {
  text.clear();
  if (DecodeUtf8(bytes, &text)) return true;
  text.clear();
  return false;
}

std::string Utf8FromWide(const std::wstring& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned long codePoint = Unit(text[i]);
    if (IsHighSurrogate(codePoint) && i + 1 < text.size() && IsLowSurrogate(Unit(text[i + 1]))) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (Unit(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint) || codePoint > 0xFFFF) {
      codePoint = 0xFFFD;
    }
    if (codePoint < 0x80) {
      bytes += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
      bytes += static_cast<char>(0xC0 | (codePoint >> 6));
      bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
      bytes += static_cast<char>(0xE0 | (codePoint >> 12));
      bytes += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | (codePoint >> 18));
      bytes += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
      bytes += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
  }
  return bytes;
}

std::wstring FindNonGbkCharacters(const std::wstring& text) {
  std::wstring found;
  size_t i = 0;
  while (i < text.size()) {
    size_t length = 1;
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) length = 2;
    std::wstring character = text.substr(i, length);
    std::string ignored;
    if (!GbkFromWide(character, ignored) && found.find(character) == std::wstring::npos)
      found += character;
    i += length;
  }
  return found;
}
