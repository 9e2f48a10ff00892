#include "tools/setupstamp/text_encoding.h"

#include <windows.h>

#include <vector>

bool IsValidUtf8(const std::string& bytes) {
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  size_t i = 0;
  while (i < size) {
    unsigned char lead = data[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    int trail;
    unsigned long codePoint;
    unsigned long smallest;
    if ((lead & 0xE0) == 0xC0) {
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
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return false;
    i += trail + 1;
  }
  return true;
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

static bool WideFromCodePage(UINT codePage, const std::string& bytes, std::wstring& text) {
  text.clear();
  if (bytes.empty()) return true;
  int size = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, NULL, 0);
  if (units <= 0) return false;
  std::vector<WCHAR> buffer(units);
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, buffer.data(), units);
  text.assign(buffer.data(), units);
  return true;
}

bool WideFromUtf8(const std::string& bytes, std::wstring& text) {
  // Checked here as well: older systems let some malformed UTF-8 through.
  if (!IsValidUtf8(bytes)) return false;
  return WideFromCodePage(CP_UTF8, bytes, text);
}

bool WideFromGbk(const std::string& bytes, std::wstring& text) {
  return WideFromCodePage(GBK_CODE_PAGE, bytes, text);
}

std::string Utf8FromWide(const std::wstring& text) {
  std::string bytes;
  if (text.empty()) return bytes;
  int units = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, NULL, 0, NULL, NULL);
  if (size <= 0) return bytes;
  std::vector<char> buffer(size);
  WideCharToMultiByte(CP_UTF8, 0, text.data(), units, buffer.data(), size, NULL, NULL);
  bytes.assign(buffer.data(), size);
  return bytes;
}

bool GbkFromWide(const std::wstring& text, std::string& bytes) {
  bytes.clear();
  if (text.empty()) return true;
  int units = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  int size = WideCharToMultiByte(GBK_CODE_PAGE, 0, text.data(), units, NULL, 0, NULL, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  std::vector<char> buffer(size);
  WideCharToMultiByte(GBK_CODE_PAGE, 0, text.data(), units, buffer.data(), size, NULL, &usedDefault);
  bytes.assign(buffer.data(), size);
  std::wstring back;
  return !usedDefault && WideFromGbk(bytes, back) && back == text;
}

std::wstring FindNonGbkCharacters(const std::wstring& text) {
  std::wstring found;
  size_t i = 0;
  while (i < text.size()) {
    size_t length = 1;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      length = 2;
    std::wstring character = text.substr(i, length);
    std::string ignored;
    if (!GbkFromWide(character, ignored) && found.find(character) == std::wstring::npos)
      found += character;
    i += length;
  }
  return found;
}

std::wstring WideFromGbkLoosely(const std::string& bytes) {
  std::wstring text;
  if (bytes.empty()) return text;
  int size = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(GBK_CODE_PAGE, 0, bytes.data(), size, NULL, 0);
  if (units <= 0) return text;
  std::vector<WCHAR> buffer(units);
  MultiByteToWideChar(GBK_CODE_PAGE, 0, bytes.data(), size, buffer.data(), units);
  text.assign(buffer.data(), units);
  return text;
}
