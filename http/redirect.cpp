#include "http/redirect.h"

#include <string.h>

bool IsFollowedRedirect(int status) {
  return (status >= 301 && status <= 303) || status == 307 || status == 308;
}

// The length of the scheme that begins `reference` (RFC 3986 section 3.1),
// 0 when it has none.
static size_t SchemeLength(const char* reference) {
  size_t i = 0;
  for (char c = reference[0]; (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
       c = reference[++i]) {
  }
  return reference[i] == ':' ? i : 0;
}

// Appends `path` (`length` bytes, empty or beginning with "/") at *at with its
// dot segments removed (RFC 3986 section 5.2.4); an empty one becomes "/".
static void AppendPath(char* target, size_t* at, const char* path, size_t length) {
  const size_t start = *at;
  bool dots = false;
  for (size_t i = 0; i < length;) {
    size_t end = i + 1;
    while (end < length && path[end] != '/') ++end;
    size_t segment = end - i - 1;
    dots = (segment == 1 || segment == 2) && path[i + 1] == '.' && (segment == 1 || path[i + 2] == '.');
    if (dots && segment == 2)
      while (*at > start && target[--*at] != '/') {
      }
    if (!dots) {
      memcpy(target + *at, path + i, end - i);
      *at += end - i;
    }
    i = end;
  }
  if (dots || *at == start) target[(*at)++] = '/';
}

bool ResolveLocation(const char* base, const char* location, char* target) {
  char merged[2 * URL_BUFFER_SIZE];
  const size_t length = strcspn(location, "#");
  if (length == 0 || length >= static_cast<size_t>(URL_BUFFER_SIZE)) return false;
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(location[i]) <= ' ' || static_cast<unsigned char>(location[i]) >= 0x7F)
      return false;
  // The base is an address that was fetched: "scheme://authority/path".
  const char* authority = strstr(base, "://") + 3;
  size_t at = static_cast<size_t>(authority - base);
  const size_t scheme = SchemeLength(location);
  const bool ownAuthority = scheme > 0 || strncmp(location, "//", 2) == 0;
  memcpy(target, base, at);
  if (scheme > 0) {
    if (strncmp(location + scheme, "://", 3) != 0) return false;
    // Letters, digits, "+", "-" and ".": only the letters change.
    for (at = 0; at < scheme; ++at) target[at] = static_cast<char>(location[at] | 0x20);
    memcpy(target + at, "://", 3);
    at += 3;
  }
  if (ownAuthority) authority = location + (scheme > 0 ? scheme + 3 : 2);
  const char* rest = authority + strcspn(authority, ownAuthority ? "/?#" : "/");
  const size_t authorityLength = static_cast<size_t>(rest - authority);
  size_t mergedLength = 0;
  if (ownAuthority) {
    mergedLength = length - static_cast<size_t>(rest - location);
    memcpy(merged, rest, mergedLength);
  } else {
    // Merged with the base's path (section 5.2.3): its directory, all of it
    // before a query alone, none of it before an absolute path.
    size_t basePath = strcspn(rest, "?");
    size_t directory = basePath;
    while (directory > 0 && rest[directory - 1] != '/') --directory;
    size_t kept = location[0] == '?' ? basePath : location[0] == '/' ? 0 : directory;
    memcpy(merged, rest, kept);
    memcpy(merged + kept, location, length);
    mergedLength = kept + length;
  }
  merged[mergedLength] = '\0';
  const size_t pathLength = strcspn(merged, "?");
  // The path may gain one "/"; then the terminator.
  if (at + authorityLength + mergedLength + 2 > static_cast<size_t>(URL_BUFFER_SIZE)) return false;
  memcpy(target + at, authority, authorityLength);
  at += authorityLength;
  AppendPath(target, &at, merged, pathLength);
  memcpy(target + at, merged + pathLength, mergedLength - pathLength + 1);

  UrlScheme kind = SCHEME_HTTP;
  char host[HOST_BUFFER_SIZE];
  char path[PATH_BUFFER_SIZE];
  char port[PORT_BUFFER_SIZE];
  const char* refusal = "";
  return SplitDownloadUrl(target, &kind, host, path, port, &refusal) == URL_SPLIT && host[0] != '\0' &&
         PortNumber(port) != 0;
}

void BeginRedirectChain(RedirectChain* chain, const char* first, int allowed) {
  chain->hops = 0;
  chain->allowed = allowed;
  strncpy(chain->visited[0], first, URL_BUFFER_SIZE - 1);
  chain->visited[0][URL_BUFFER_SIZE - 1] = '\0';
}

RedirectHop DecideRedirect(RedirectChain* chain, const char* location) {
  char target[URL_BUFFER_SIZE];
  const char* from = chain->visited[chain->hops];
  if (location[0] == '\0') return REDIRECT_NO_LOCATION;
  if (!ResolveLocation(from, location, target)) return REDIRECT_NOT_AN_ADDRESS;
  if (IsHttpsUrl(from) && !IsHttpsUrl(target)) return REDIRECT_DOWNGRADE;
  for (int i = 0; i <= chain->hops; ++i)
    if (strcmp(chain->visited[i], target) == 0) return REDIRECT_LOOP;
  if (chain->hops >= chain->allowed) return REDIRECT_TOO_MANY;
  strcpy(chain->visited[++chain->hops], target);
  return REDIRECT_FOLLOWED;
}

const char* RedirectRefusal(RedirectHop hop) {
  static const char* const WHY[] = {"", "no location", "its location is no address to download from",
                                    "from https:// down to http://", "a loop back to an address of this download",
                                    "one more than allowed"};
  return WHY[hop];
}
