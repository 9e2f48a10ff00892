#include "http/proxy_rules.h"

#include <stddef.h>

ProxyRoad ChooseProxyRoad(bool automaticAvailable, const UserProxySettings& settings) {
  if (automaticAvailable) return PROXY_ROAD_AUTOMATIC;
  if (!settings.read) return PROXY_ROAD_DEFAULT;
  // The browser tries detection and the script first, its fixed proxy after them.
  if (settings.autoDetect || settings.hasScriptUrl) return PROXY_ROAD_SCRIPT;
  return ProxyRoadAfterScript(settings);
}

ProxyRoad ProxyRoadAfterScript(const UserProxySettings& settings) {
  return settings.read && settings.hasStaticProxy ? PROXY_ROAD_STATIC : PROXY_ROAD_DEFAULT;
}

static wchar_t LowerUnit(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

static bool IsSeparator(wchar_t c, bool commas) {
  return c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || (commas && c == L',');
}

// The next entry of a list from *at: [*start, *end); false when none is left.
static bool NextEntry(const wchar_t** at, bool commas, const wchar_t** start, const wchar_t** end) {
  const wchar_t* p = *at;
  while (*p != L'\0' && IsSeparator(*p, commas)) ++p;
  if (*p == L'\0') return false;
  *start = p;
  while (*p != L'\0' && !IsSeparator(*p, commas)) ++p;
  *end = p;
  *at = p;
  return true;
}

static bool SameText(const wchar_t* start, const wchar_t* end, const wchar_t* text) {
  for (; start < end; ++start, ++text)
    if (*text == L'\0' || LowerUnit(*start) != LowerUnit(*text)) return false;
  return *text == L'\0';
}

bool ProxyForScheme(const wchar_t* list, const wchar_t* scheme, wchar_t* proxy, int size) {
  const wchar_t* start = NULL;
  const wchar_t* end = NULL;
  const wchar_t* chosen = NULL;
  const wchar_t* chosenEnd = NULL;
  bool forScheme = false;
  if (size <= 0) return false;
  proxy[0] = L'\0';
  for (const wchar_t* at = list; list != NULL && !forScheme && NextEntry(&at, false, &start, &end);) {
    const wchar_t* equals = start;
    while (equals < end && *equals != L'=') ++equals;
    if (equals == end && chosen == NULL) {
      chosen = start;
      chosenEnd = end;
    } else if (equals < end && equals + 1 < end && SameText(start, equals, scheme)) {
      chosen = equals + 1;
      chosenEnd = end;
      forScheme = true;
    }
  }
  if (chosen == NULL || chosenEnd - chosen >= size) return false;
  int length = static_cast<int>(chosenEnd - chosen);
  for (int i = 0; i < length; ++i) proxy[i] = chosen[i];
  proxy[length] = L'\0';
  return true;
}

// '*' matches any run of units; the rest compares in any case. Iterative, with
// one point to come back to: linear in practice, bounded by the product of the lengths.
static bool MatchesPattern(const wchar_t* pattern, const wchar_t* patternEnd, const wchar_t* text) {
  const wchar_t* star = NULL;
  const wchar_t* resume = NULL;
  while (*text != L'\0') {
    if (pattern < patternEnd && *pattern == L'*') {
      star = ++pattern;
      resume = text;
    } else if (pattern < patternEnd && LowerUnit(*pattern) == LowerUnit(*text)) {
      ++pattern;
      ++text;
    } else if (star != NULL) {
      pattern = star;
      text = ++resume;
    } else {
      return false;
    }
  }
  while (pattern < patternEnd && *pattern == L'*') ++pattern;
  return pattern == patternEnd;
}

bool HostBypassesProxy(const wchar_t* host, const wchar_t* bypassList) {
  const wchar_t* start = NULL;
  const wchar_t* end = NULL;
  bool dotted = false;
  for (const wchar_t* c = host; *c != L'\0'; ++c) dotted = dotted || *c == L'.';
  for (const wchar_t* at = bypassList; bypassList != NULL && NextEntry(&at, true, &start, &end);) {
    if (SameText(start, end, L"<local>")) {
      if (!dotted) return true;
      continue;
    }
    for (const wchar_t* p = start; p + 2 < end; ++p)
      if (p[0] == L':' && p[1] == L'/' && p[2] == L'/') {
        start = p + 3;
        break;
      }
    if (MatchesPattern(start, end, host)) return true;
  }
  return false;
}
