// Checks a product's configuration text before it goes into setup.exe, the way
// the program itself will read it: lines split at LF, each at its first "=",
// nothing trimmed, the first occurrence of a key winning.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/setupstamp/text_encoding.h"

enum CheckSeverity { CHECK_WARNING, CHECK_ERROR };

struct CheckMessage {
  CheckSeverity severity;
  int line;  // 1-based; 0 for the file as a whole
  std::wstring text;
};

struct ConfigLine {
  int number;
  bool decoded;       // false when the line's bytes were not valid in the encoding
  std::wstring text;  // without its line end
};

// The keys that the program reads and that must hold a value. The runtime
// mirrors are not among them: a product for Vista and later needs none.
extern const wchar_t* const REQUIRED_KEYS[7];

// Splits the bytes into lines (LF, or CR LF: one CR before the LF is dropped; a
// final line without LF counts, a final LF adds no line), decodes each line in
// the detected encoding and reports lines that do not decode.
void ReadConfigLines(const std::string& bytes, TextEncoding& encoding,
                     std::vector<ConfigLine>& lines, std::vector<CheckMessage>& messages);

// A line split as the program splits it: at its first "=" into key and value,
// or, without one, the whole line as both. True when it holds a "=".
bool SplitConfigLine(const std::wstring& text, std::wstring& key, std::wstring& value);

// A key as the program will read it: the value of the first line that gives it.
struct ConfigKey {
  size_t index;  // of that line in the lines read
  int line;      // its number
  std::wstring value;
};

// The table the program builds from the lines that are stamped: every decoded,
// non-empty line, the first occurrence of a key winning.
void ReadConfigKeys(const std::vector<ConfigLine>& lines, std::map<std::wstring, ConfigKey>& keys);

// Every check on the decoded lines; messages are appended in line order, those
// about the whole file first.
void CheckConfigLines(const std::vector<ConfigLine>& lines, std::vector<CheckMessage>& messages);

// Whether the program reads the key: the eleven keys of the shipped text, the
// pin keys, "app.connections", "app.redirects", and the mirror keys "net2.urlN" and "app.urlN"
// with any mirror number (decimal, from 1 or 2, no leading zero).
bool IsKnownKey(const std::wstring& key);

// Empty when the download client would take the address; otherwise why not.
// `address` is the value as configured (UTF-16); the client sees its GBK bytes.
// When `remark` is given it receives what is odd about an address the client
// takes (empty when nothing is).
std::wstring CheckDownloadAddress(const std::wstring& address, std::wstring* remark = NULL);

// The nearest known key within two edits (letter case ignored), or empty.
std::wstring SuggestKnownKey(const std::wstring& key);

// "product.txt:3: error: text", or "product.txt: warning: text" for line 0.
std::wstring FormatCheckMessage(const std::wstring& fileName, const CheckMessage& message);

int CountMessages(const std::vector<CheckMessage>& messages, CheckSeverity severity);

// The text that goes into the resource: every non-empty line in GBK followed by
// CR LF. False when a line has no GBK form.
bool BuildStampedText(const std::vector<ConfigLine>& lines, std::string& bytes);
