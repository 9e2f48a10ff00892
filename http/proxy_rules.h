// Which proxy the system's settings give an address: the road through the
// user's Internet settings, the entry of a proxy list that serves a scheme, and
// the bypass list. Plain values; builds without the Windows headers.
#pragma once

// Where the user's Internet settings send requests.
struct UserProxySettings {
  bool read;            // the settings could be read at all
  bool autoDetect;      // "automatically detect settings"
  bool hasScriptUrl;    // "use automatic configuration script"
  bool hasStaticProxy;  // "use a proxy server", with its address
};

enum ProxyRoad {
  PROXY_ROAD_AUTOMATIC,  // the library follows the system's settings itself (Windows 8.1 and later)
  PROXY_ROAD_SCRIPT,     // ask the library which proxy the detection or the script names for the address
  PROXY_ROAD_STATIC,     // the user's proxy server and its bypass list
  PROXY_ROAD_DEFAULT,    // the library's own setting (the machine-wide WinHTTP proxy, or none)
};

// The first road: the automatic one where the library offered it, else the
// user's settings in the order the browser follows them, else the default.
ProxyRoad ChooseProxyRoad(bool automaticAvailable, const UserProxySettings& settings);

// Where to go when the detection or the script named no proxy for the address.
ProxyRoad ProxyRoadAfterScript(const UserProxySettings& settings);

// Room for a proxy list or a bypass list, in UTF-16 units.
const int PROXY_TEXT_SIZE = 1024;

// The proxy that a list names for `scheme` ("http"): entries "host:port" for
// every scheme or "scheme=host:port" for one, separated by ';' or blanks. The
// first entry for the scheme, else the first for every scheme, into `proxy`
// (`size` units). False, with `proxy` empty, when there is none or it does not fit.
bool ProxyForScheme(const wchar_t* list, const wchar_t* scheme, wchar_t* proxy, int size);

// True when the bypass list leaves `host` out of the proxy: entries separated
// by ';', ',' or blanks, compared in any case, '*' standing for any run of
// characters, a leading "scheme://" ignored, and "<local>" for every name
// without a dot.
bool HostBypassesProxy(const wchar_t* host, const wchar_t* bypassList);
