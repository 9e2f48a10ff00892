// Download addresses, in plain values: an 8-bit "http://" or "https://" URL
// split into the host, path and port that the clients take. The stamping tool
// uses the same functions to check addresses.
#pragma once

const int URL_BUFFER_SIZE = 4096;
const int HOST_BUFFER_SIZE = 1024;
const int PATH_BUFFER_SIZE = 1024;
const int PORT_BUFFER_SIZE = 6;

const char* const DEFAULT_PORT = "80";
const char* const DEFAULT_HTTPS_PORT = "443";

// How splitting an address ended.
enum UrlSplit {
  URL_SPLIT,        // the parts are in their buffers
  URL_TOO_LONG,     // a part does not fit its buffer: *refusal names it in English
  URL_BAD_SCHEME,   // neither "http://" nor "https://" (as the splitter takes)
  URL_NO_PATH,      // no "/" after the host
  URL_BAD_HOST      // "[" without its "]" before the port or path: *refusal says so
};

// Splits an 8-bit "http://host[:port]/path" URL into the three buffers (sizes
// above). A host may be an IPv6 literal in brackets ("[::1]"), which it keeps.
UrlSplit SplitUrl(const char* url, char* host, char* path, char* port, const char** refusal);

// Which client fetches an address.
enum UrlScheme { SCHEME_HTTP, SCHEME_HTTPS };

// True when the URL begins with "https://" (lower case, as "http://" must be).
bool IsHttpsUrl(const char* url);

// SplitUrl for both kinds of address: "http://" (default port 80) and
// "https://" (default port 443), split by the same rules into the same buffers;
// *scheme tells which it was. Every other beginning is URL_BAD_SCHEME.
UrlSplit SplitDownloadUrl(const char* url, UrlScheme* scheme, char* host, char* path, char* port,
                          const char** refusal);


// The number of a port text made of digits only (leading zeros allowed), from
// 1 to 65535; 0 for any other text, the empty one included.
long PortNumber(const char* port);
