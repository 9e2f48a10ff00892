#include "http/redirect.h"

#include <string.h>

bool IsFollowedRedirect(int status) {
  return (status >= 301 && status <= 303) || status == 307 || status == 308;
}

// Removes the dot segments of the path that begins at `path` (RFC 3986
// section 5.2.4) in place; its query moves up behind it. Segment by segment
// ("/name" up to the next "/" or "?"): a "/." is dropped, a "/.." is dropped
// with the segment kept last, and any other is kept.
static void RemoveDotSegments(char* path) {
  const size_t end = strcspn(path, "?");
  size_t kept = 0;
  // Whether the segment just read was "." or "..": a path that ends in one
  // ends in "/" ("/a/b/.." is "/a/"), which the loop does not keep.
  bool endsInDots = false;
  for (size_t at = 0; at < end && path[at] == '/';) {
    size_t next = at + 1 + strcspn(path + at + 1, "/?");
    size_t segment = next - at - 1;
    endsInDots = (segment == 1 || segment == 2) && path[at + 1] == '.' && (segment == 1 || path[at + 2] == '.');
    if (endsInDots && segment == 2)
      while (kept > 0 && path[--kept] != '/') {
      }
    if (!endsInDots) {
      memmove(path + kept, path + at, next - at);
      kept += next - at;
    }
    at = next;
  }
  if (endsInDots) path[kept++] = '/';
  memmove(path + kept, path + end, strlen(path + end) + 1);
}

bool ResolveLocation(const char* base, const char* location, char* target) {
  const size_t length = strcspn(location, "#");
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(location[i]) <= ' ' || static_cast<unsigned char>(location[i]) >= 0x7F)
      return false;
  // The base is an address that was fetched: "scheme://authority/path?query".
  const char* authority = strchr(base, ':') + 3;
  const size_t pathAt = static_cast<size_t>(authority - base) + strcspn(authority, "/");
  // What the reference keeps of the base (section 5.2.2): nothing before a
  // scheme, the scheme before "//", scheme and authority before a path, all
  // but the query before a query alone, and the directory before a relative path.
  size_t kept = pathAt + strcspn(base + pathAt, "?");
  const size_t scheme = strcspn(location, ":/?#");
  const bool ownScheme = location[scheme] == ':';
  if (ownScheme)
    kept = 0;
  else if (location[0] == '/' && location[1] == '/')
    kept = static_cast<size_t>(authority - base) - 2;
  else if (location[0] == '/')
    kept = pathAt;
  else if (location[0] != '?')
    while (base[kept - 1] != '/') --kept;
  if (length == 0 || kept + length >= static_cast<size_t>(URL_BUFFER_SIZE)) return false;
  memcpy(target, base, kept);
  memcpy(target + kept, location, length);
  target[kept + length] = '\0';
  // Only the letters of a scheme change; one that is not "http" or "https" is refused below.
  for (size_t i = 0; ownScheme && i < scheme; ++i) target[i] = static_cast<char>(target[i] | 0x20);
  // The download splits and checks the rest: host, port, lengths.
  const int schemeLength = IsHttpsUrl(target) ? 8 : strncmp(target, "http://", 7) == 0 ? 7 : 0;
  if (schemeLength == 0) return false;
  char* path = target + schemeLength + strcspn(target + schemeLength, "/?");
  RemoveDotSegments(path);
  return *path == '/';
}

void BeginRedirectChain(RedirectChain* chain, const char* first, int allowed) {
  chain->hops = 0;
  chain->allowed = allowed < MAX_REDIRECTS ? allowed : MAX_REDIRECTS;
  strcpy(chain->visited[0], first);
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
  static const char* const WHY[] = {"", "no location", "not an address", "https to http", "a loop", "too many"};
  return WHY[hop];
}
