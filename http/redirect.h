// Redirects, in plain values: which answers are followed, where a Location
// leads (RFC 3986 section 5.2), and whether one more hop may be made.
#pragma once

#include "http/url.h"

// The most redirects that a configuration may allow in one download.
const int MAX_REDIRECTS = 9;

// 301, 302, 303, 307 and 308 (RFC 9110 section 15.4): a GET that may be
// repeated at the Location.
bool IsFollowedRedirect(int status);

// `location` (a Location value: absolute, network-path, absolute-path,
// relative-path or query-only) resolved against the address `base` into
// `target` (URL_BUFFER_SIZE bytes), its dot segments removed and its fragment
// dropped. False when the result is no "http://" or "https://" address with
// a path, or the location holds a byte that a request line cannot carry (a
// blank, a control character, 8-bit text). The download splits and checks
// the target's parts as it does every address.
bool ResolveLocation(const char* base, const char* location, char* target);

enum RedirectHop {
  REDIRECT_FOLLOWED,
  REDIRECT_NO_LOCATION,    // none, or an empty one
  REDIRECT_NOT_AN_ADDRESS, // ResolveLocation refused it
  REDIRECT_DOWNGRADE,      // from https:// to http://
  REDIRECT_LOOP,           // back to an address of this download
  REDIRECT_TOO_MANY        // one more than allowed
};

// The addresses of one download: the first, then each hop's.
struct RedirectChain {
  int hops;
  int allowed;
  char visited[MAX_REDIRECTS + 1][URL_BUFFER_SIZE];
};

// `first`: an address that fits URL_BUFFER_SIZE.
void BeginRedirectChain(RedirectChain* chain, const char* first, int allowed);

// The hop from the chain's last address to `location`: FOLLOWED makes the
// target the chain's last address (visited[hops]).
RedirectHop DecideRedirect(RedirectChain* chain, const char* location);

// Why a hop is refused, in the run log's words ("" for FOLLOWED).
const char* RedirectRefusal(RedirectHop hop);
