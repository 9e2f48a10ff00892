// GBK through the system's code page 936 tables: the part of the text
// encodings that needs Windows, kept to the conversions themselves.
#include "tools/setupstamp/text_encoding.h"

#include <windows.h>

#include <vector>

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

bool WideFromGbk(const std::string& bytes, std::wstring& text) {
  return WideFromCodePage(GBK_CODE_PAGE, bytes, text);
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
