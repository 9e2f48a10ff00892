#include "tools/setupstamp/config_check.h"

#include <wchar.h>

#include <algorithm>

#include "config/config_table.h"
#include "config/replace_all.h"
#include "http/range_plan.h"
#include "http/redirect.h"
#include "http/url.h"
#include "http/request.h"
#include "install/connection_count.h"
#include "install/mirror_list.h"
#include "tools/setupstamp/pin_values.h"

const wchar_t* const REQUIRED_KEYS[7] = {
  L"app.name", L"setup.text", L"button.text", L"summary",
  L"corp.name", L"corp.tel", L"app.url"
};

// The keys of the shipped text, the pin keys, the connection and redirect counts; the
// mirror keys "net2.urlN" and "app.urlN" for other N are recognised apart.
static const wchar_t* const KNOWN_KEYS[19] = {
  L"app.name", L"setup.text", L"button.text", L"corp.name", L"corp.tel", L"summary",
  L"net2.url1", L"net2.url2", L"net4.url1", L"net4.url2", L"app.url", L"app.url2",
  PRODUCT_PIN_KEY_V2, PRODUCT_PIN_KEY_V4, RUNTIME_PIN_KEY, PRODUCT_SIGNER_KEY, RUNTIME_SIGNER_KEY, CONNECTIONS_KEY,
  REDIRECTS_KEY
};

static std::wstring Quoted(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

static std::wstring Number(long value) {
  wchar_t buffer[24];
  swprintf(buffer, 24, L"%ld", value);
  buffer[23] = L'\0';
  return buffer;
}

static void AddMessage(std::vector<CheckMessage>& messages, CheckSeverity severity, int line,
                       const std::wstring& text) {
  CheckMessage message;
  message.severity = severity;
  message.line = line;
  message.text = text;
  messages.push_back(message);
}

void ReadConfigLines(const std::string& bytes, TextEncoding& encoding,
                     std::vector<ConfigLine>& lines, std::vector<CheckMessage>& messages) {
  encoding = DetectTextEncoding(bytes);
  size_t start = encoding == TEXT_UTF8_BOM ? 3 : 0;
  int number = 0;
  // LF never occurs inside a GBK or UTF-8 character, so the bytes split safely.
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string raw = bytes.substr(start, end - start);
    start = end + 1;
    if (!raw.empty() && raw[raw.size() - 1] == '\r') raw.erase(raw.size() - 1);
    ConfigLine line;
    line.number = ++number;
    line.decoded = encoding == TEXT_GBK ? WideFromGbk(raw, line.text) : WideFromUtf8(raw, line.text);
    if (!line.decoded) {
      AddMessage(messages, CHECK_ERROR, line.number,
                 encoding == TEXT_UTF8_BOM
                     ? L"bytes that are not UTF-8, in a file that begins with a UTF-8 byte-order mark"
                     : L"bytes that are neither UTF-8 nor GBK (code page 936)");
    }
    lines.push_back(line);
  }
}

// A key holding a zero character is none of setup.exe's mirror keys, whatever comes before it.
static int MirrorNumberOf(const MirrorList& list, const std::wstring& key) {
  return key.find(L'\0') == std::wstring::npos ? MirrorNumber(list, key.c_str()) : 0;
}

static std::wstring MirrorKeyText(const MirrorList& list, int number) {
  wchar_t key[MIRROR_KEY_SIZE];
  MirrorKey(list, number, key);
  return key;
}

bool IsKnownKey(const std::wstring& key) {
  for (size_t i = 0; i < sizeof(KNOWN_KEYS) / sizeof(KNOWN_KEYS[0]); ++i)
    if (key == KNOWN_KEYS[i]) return true;
  return MirrorNumberOf(RUNTIME_MIRRORS, key) > 0 || MirrorNumberOf(PRODUCT_MIRRORS, key) > 0;
}

static std::wstring Lowered(const std::wstring& text) {
  std::wstring lowered = text;
  for (size_t i = 0; i < lowered.size(); ++i)
    if (lowered[i] >= L'A' && lowered[i] <= L'Z') lowered[i] = lowered[i] - L'A' + L'a';
  return lowered;
}

static size_t EditDistance(const std::wstring& a, const std::wstring& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      size_t substitute = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min(std::min(row[j - 1] + 1, above + 1), substitute);
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::wstring SuggestKnownKey(const std::wstring& key) {
  std::wstring lowered = Lowered(key);
  // Only the letter case differs (a mirror key with any number included).
  if (IsKnownKey(lowered)) return lowered;
  std::wstring best;
  size_t bestDistance = 3;
  for (size_t i = 0; i < sizeof(KNOWN_KEYS) / sizeof(KNOWN_KEYS[0]); ++i) {
    size_t distance = EditDistance(lowered, KNOWN_KEYS[i]);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = KNOWN_KEYS[i];
    }
  }
  return best;
}

// The address with every "vv" replaced by the tag, as setup.exe forms it. A tag
// is as long as "vv", so the result is as long as the address.
static std::wstring WithVersionTag(const std::wstring& url, const wchar_t* tag) {
  std::vector<wchar_t> tagged(url.size() + 1);
  ReplaceAll(url.c_str(), L"vv", tag, tagged.data(), static_cast<int>(tagged.size()));
  return tagged.data();
}

static std::wstring Widened(const char* text) {
  std::wstring wide;
  for (; *text != '\0'; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

std::wstring CheckDownloadAddress(const std::wstring& address, std::wstring* remark) {
  if (remark != NULL) remark->clear();
  // On a Chinese system the client converts the address with code page 936.
  std::string bytes;
  if (!GbkFromWide(address, bytes)) return L"it holds characters that GBK cannot hold";
  if (bytes.size() > static_cast<size_t>(URL_BUFFER_SIZE - 1))
    return L"it is " + Number(static_cast<long>(bytes.size())) + L" bytes long in GBK; at most " +
           Number(URL_BUFFER_SIZE - 1) + L" fit";
  char host[HOST_BUFFER_SIZE];
  char path[PATH_BUFFER_SIZE];
  char port[PORT_BUFFER_SIZE];
  char request[REQUEST_BUFFER_SIZE];
  const char* refusal = NULL;
  UrlScheme scheme = SCHEME_HTTP;
  UrlSplit split = SplitDownloadUrl(bytes.c_str(), &scheme, host, path, port, &refusal);
  if (split == URL_BAD_SCHEME) return L"it does not begin with \"http://\" or \"https://\" (lower case)";
  if (split == URL_NO_PATH) return L"no \"/\" follows the host";
  if (split != URL_SPLIT)
    return refusal != NULL ? Widened(refusal) : std::wstring(L"the client cannot split it");
  if (host[0] == '\0') return L"it names no host";
  long portNumber = PortNumber(port);
  if (portNumber == 0) return L"its port " + Quoted(Widened(port)) + L" is not a number from 1 to 65535";
  // The HTTPS client hands host, port number and path to the system's HTTP library, which writes the request.
  if (scheme == SCHEME_HTTPS) return std::wstring();
  if (BuildRequest(host, path, port, request) < 0)
    return L"its request would be longer than " + Number(REQUEST_BUFFER_SIZE - 1) + L" bytes";
  // The connection goes to the number, but the Host line carries the text as written.
  if (remark != NULL && port[0] == '0')
    *remark = L"its port " + Quoted(Widened(port)) + L" has leading zeros: the download client connects to port " +
              Number(portNumber) + L" but sends " + Quoted(Widened(port)) +
              L" in the request's Host line, which a server may not recognise as its own; write " +
              Quoted(Number(portNumber));
  return std::wstring();
}

static bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == 0x3000;
}

static bool HoldsBlankOrControl(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (IsBlank(text[i]) || text[i] < 0x20 || text[i] == 0x7F) return true;
  return false;
}

static std::wstring Trimmed(const std::wstring& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

static std::wstring DescribeCharacters(const std::wstring& characters) {
  std::wstring described;
  size_t i = 0;
  while (i < characters.size()) {
    unsigned long codePoint = characters[i];
    size_t length = 1;
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < characters.size()) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (characters[i + 1] - 0xDC00);
      length = 2;
    }
    wchar_t code[16];
    swprintf(code, 16, L"U+%04lX", codePoint);
    code[15] = L'\0';
    if (!described.empty()) described += L", ";
    described += Quoted(characters.substr(i, length)) + L" (" + code + L")";
    i += length;
  }
  return described;
}

static void CheckBlanks(const std::wstring& key, const std::wstring& value, int line,
                        std::vector<CheckMessage>& messages) {
  std::wstring trimmedKey = Trimmed(key);
  std::wstring hint = trimmedKey != key && IsKnownKey(trimmedKey)
                          ? L" (the program looks for " + Quoted(trimmedKey) + L")"
                          : std::wstring();
  if (!key.empty() && IsBlank(key[0]))
    AddMessage(messages, CHECK_WARNING, line,
               L"blank at the start of the line becomes part of the key " + Quoted(key) + hint);
  if (!key.empty() && IsBlank(key[key.size() - 1]))
    AddMessage(messages, CHECK_WARNING, line,
               L"blank before \"=\" becomes part of the key " + Quoted(key) + hint);
  if (!value.empty() && IsBlank(value[0]))
    AddMessage(messages, CHECK_WARNING, line,
               L"blank after \"=\" becomes part of the value of " + Quoted(key));
  if (!value.empty() && IsBlank(value[value.size() - 1]))
    AddMessage(messages, CHECK_WARNING, line,
               L"blank at the end of the line becomes part of the value of " + Quoted(key));
}

static void CheckAddress(const std::wstring& key, const std::wstring& value, int line,
                         std::vector<CheckMessage>& messages) {
  // Characters without a GBK form are reported once, by the line check.
  if (!FindNonGbkCharacters(value).empty()) return;
  std::wstring remark;
  std::wstring refusal = CheckDownloadAddress(value, &remark);
  if (!refusal.empty()) {
    AddMessage(messages, CHECK_ERROR, line,
               L"the download client refuses the address in " + Quoted(key) + L": " + refusal);
    return;
  }
  if (HoldsBlankOrControl(Trimmed(value)))
    AddMessage(messages, CHECK_WARNING, line,
               L"the address in " + Quoted(key) +
                   L" holds a blank or control character, which breaks the request line");
  if (!remark.empty()) AddMessage(messages, CHECK_WARNING, line, L"the address in " + Quoted(key) + L": " + remark);
}

static void CheckPins(const std::map<std::wstring, ConfigKey>& table, std::vector<CheckMessage>& messages) {
  for (size_t i = 0; i < sizeof(PIN_KEYS) / sizeof(PIN_KEYS[0]); ++i) {
    std::map<std::wstring, ConfigKey>::const_iterator pin = table.find(PIN_KEYS[i]);
    if (pin == table.end()) continue;
    // Without the key setup.exe starts the file unchecked; with an empty or
    // malformed value it refuses the download.
    if (pin->second.value.empty())
      AddMessage(messages, CHECK_ERROR, pin->second.line,
                 L"pin " + Quoted(PIN_KEYS[i]) +
                     L" has an empty value, which setup.exe takes as a malformed pin and refuses the "
                     L"download; give the SHA-256 or leave the line out");
    else if (!DescribePinProblem(pin->second.value).empty())
      AddMessage(messages, CHECK_ERROR, pin->second.line,
                 L"pin " + Quoted(PIN_KEYS[i]) + L" is malformed, so setup.exe refuses the download: " +
                     DescribePinProblem(pin->second.value));
  }
  const wchar_t* const signerKeys[2] = {PRODUCT_SIGNER_KEY, RUNTIME_SIGNER_KEY};
  for (int i = 0; i < 2; ++i) {
    std::map<std::wstring, ConfigKey>::const_iterator signer = table.find(signerKeys[i]);
    if (signer != table.end() && !DescribeSignerProblem(signer->second.value).empty())
      AddMessage(messages, CHECK_ERROR, signer->second.line,
                 L"publisher pin " + Quoted(signerKeys[i]) + L" is malformed, so setup.exe refuses the download: " +
                     DescribeSignerProblem(signer->second.value));
  }
  // A publisher pin covers both builds of the product.
  if (table.find(PRODUCT_SIGNER_KEY) != table.end()) return;
  std::map<std::wstring, ConfigKey>::const_iterator v2 = table.find(PRODUCT_PIN_KEY_V2);
  std::map<std::wstring, ConfigKey>::const_iterator v4 = table.find(PRODUCT_PIN_KEY_V4);
  if (v2 != table.end() && v4 == table.end())
    AddMessage(messages, CHECK_WARNING, v2->second.line,
               L"\"app.sha256.v2\" is given but \"app.sha256.v4\" is not: on Windows 8 and later the product "
               L"installer is started unchecked");
  if (v4 != table.end() && v2 == table.end())
    AddMessage(messages, CHECK_WARNING, v4->second.line,
               L"\"app.sha256.v4\" is given but \"app.sha256.v2\" is not: on Windows XP to 7 the product "
               L"installer is started unchecked");
}

// setup.exe reads a malformed count as one connection, and a malformed
// number of redirects as none: never what a maker meant.
static void CheckDigitKey(const std::map<std::wstring, ConfigKey>& table, const wchar_t* key, int lowest, int highest,
                          const wchar_t* meaning, std::vector<CheckMessage>& messages) {
  std::map<std::wstring, ConfigKey>::const_iterator entry = table.find(key);
  int number = 0;
  if (entry == table.end() ||
      ReadDigitSetting(true, entry->second.value.c_str(), lowest, highest, 0, &number) != SETTING_MALFORMED)
    return;
  AddMessage(messages, CHECK_ERROR, entry->second.line,
             Quoted(key) + L" is " + Quoted(entry->second.value) + L", not a number from " + Number(lowest) +
                 L" to " + Number(highest) + L" in plain decimal (no sign, blank or leading zero): setup.exe would " +
                 meaning);
}

bool SplitConfigLine(const std::wstring& text, std::wstring& key, std::wstring& value) {
  size_t equals = text.find(L'=');
  key = equals == std::wstring::npos ? text : text.substr(0, equals);
  value = equals == std::wstring::npos ? text : text.substr(equals + 1);
  return equals != std::wstring::npos;
}

void ReadConfigKeys(const std::vector<ConfigLine>& lines, std::map<std::wstring, ConfigKey>& keys) {
  keys.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].decoded || lines[i].text.empty()) continue;
    ConfigKey entry;
    std::wstring key;
    SplitConfigLine(lines[i].text, key, entry.value);
    entry.index = i;
    entry.line = lines[i].number;
    keys.insert(std::make_pair(key, entry));  // an earlier line keeps the key
  }
}

// The checks of one decoded line, the `index`th of those read.
static void CheckLine(const ConfigLine& line, size_t index, const std::map<std::wstring, ConfigKey>& table,
                      std::vector<CheckMessage>& messages) {
  if (line.text.empty()) {
    AddMessage(messages, CHECK_WARNING, line.number,
               L"empty line: the program skips it, and it is left out of the stamped text");
    return;
  }
  std::wstring unencodable = FindNonGbkCharacters(line.text);
  if (!unencodable.empty())
    AddMessage(messages, CHECK_ERROR, line.number, L"GBK (code page 936) cannot hold " + DescribeCharacters(unencodable));
  if (line.text.find(L'\r') != std::wstring::npos)
    AddMessage(messages, CHECK_WARNING, line.number,
               L"carriage return inside the line: it becomes part of the key or the value");
  std::wstring key;
  std::wstring value;
  bool hasEquals = SplitConfigLine(line.text, key, value);
  const ConfigKey& counted = table.find(key)->second;
  if (counted.index != index) {
    AddMessage(messages, CHECK_WARNING, line.number,
               L"key " + Quoted(key) + L" given again: only line " + Number(counted.line) +
                   L" counts, this line is ignored");
    return;
  }
  if (!hasEquals) {
    AddMessage(messages, CHECK_WARNING, line.number,
               L"no \"=\" in the line: the program takes the whole line " + Quoted(line.text) +
                   L" as a key and as its value");
    return;
  }
  CheckBlanks(key, value, line.number, messages);
  std::wstring trimmedKey = Trimmed(key);
  if (!IsKnownKey(key) && !(trimmedKey != key && IsKnownKey(trimmedKey))) {
    std::wstring suggestion = SuggestKnownKey(key);
    AddMessage(messages, CHECK_WARNING, line.number,
               L"unknown key " + Quoted(key) + L": the program never reads it" +
                   (suggestion.empty() ? std::wstring() : L" (did you mean " + Quoted(suggestion) + L"?)"));
  }
}

// setup.exe refuses a text beyond its limits whole, and its window comes up
// empty; and it needs every required key with a value.
static void CheckLimitsAndRequiredKeys(const std::vector<ConfigLine>& lines,
                                       const std::map<std::wstring, ConfigKey>& table,
                                       std::vector<CheckMessage>& messages) {
  size_t stampedUnits = 0;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].decoded && !lines[i].text.empty()) stampedUnits += lines[i].text.size() + 2;  // and CR LF
  if (stampedUnits > static_cast<size_t>(CONFIG_TEXT_MAX))
    AddMessage(messages, CHECK_ERROR, 0,
               L"the stamped text has " + Number(static_cast<long>(stampedUnits)) +
                   L" characters (line ends included); setup.exe reads at most " + Number(CONFIG_TEXT_MAX) +
                   L" and refuses a longer configuration whole");
  if (table.size() > static_cast<size_t>(CONFIG_MAX_ENTRIES))
    AddMessage(messages, CHECK_ERROR, 0,
               Number(static_cast<long>(table.size())) + L" different keys; setup.exe reads at most " +
                   Number(CONFIG_MAX_ENTRIES) + L" and refuses a configuration with more whole");
  for (size_t i = 0; i < sizeof(REQUIRED_KEYS) / sizeof(REQUIRED_KEYS[0]); ++i) {
    std::map<std::wstring, ConfigKey>::const_iterator entry = table.find(REQUIRED_KEYS[i]);
    if (entry == table.end())
      AddMessage(messages, CHECK_ERROR, 0, L"required key " + Quoted(REQUIRED_KEYS[i]) + L" is missing");
    else if (entry->second.value.empty())
      AddMessage(messages, CHECK_ERROR, entry->second.line,
                 L"required key " + Quoted(REQUIRED_KEYS[i]) + L" has an empty value");
  }
}

// A product address ("app.url", "app.urlN") as the client sees it: with the
// version tag in place of "vv".
static void CheckProductAddress(const std::wstring& key, const ConfigKey& entry, std::vector<CheckMessage>& messages) {
  const std::wstring& url = entry.value;
  if (!FindNonGbkCharacters(url).empty()) return;
  if (url.find(VERSION_PLACEHOLDER) == std::wstring::npos)
    AddMessage(messages, CHECK_WARNING, entry.line,
               Quoted(key) + L" has no \"vv\": every Windows version downloads the same build");
  std::wstring remark;
  std::wstring refusal = CheckDownloadAddress(WithVersionTag(url, L"v2"), &remark);
  if (refusal.empty()) refusal = CheckDownloadAddress(WithVersionTag(url, L"v4"));
  if (!refusal.empty()) {
    AddMessage(messages, CHECK_ERROR, entry.line,
               L"the download client refuses the address in " + Quoted(key) + L": " + refusal);
    return;
  }
  if (HoldsBlankOrControl(Trimmed(url)))
    AddMessage(messages, CHECK_WARNING, entry.line,
               L"the address in " + Quoted(key) + L" holds a blank or control character, which breaks the request line");
  if (!remark.empty()) AddMessage(messages, CHECK_WARNING, entry.line, L"the address in " + Quoted(key) + L": " + remark);
}

// A mirror list ends at the first number whose value is missing or empty;
// each address in it is checked as the client will take it.
static void CheckMirrors(const std::map<std::wstring, ConfigKey>& table, const MirrorList& list,
                         std::vector<CheckMessage>& messages) {
  int end = 1;
  for (; end <= MIRROR_NUMBER_MAX; ++end) {
    std::map<std::wstring, ConfigKey>::const_iterator mirror = table.find(MirrorKeyText(list, end));
    if (mirror == table.end() || mirror->second.value.empty()) break;
  }
  std::wstring endKey = MirrorKeyText(list, end);
  bool endMissing = table.find(endKey) == table.end();
  // The product's first address is a required key, reported as such.
  if (end == 1 && !list.firstBare) {
    // Worth saying: nothing in the text tells a deliberate choice from a forgotten line.
    std::map<std::wstring, ConfigKey>::const_iterator first = table.find(endKey);
    AddMessage(messages, CHECK_WARNING, endMissing ? 0 : first->second.line,
               L"no runtime mirror (\"net2.url1\" is " + std::wstring(endMissing ? L"missing" : L"empty") +
                   L"): on Windows XP without the .NET 2.0 runtime setup.exe stops with \"(X003)\"; "
                   L"nothing is needed for a product for Vista and later");
  }
  for (std::map<std::wstring, ConfigKey>::const_iterator entry = table.begin(); entry != table.end(); ++entry) {
    int number = MirrorNumberOf(list, entry->first);
    if (number == 0 || entry->second.value.empty()) continue;
    if (list.firstBare)
      CheckProductAddress(entry->first, entry->second, messages);
    else
      CheckAddress(entry->first, entry->second.value, entry->second.line, messages);
    if (number > end)
      AddMessage(messages, CHECK_WARNING, entry->second.line,
                 Quoted(entry->first) + L" is never tried: the mirror list ends at " + Quoted(endKey) +
                     (endMissing ? L", which is missing" : L", which is empty"));
  }
}

void CheckConfigLines(const std::vector<ConfigLine>& lines, std::vector<CheckMessage>& messages) {
  size_t first = messages.size();
  std::map<std::wstring, ConfigKey> table;
  ReadConfigKeys(lines, table);
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].decoded) CheckLine(lines[i], i, table, messages);
  CheckLimitsAndRequiredKeys(lines, table, messages);
  CheckPins(table, messages);
  CheckDigitKey(table, CONNECTIONS_KEY, 1, MAX_DOWNLOAD_CONNECTIONS, L"download over one connection", messages);
  CheckDigitKey(table, REDIRECTS_KEY, 0, MAX_REDIRECTS, L"follow no redirect", messages);
  CheckMirrors(table, PRODUCT_MIRRORS, messages);
  CheckMirrors(table, RUNTIME_MIRRORS, messages);
  std::stable_sort(messages.begin() + first, messages.end(),
                   [](const CheckMessage& a, const CheckMessage& b) { return a.line < b.line; });
}

std::wstring FormatCheckMessage(const std::wstring& fileName, const CheckMessage& message) {
  std::wstring text = fileName;
  if (message.line > 0) text += L":" + Number(message.line);
  text += message.severity == CHECK_ERROR ? L": error: " : L": warning: ";
  return text + message.text;
}

int CountMessages(const std::vector<CheckMessage>& messages, CheckSeverity severity) {
  int count = 0;
  for (size_t i = 0; i < messages.size(); ++i)
    if (messages[i].severity == severity) ++count;
  return count;
}

bool BuildStampedText(const std::vector<ConfigLine>& lines, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].decoded) return false;
    if (lines[i].text.empty()) continue;
    std::string encoded;
    if (!GbkFromWide(lines[i].text, encoded)) return false;
    bytes += encoded;
    bytes += "\r\n";
  }
  return true;
}
