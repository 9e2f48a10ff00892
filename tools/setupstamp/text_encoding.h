// Byte encodings the stamping tool reads and writes: UTF-8 (the maker's editor),
// GBK (code page 936, what setup.exe decodes on a Chinese system) and UTF-16.
// A wide string holds UTF-16 code units, one per element whatever the width of
// wchar_t. UTF-8 is handled here as plain values; GBK goes through the system's
// code page tables (gbk_code_page.cpp).
#pragma once

#include <string>

const unsigned int GBK_CODE_PAGE = 936;

enum TextEncoding { TEXT_UTF8_BOM, TEXT_UTF8, TEXT_GBK };

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool IsValidUtf8(const std::string& bytes);

// A byte-order mark means UTF-8; so does well-formed UTF-8; anything else is GBK.
TextEncoding DetectTextEncoding(const std::string& bytes);

const wchar_t* TextEncodingName(TextEncoding encoding);

// Strict conversions: false when a byte sequence is not valid in the encoding.
// Characters above U+FFFF become surrogate pairs.
bool WideFromUtf8(const std::string& bytes, std::wstring& text);
bool WideFromGbk(const std::string& bytes, std::wstring& text);

// A surrogate without its partner becomes U+FFFD.
std::string Utf8FromWide(const std::wstring& text);

// The GBK bytes of the text; false when a character has no GBK form (a
// best-fit substitute counts as none: the text must come back unchanged).
bool GbkFromWide(const std::wstring& text, std::string& bytes);

// Code points of `text` that GBK cannot hold, in order, each once.
std::wstring FindNonGbkCharacters(const std::wstring& text);

// As setup.exe decodes its resource on a Chinese system: invalid bytes become
// replacement characters instead of failing.
std::wstring WideFromGbkLoosely(const std::string& bytes);
