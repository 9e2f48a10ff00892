#include "http/url.h"

#include <string.h>

static const char SCHEME[] = "http://";
static const int SCHEME_LENGTH = sizeof SCHEME - 1;

static_assert(PORT_BUFFER_SIZE == 6, "a port text holds at most 5 characters");

static const char HTTPS_SCHEME[] = "https://";
static const int HTTPS_SCHEME_LENGTH = sizeof HTTPS_SCHEME - 1;

// The rules shared by both schemes, for the text behind the scheme's prefix.
static UrlSplit SplitAfterScheme(const char* url, size_t urlLength, const char* authority, const char* defaultPort,
                                 char* host, char* path, char* port, const char** refusal) {
  const char* slash = strchr(authority, '/');
  if (slash == NULL) return URL_NO_PATH;

  size_t authorityLength = (size_t)(slash - authority);
  size_t pathLength = urlLength - (size_t)(slash - url);
  if (authorityLength >= (size_t)HOST_BUFFER_SIZE) {
    *refusal = "host longer than 1023 bytes";
    return URL_TOO_LONG;
  }
  if (pathLength >= (size_t)PATH_BUFFER_SIZE) {
    *refusal = "path longer than 1023 bytes";
    return URL_TOO_LONG;
  }

  // An IPv6 literal keeps its brackets and colons (RFC 3986 section 3.2.2): its port follows the "]".
  const char* close = authority[0] == '[' ? (const char*)memchr(authority, ']', authorityLength) : NULL;
  if (authority[0] == '[' && (close == NULL || (close + 1 != slash && close[1] != ':'))) {
    *refusal = "bad ipv6 literal";
    return URL_BAD_HOST;
  }
  const char* from = close != NULL ? close : authority;
  const char* colon = (const char*)memchr(from, ':', authorityLength - (size_t)(from - authority));
  size_t hostLength = colon != NULL ? (size_t)(colon - authority) : authorityLength;
  const char* portText = defaultPort;
  size_t portLength = strlen(defaultPort);
  if (colon != NULL) {
    portText = colon + 1;
    portLength = authorityLength - hostLength - 1;
  }
  if (portLength >= (size_t)PORT_BUFFER_SIZE) {
    *refusal = "port longer than 5 characters";
    return URL_TOO_LONG;
  }

  memcpy(host, authority, hostLength);
  host[hostLength] = '\0';
  memcpy(path, slash, pathLength);
  path[pathLength] = '\0';
  memcpy(port, portText, portLength);
  port[portLength] = '\0';
  return URL_SPLIT;
}

// Bounded: a longer text is refused without reading further than one byte past the buffer.
static bool FitsUrlBuffer(const char* url, size_t* urlLength, const char** refusal) {
  *refusal = "";
  *urlLength = strnlen(url, URL_BUFFER_SIZE);
  if (*urlLength < (size_t)URL_BUFFER_SIZE) return true;
  *refusal = "url longer than 4095 bytes";
  return false;
}

UrlSplit SplitUrl(const char* url, char* host, char* path, char* port, const char** refusal) {
  size_t urlLength = 0;
  if (!FitsUrlBuffer(url, &urlLength, refusal)) return URL_TOO_LONG;
  if (strncmp(url, SCHEME, SCHEME_LENGTH) != 0) return URL_BAD_SCHEME;
  return SplitAfterScheme(url, urlLength, url + SCHEME_LENGTH, DEFAULT_PORT, host, path, port, refusal);
}

bool IsHttpsUrl(const char* url) {
  return strncmp(url, HTTPS_SCHEME, HTTPS_SCHEME_LENGTH) == 0;
}

UrlSplit SplitDownloadUrl(const char* url, UrlScheme* scheme, char* host, char* path, char* port,
                          const char** refusal) {
  *scheme = SCHEME_HTTP;
  if (!IsHttpsUrl(url)) return SplitUrl(url, host, path, port, refusal);
  size_t urlLength = 0;
  if (!FitsUrlBuffer(url, &urlLength, refusal)) return URL_TOO_LONG;
  *scheme = SCHEME_HTTPS;
  return SplitAfterScheme(url, urlLength, url + HTTPS_SCHEME_LENGTH, DEFAULT_HTTPS_PORT, host, path, port,
                          refusal);
}

long PortNumber(const char* port) {
  if (*port == '\0') return 0;
  long value = 0;
  for (const char* c = port; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    value = value * 10 + (*c - '0');
    if (value > 65535) return 0;
  }
  return value;
}
