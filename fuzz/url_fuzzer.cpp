// URL splitting and the request text of the download client. The URL is the
// fuzzer's input up to its first zero byte, as the client sees its 8-bit text.
#include <string.h>

#include <memory>
#include <string>

#include "http/url.h"
#include "http/request.h"
#include "fuzz/fuzz_support.h"

// Each buffer exactly as large as the client's, on the heap, so that the
// address sanitizer reports a write or read one byte past its end.
struct Buffers {
  std::unique_ptr<char[]> host{new char[HOST_BUFFER_SIZE]};
  std::unique_ptr<char[]> path{new char[PATH_BUFFER_SIZE]};
  std::unique_ptr<char[]> port{new char[PORT_BUFFER_SIZE]};
  std::unique_ptr<char[]> request{new char[REQUEST_BUFFER_SIZE]};
};

static std::string ExpectedRequest(const std::string& host, const std::string& path, const std::string& port) {
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + host;
  if (port != DEFAULT_PORT) request += ":" + port;
  return request + "\r\n\r\n";
}

static void CheckRequest(const std::string& host, const std::string& path, const std::string& port,
                         Buffers& buffers) {
  std::string expected = ExpectedRequest(host, path, port);
  int length = BuildRequest(host.c_str(), path.c_str(), port.c_str(), buffers.request.get());
  if (expected.size() < static_cast<size_t>(REQUEST_BUFFER_SIZE)) {
    FUZZ_CHECK(length == static_cast<int>(expected.size()), "a request that fits is built whole");
    FUZZ_CHECK(expected == buffers.request.get(), "the request is GET, path, Host and the port unless 80");
  } else {
    FUZZ_CHECK(length == -1, "a request past 1,023 bytes is refused");
    FUZZ_CHECK(buffers.request[0] == '\0', "a refused request leaves an empty text");
  }
}

static void CheckSplit(const std::string& url, Buffers& buffers) {
  const char* refusal = NULL;
  UrlSplit result = SplitUrl(url.c_str(), buffers.host.get(), buffers.path.get(), buffers.port.get(), &refusal);
  FUZZ_CHECK(refusal != NULL, "a refusal text is always set");

  const std::string scheme = "http://";
  bool schemeMatches = url.compare(0, scheme.size(), scheme) == 0;
  size_t slash = schemeMatches ? url.find('/', scheme.size()) : std::string::npos;
  if (url.size() >= static_cast<size_t>(URL_BUFFER_SIZE)) {
    FUZZ_CHECK(result == URL_TOO_LONG && *refusal != '\0', "a URL past 4,095 bytes is refused with a reason");
    return;
  }
  if (!schemeMatches) {
    FUZZ_CHECK(result == URL_BAD_SCHEME, "only \"http://\" is taken");
    return;
  }
  if (slash == std::string::npos) {
    FUZZ_CHECK(result == URL_NO_PATH, "a URL without a path is refused");
    return;
  }
  std::string authority = url.substr(scheme.size(), slash - scheme.size());
  std::string expectedPath = url.substr(slash);
  bool partsFit = authority.size() < static_cast<size_t>(HOST_BUFFER_SIZE) &&
                  expectedPath.size() < static_cast<size_t>(PATH_BUFFER_SIZE);
  // An IPv6 literal in brackets: its port follows the "]", nothing else does.
  bool bracketed = !authority.empty() && authority[0] == '[';
  size_t close = bracketed ? authority.find(']') : std::string::npos;
  if (partsFit && bracketed &&
      (close == std::string::npos || (close + 1 < authority.size() && authority[close + 1] != ':'))) {
    FUZZ_CHECK(result == URL_BAD_HOST && *refusal != '\0', "a \"[\" needs its \"]\" before the port or path");
    return;
  }
  size_t colon = authority.find(':', close == std::string::npos ? 0 : close);
  std::string expectedHost = authority.substr(0, colon);
  std::string expectedPort = colon == std::string::npos ? DEFAULT_PORT : authority.substr(colon + 1);
  bool fits = partsFit && expectedPort.size() < static_cast<size_t>(PORT_BUFFER_SIZE);
  if (!fits) {
    FUZZ_CHECK(result == URL_TOO_LONG && *refusal != '\0', "a part past its buffer is refused, never cut");
    return;
  }
  FUZZ_CHECK(result == URL_SPLIT, "a URL whose parts fit is split");
  std::string host = buffers.host.get();
  std::string path = buffers.path.get();
  std::string port = buffers.port.get();
  FUZZ_CHECK(host == expectedHost && path == expectedPath && port == expectedPort,
             "host up to the first \":\" or \"/\", port behind the \":\" or 80, path from the \"/\"");
  // The parts put together again give the URL back.
  std::string rebuilt = scheme + host + (colon != std::string::npos ? ":" + port : std::string()) + path;
  FUZZ_CHECK(rebuilt == url, "the split loses nothing");
  CheckRequest(host, path, port, buffers);
}

// SplitDownloadUrl splits everything but "https://" as SplitUrl does, and
// "https://" by the same rules, with 443 for a missing port.
static void CheckEitherScheme(const std::string& url, Buffers& buffers) {
  Buffers plain;
  const char* refusal = NULL;
  const char* plainRefusal = NULL;
  UrlScheme scheme = SCHEME_HTTPS;
  UrlSplit result = SplitDownloadUrl(url.c_str(), &scheme, buffers.host.get(), buffers.path.get(), buffers.port.get(),
                                &refusal);
  FUZZ_CHECK(refusal != NULL, "a refusal text is always set");
  const std::string https = "https://";
  bool secure = url.compare(0, https.size(), https) == 0;
  if (url.size() >= static_cast<size_t>(URL_BUFFER_SIZE)) {
    FUZZ_CHECK(result == URL_TOO_LONG && *refusal != '\0', "a URL past 4,095 bytes is refused with a reason");
    return;
  }
  // The same address with "http://" in front: one byte shorter, so it fits too.
  std::string asPlain = secure ? "http://" + url.substr(https.size()) : url;
  UrlSplit plainResult = SplitUrl(asPlain.c_str(), plain.host.get(), plain.path.get(), plain.port.get(), &plainRefusal);
  FUZZ_CHECK(result == plainResult, "both schemes are split by the same rules");
  FUZZ_CHECK(scheme == (secure ? SCHEME_HTTPS : SCHEME_HTTP), "the scheme is told");
  if (result != URL_SPLIT) return;
  FUZZ_CHECK(strcmp(buffers.host.get(), plain.host.get()) == 0 && strcmp(buffers.path.get(), plain.path.get()) == 0,
             "host and path are the same under both schemes");
  size_t slash = asPlain.find('/', 7);
  std::string authority = asPlain.substr(7, slash - 7);
  size_t close = !authority.empty() && authority[0] == '[' ? authority.find(']') : 0;
  bool portGiven = authority.find(':', close) != std::string::npos;
  std::string expectedPort = secure && !portGiven ? DEFAULT_HTTPS_PORT : plain.port.get();
  FUZZ_CHECK(expectedPort == buffers.port.get(), "a missing port is 443 for https://, 80 for http://");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Buffers buffers;
  std::string input(reinterpret_cast<const char*>(bytes), size);
  CheckSplit(input.substr(0, input.find('\0')), buffers);
  CheckEitherScheme(input.substr(0, input.find('\0')), buffers);

  // The request from parts of any length, not only those a split yields.
  FuzzedDataProvider data(bytes, size);
  std::string host = data.ConsumeRandomLengthString(1100);
  std::string port = data.ConsumeRandomLengthString(8);
  std::string path = data.ConsumeRemainingBytesAsString();
  host = host.substr(0, host.find('\0'));
  port = port.substr(0, port.find('\0'));
  path = path.substr(0, path.find('\0'));
  CheckRequest(host, path, port, buffers);
  return 0;
}
