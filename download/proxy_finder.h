// Finding the proxy that the system's settings name for a download, through
// the system's HTTP library, and opening the library's session on it. The
// https:// road follows the library's automatic handling where it has one
// (Windows 8.1 and later), otherwise the user's Internet settings, otherwise
// the library's own setting. An http:// address follows the same settings,
// read directly, so that it leaves setup.exe's own client only when a proxy
// really is named for it.
#pragma once

#include <windows.h>

#include "http/url.h"
#include "http/proxy_rules.h"
#include "download/winhttp_library.h"

struct ProxyChoice {
  ProxyRoad road;
  DWORD access;                   // the session's WINHTTP_ACCESS_TYPE_*
  WCHAR proxy[PROXY_TEXT_SIZE];   // for WINHTTP_ACCESS_TYPE_NAMED_PROXY
  WCHAR bypass[PROXY_TEXT_SIZE];  // may be empty
};

// True when the choice sends the download to a proxy the settings named.
bool IsNamedProxy(const ProxyChoice& choice);

// Fills `choice` for `url` (UTF-16, whole) whose host is `host`. For https://
// with `mayUseAutomatic` the library's automatic road is taken where it exists
// (tests keep off it: Wine's ignores the user's settings); http:// never takes
// it and gets a named proxy only for a proxy that serves "http" and a host
// that no bypass list leaves out. Each https:// road taken is logged; for
// http:// only a proxy that was found.
void FindProxy(const WinHttpFunctions* api, const WCHAR* url, const WCHAR* host, UrlScheme scheme,
               bool mayUseAutomatic, ProxyChoice* choice);

// The library's session on the chosen road; null (logged) when it cannot be opened.
HINTERNET OpenProxySession(const WinHttpFunctions* api, const ProxyChoice& choice);
