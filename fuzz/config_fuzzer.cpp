// The configuration text. Two kinds of input, chosen by the first byte:
// - UTF-16 code units: the parser against a reference table worked out from
//   the text's rules, its limits, the lookup and the escape expansion;
// - a maker's file: the stamping tool's reading of it against what setup.exe's
//   parser makes of the same text and of the text the tool stamps, also when
//   the text is grown to setup.exe's limits.
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/config_table.h"
#include "fuzz/fuzz_support.h"
#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/text_encoding.h"

typedef std::vector<std::pair<std::wstring, std::wstring> > Entries;

// Lines end at LF, a final LF adds no line, an empty line is skipped, one CR
// before the LF is dropped, the line splits at its first "=" (or is key and
// value at once), the first occurrence of a key wins. False when the text is
// beyond the limits, which refuse it whole.
static bool ReferenceTable(const std::wstring& text, Entries& entries) {
  entries.clear();
  if (text.size() > static_cast<size_t>(CONFIG_TEXT_MAX)) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line[line.size() - 1] == L'\r') line.erase(line.size() - 1);
    size_t equals = line.find(L'=');
    std::wstring key = line.substr(0, equals);
    std::wstring value = equals == std::wstring::npos ? line : line.substr(equals + 1);
    bool known = false;
    for (size_t i = 0; i < entries.size() && !known; ++i) known = entries[i].first == key;
    if (known) continue;
    if (entries.size() == static_cast<size_t>(CONFIG_MAX_ENTRIES)) {
      entries.clear();
      return false;
    }
    entries.push_back(std::make_pair(key, value));
  }
  return true;
}

static Entries EntriesOf(const ConfigTable& table) {
  Entries entries;
  for (int i = 0; i < table.count; ++i) {
    const ConfigEntry& entry = table.entries[i];
    entries.push_back(std::make_pair(std::wstring(table.text + entry.key, entry.keyLength),
                                     std::wstring(table.text + entry.value, entry.valueLength)));
  }
  return entries;
}

static std::map<std::wstring, std::wstring> AsMap(const Entries& entries) {
  return std::map<std::wstring, std::wstring>(entries.begin(), entries.end());
}

// A stored value's escapes expanded into a buffer just large enough for the
// value, and in place, as the window's texts are; never longer than the value.
static void CheckEscapes(const std::wstring& stored) {
  std::wstring value = stored.substr(0, stored.find(L'\0'));
  std::wstring expected = ReferenceReplaceAll(ReferenceReplaceAll(value, L"\\n", L"\n"), L"\\\\", L"\\");
  FUZZ_CHECK(expected.size() <= value.size(), "escape expansion never grows the text");
  const int capacity = static_cast<int>(value.size()) + 1;
  std::unique_ptr<wchar_t[]> text(new wchar_t[capacity]);
  FUZZ_CHECK(ExpandConfigEscapes(value.c_str(), text.get(), capacity), "the expansion fits the value's buffer");
  FUZZ_CHECK(expected == text.get(), "backslash-n first, then the doubled backslash");
  wmemcpy(text.get(), value.c_str(), value.size() + 1);
  FUZZ_CHECK(ExpandConfigEscapes(text.get(), text.get(), capacity), "the expansion fits in place");
  FUZZ_CHECK(expected == text.get(), "in place it gives the same text");
}

// Lookups by zero-terminated key: found exactly for the table's keys, the
// value copied whole into a buffer one larger than it, refused by one its size.
static void CheckLookup(const ConfigTable& table, const Entries& entries, const std::wstring& key) {
  const std::map<std::wstring, std::wstring> values = AsMap(entries);
  std::map<std::wstring, std::wstring>::const_iterator expected = values.find(key);
  const ConfigEntry* entry = FindConfigEntry(&table, key.c_str());
  FUZZ_CHECK((entry != NULL) == (expected != values.end()), "a key is found exactly when the table has it");
  size_t length = expected != values.end() ? expected->second.size() : 0;
  std::unique_ptr<wchar_t[]> fits(new wchar_t[length + 1]);
  FUZZ_CHECK(CopyConfigValue(&table, key.c_str(), fits.get(), static_cast<int>(length) + 1), "a value fits its size");
  FUZZ_CHECK(fits[length] == L'\0', "the copy is terminated");
  if (length == 0) return;
  FUZZ_CHECK(wmemcmp(fits.get(), expected->second.data(), length) == 0, "the copy is the value");
  std::unique_ptr<wchar_t[]> tooSmall(new wchar_t[length]);
  FUZZ_CHECK(!CopyConfigValue(&table, key.c_str(), tooSmall.get(), static_cast<int>(length)),
             "a value one unit too long for the buffer is refused");
  FUZZ_CHECK(tooSmall[0] == L'\0', "a refused value leaves an empty text, never a cut one");
}

static void CheckParser(const std::wstring& text, ConfigTable& table) {
  Entries expected;
  bool fits = ReferenceTable(text, expected);
  ConfigParseResult result = ParseConfigText(text.data(), static_cast<int>(text.size()), &table);
  if (!fits) {
    FUZZ_CHECK(result == CONFIG_TEXT_TOO_LONG || result == CONFIG_TOO_MANY_ENTRIES, "a text past a limit is refused");
    FUZZ_CHECK((result == CONFIG_TEXT_TOO_LONG) == (text.size() > static_cast<size_t>(CONFIG_TEXT_MAX)),
               "the refusal names the limit");
    FUZZ_CHECK(table.count == 0, "a refused text leaves the table empty");
    return;
  }
  FUZZ_CHECK(result == CONFIG_PARSED, "a text within the limits is parsed");
  FUZZ_CHECK(EntriesOf(table) == expected, "the table holds each key's first value, in the text's order");
  for (size_t i = 0; i < expected.size(); ++i) {
    CheckEscapes(expected[i].second);
    if (expected[i].first.find(L'\0') == std::wstring::npos) CheckLookup(table, expected, expected[i].first);
  }
  CheckLookup(table, expected, L"app.name");
  CheckLookup(table, expected, L"");
}

// The text as the tool decodes it, whole: its lines joined again.
static bool DecodeWhole(const std::string& bytes, TextEncoding encoding, std::wstring& text) {
  if (encoding == TEXT_GBK) return WideFromGbk(bytes, text);
  return WideFromUtf8(encoding == TEXT_UTF8_BOM ? bytes.substr(3) : bytes, text);
}

// A line that is only a CR is an empty line to the tool, which leaves it out
// of what it stamps; setup.exe given such a text directly reads it as the
// empty key with an empty value.
static bool HasLineOfOnlyCr(const std::wstring& text) {
  return text == L"\r" || text.compare(0, 2, L"\r\n") == 0 || text.find(L"\n\r\n") != std::wstring::npos ||
         (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\n\r") == 0);
}

// What setup.exe reads is the stamped text, decoded as the program decodes it:
// the same table as the tool's, or a refusal that the tool reports as an error.
static void CheckStamped(const std::vector<ConfigLine>& lines, const std::map<std::wstring, std::wstring>& toolTable,
                         ConfigTable& table) {
  std::string stamped;
  if (!BuildStampedText(lines, stamped)) return;
  std::wstring resource = WideFromGbkLoosely(stamped);
  if (ParseConfigText(resource.data(), static_cast<int>(resource.size()), &table) == CONFIG_PARSED) {
    FUZZ_CHECK(AsMap(EntriesOf(table)) == toolTable, "setup.exe reads the stamped text as the tool did");
    return;
  }
  std::vector<CheckMessage> messages;
  CheckConfigLines(lines, messages);
  FUZZ_CHECK(CountMessages(messages, CHECK_ERROR) > 0, "a text that setup.exe refuses is one the tool refuses");
}

static std::map<std::wstring, std::wstring> ToolTable(const std::vector<ConfigLine>& lines) {
  std::map<std::wstring, ConfigKey> keys;
  ReadConfigKeys(lines, keys);
  std::map<std::wstring, std::wstring> values;
  for (std::map<std::wstring, ConfigKey>::const_iterator k = keys.begin(); k != keys.end(); ++k)
    values[k->first] = k->second.value;
  return values;
}

static void AddLine(std::vector<ConfigLine>& lines, const std::wstring& text) {
  ConfigLine line;
  line.number = static_cast<int>(lines.size()) + 1;
  line.decoded = true;
  line.text = text;
  lines.push_back(line);
}

// A text the tool passes, grown to setup.exe's limits and one step past them:
// by a line given again until the stamped text has 16,384 units and then one
// more, and by new keys up to 64 and then 65. Each must still be read as the
// tool reads it, or be one the tool refuses.
static void CheckAtTheLimits(const std::vector<ConfigLine>& lines, ConfigTable& table) {
  std::vector<CheckMessage> messages;
  CheckConfigLines(lines, messages);
  if (CountMessages(messages, CHECK_ERROR) > 0) return;
  for (size_t target = CONFIG_TEXT_MAX; target <= CONFIG_TEXT_MAX + 1; ++target) {
    size_t units = 0;
    for (size_t i = 0; i < lines.size(); ++i)
      if (!lines[i].text.empty()) units += lines[i].text.size() + 2;  // and CR LF
    if (units > target || target - units < 11) continue;  // no whole line makes up the rest
    std::vector<ConfigLine> grown = lines;
    for (size_t rest = target - units; rest > 0;) {
      // Units of the next line with its CR LF; whatever is left stays 0 or at least 11.
      size_t next = rest <= 1024 ? rest : rest - 1024 >= 11 ? 1024 : rest - 11;
      AddLine(grown, L"app.name=" + std::wstring(next - 11, L'x'));  // given again: a warning only
      rest -= next;
    }
    CheckStamped(grown, ToolTable(grown), table);
  }
  std::map<std::wstring, std::wstring> values = ToolTable(lines);
  std::vector<ConfigLine> grown = lines;
  for (int n = 0; values.size() < static_cast<size_t>(CONFIG_MAX_ENTRIES) + 1; ++n) {
    std::wstring key = L"pad" + std::to_wstring(n);
    if (values.count(key) != 0) continue;
    values[key] = L"x";
    AddLine(grown, key + L"=x");
    if (values.size() >= static_cast<size_t>(CONFIG_MAX_ENTRIES)) CheckStamped(grown, ToolTable(grown), table);
  }
}

static void CheckToolAgainstParser(const std::string& bytes, ConfigTable& table) {
  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(bytes, encoding, lines, messages);
  for (size_t i = 0; i < lines.size(); ++i)
    if (!lines[i].decoded) return;
  const std::map<std::wstring, std::wstring> toolTable = ToolTable(lines);

  std::wstring text;
  FUZZ_CHECK(DecodeWhole(bytes, encoding, text), "a text whose every line decodes decodes whole");
  if (!HasLineOfOnlyCr(text) && ParseConfigText(text.data(), static_cast<int>(text.size()), &table) == CONFIG_PARSED)
    FUZZ_CHECK(AsMap(EntriesOf(table)) == toolTable, "setup.exe reads the maker's text as the tool does");

  CheckStamped(lines, toolTable, table);
  CheckAtTheLimits(lines, table);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  static ConfigTable* table = new ConfigTable;
  std::string rest(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  if (bytes[0] & 1) {
    CheckToolAgainstParser(rest, *table);
    return 0;
  }
  // Up to 32 times over, so that short inputs reach the limit of 16,384 units too.
  std::wstring units = UnitsFromBytes(rest);
  std::wstring text;
  for (int i = 0, times = 1 + (bytes[0] >> 1) % 32; i < times; ++i) text += units;
  CheckParser(text, *table);
  return 0;
}
