// The stamping tool's reading of a maker's file: UTF-8 detection and decoding
// (both directions), the split into lines, and the checks on the decoded lines.
// The first byte chooses between a file (the rest as bytes) and a wide text
// (the rest as UTF-16 code units, lone surrogates included). An input that
// begins with "MZ" is a program image instead, read and stamped whole.
#include <string>
#include <vector>

#include "http/url.h"
#include "http/request.h"
#include "fuzz/fuzz_support.h"
#include "install/connection_count.h"
#include "install/mirror_list.h"
#include "tools/setupstamp/exe_stamp.h"
#include "tools/setupstamp/little_endian.h"
#include "tools/setupstamp/pe_image.h"
#include "tools/setupstamp/resource_section.h"
#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/text_encoding.h"

static bool IsSurrogate(unsigned long unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// True when every surrogate of the text stands in a high-low pair.
static bool PairsWhole(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned long unit = static_cast<unsigned long>(text[i]);
    if (!IsSurrogate(unit)) continue;
    if (unit > 0xDBFF || i + 1 == text.size()) return false;
    unsigned long next = static_cast<unsigned long>(text[i + 1]);
    if (next < 0xDC00 || next > 0xDFFF) return false;
    ++i;
  }
  return true;
}

static void CheckWideText(const std::wstring& text) {
  std::string bytes = Utf8FromWide(text);
  FUZZ_CHECK(IsValidUtf8(bytes), "what the tool writes as UTF-8 is well-formed");
  std::wstring back;
  FUZZ_CHECK(WideFromUtf8(bytes, back), "and decodes again");
  if (PairsWhole(text)) FUZZ_CHECK(back == text, "a text without lone surrogates comes back unchanged");
  else FUZZ_CHECK(back.size() <= text.size() && back.find(L'\xFFFD') != std::wstring::npos,
                  "a lone surrogate becomes U+FFFD");
}

static void CheckBytes(const std::string& bytes) {
  std::wstring text;
  bool valid = IsValidUtf8(bytes);
  FUZZ_CHECK(WideFromUtf8(bytes, text) == valid, "decoding succeeds exactly for well-formed UTF-8");
  if (valid) {
    FUZZ_CHECK(Utf8FromWide(text) == bytes, "well-formed UTF-8 decodes to the text that encodes to it");
    for (size_t i = 0; i < text.size(); ++i)
      FUZZ_CHECK(static_cast<unsigned long>(text[i]) <= 0xFFFF, "decoding gives UTF-16 code units");
    FUZZ_CHECK(PairsWhole(text), "decoding gives surrogates in pairs only");
  } else {
    FUZZ_CHECK(text.empty(), "a refused decoding leaves no text");
  }
  TextEncoding detected = DetectTextEncoding(bytes);
  bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  FUZZ_CHECK(detected == (bom ? TEXT_UTF8_BOM : valid ? TEXT_UTF8 : TEXT_GBK),
             "a byte-order mark, else well-formed UTF-8, else GBK");

  TextEncoding encoding;
  std::vector<ConfigLine> lines;
  std::vector<CheckMessage> messages;
  ReadConfigLines(bytes, encoding, lines, messages);
  FUZZ_CHECK(encoding == detected, "the lines are read in the detected encoding");
  // Lines as split by hand: at LF, one CR before it dropped, a final LF adding none.
  std::vector<std::string> raw;
  for (size_t start = bom ? 3 : 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line[line.size() - 1] == '\r') line.erase(line.size() - 1);
    raw.push_back(line);
    start = end + 1;
  }
  FUZZ_CHECK(lines.size() == raw.size(), "one line per LF, and the last without one");
  size_t undecoded = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(lines[i].number == static_cast<int>(i) + 1, "lines are numbered from 1");
    std::wstring expected;
    bool decodes = encoding == TEXT_GBK ? WideFromGbk(raw[i], expected) : WideFromUtf8(raw[i], expected);
    FUZZ_CHECK(lines[i].decoded == decodes, "a line is decoded exactly when its bytes are valid");
    if (decodes) FUZZ_CHECK(lines[i].text == expected, "a line's text is its bytes decoded");
    if (!decodes) ++undecoded;
  }
  FUZZ_CHECK(messages.size() == undecoded && CountMessages(messages, CHECK_ERROR) == static_cast<int>(undecoded),
             "reading reports one error for each line that does not decode, and nothing else");

  CheckConfigLines(lines, messages);
  for (size_t i = 0; i < messages.size(); ++i) {
    FUZZ_CHECK(!messages[i].text.empty(), "every finding says something");
    FUZZ_CHECK(messages[i].line >= 0 && messages[i].line <= static_cast<int>(lines.size()),
               "a finding names a line of the file, or none");
    if (i > undecoded) FUZZ_CHECK(messages[i - 1].line <= messages[i].line, "the checks' findings come in line order");
  }
  if (CountMessages(messages, CHECK_ERROR) > 0) return;

  // A text that passes: it stamps, and every address it gives is one the
  // download client splits and sends.
  std::string stamped;
  FUZZ_CHECK(BuildStampedText(lines, stamped), "a text without errors can be stamped");
  std::map<std::wstring, ConfigKey> keys;
  ReadConfigKeys(lines, keys);
  for (std::map<std::wstring, ConfigKey>::const_iterator k = keys.begin(); k != keys.end(); ++k) {
    int connections = 0;
    if (k->first == CONNECTIONS_KEY)
      FUZZ_CHECK(ReadConnectionSetting(true, k->second.value.c_str(), &connections) == SETTING_VALID,
                 "a connection count that passes is one that setup.exe takes");
    // setup.exe's keys hold no zero character.
    bool whole = k->first.find(L'\0') == std::wstring::npos;
    bool product = whole && MirrorNumber(PRODUCT_MIRRORS, k->first.c_str()) > 0;
    bool address = product || (whole && MirrorNumber(RUNTIME_MIRRORS, k->first.c_str()) > 0);
    if (!address || k->second.value.empty()) continue;
    // A product address as the client gets it, with a version tag for "vv".
    std::wstring value = product ? ReferenceReplaceAll(k->second.value, L"vv", L"v4") : k->second.value;
    std::string url;
    FUZZ_CHECK(GbkFromWide(value, url), "an address that passes has a GBK form");
    std::vector<char> host(HOST_BUFFER_SIZE), path(PATH_BUFFER_SIZE), port(PORT_BUFFER_SIZE);
    std::vector<char> request(REQUEST_BUFFER_SIZE);
    const char* refusal = NULL;
    UrlScheme scheme = SCHEME_HTTP;
    FUZZ_CHECK(url.size() < static_cast<size_t>(URL_BUFFER_SIZE) &&
                   SplitDownloadUrl(url.c_str(), &scheme, host.data(), path.data(), port.data(), &refusal) ==
                       URL_SPLIT,
               "an address that passes is split by the client");
    FUZZ_CHECK(host[0] != '\0', "an address that passes names a host");
    FUZZ_CHECK(PortNumber(port.data()) != 0, "an address that passes has a port from 1 to 65535");
    // An https:// request is written by the system's HTTP library, not by BuildRequest.
    if (scheme == SCHEME_HTTP)
      FUZZ_CHECK(BuildRequest(host.data(), path.data(), port.data(), request.data()) > 0,
                 "an address that passes makes a request that fits");
  }
}

// Whatever the headers and the resource directory say, reading stays inside
// the bytes; a stamp that succeeds keeps every other resource and reads back.
static void CheckImage(const std::string& image) {
  std::string text, stamped;
  int languages = 0, removed = 0;
  bool signature = false;
  ExeStampResult read = ReadImageConfig(image, text, languages);
  ExeStampResult result = StampImage(image, "app.name=fuzz\r\n", stamped, removed, signature);
  if (result != EXE_STAMP_OK) return;
  FUZZ_CHECK(read == EXE_STAMP_OK || read == EXE_STAMP_NO_CONFIG, "an image that stamps has readable resources");
  FUZZ_CHECK(removed == languages, "stamping removes every copy of the configuration that reading counts");
  FUZZ_CHECK(ReadImageConfig(stamped, text, languages) == EXE_STAMP_OK && text == "app.name=fuzz\r\n" &&
                 languages == 1,
             "the stamped image gives the text back, once");
  std::vector<ResourceEntry> before, after;
  ReadResources(image, before);
  FUZZ_CHECK(ReadResources(stamped, after) == RESOURCES_OK, "the stamped image's resources read");
  FUZZ_CHECK(after.size() == before.size() - static_cast<size_t>(removed) + 1, "no other resource is lost or added");
  PeLayout layout;
  FUZZ_CHECK(!ReadPeLayout(stamped, layout) ||
                 ComputePeChecksum(stamped, layout.checksumOffset) == ReadLe32(stamped, layout.checksumOffset),
             "the stamped image's checksum is right");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  if (size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
    CheckImage(std::string(reinterpret_cast<const char*>(bytes), size));
    return 0;
  }
  std::string rest(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  if (bytes[0] & 1)
    CheckWideText(UnitsFromBytes(rest));
  else
    CheckBytes(rest);
  return 0;
}
