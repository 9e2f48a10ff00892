#include "download/proxy_finder.h"

#include "download/https_protocol.h"
#include "log/run_log.h"

bool IsNamedProxy(const ProxyChoice& choice) {
  return choice.access == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
}

static bool HasText(const WCHAR* text) {
  return text != NULL && text[0] != L'\0';
}

// Asks the library which proxy detection or the user's script names for `url`,
// through a session of its own. True with *found filled (its texts are the
// caller's to free) when they gave an answer.
static bool FindScriptProxy(const WinHttpFunctions* api, const WCHAR* url,
                            const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& user, const UserProxySettings& settings,
                            bool logFailure, WINHTTP_PROXY_INFO* found) {
  WINHTTP_AUTOPROXY_OPTIONS options;
  ZeroMemory(&options, sizeof options);
  if (settings.autoDetect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (settings.hasScriptUrl) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = user.lpszAutoConfigUrl;
  }
  options.fAutoLogonIfChallenged = TRUE;
  HINTERNET asking = api->open(NULL, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  bool answered = asking != NULL && api->getProxyForUrl(asking, url, &options, found);
  DWORD error = GetLastError();
  if (asking != NULL) api->closeHandle(asking);
  // Detection that finds nothing is the common case at home: not worth a line for every http:// download.
  if (!answered && logFailure)
    LogFormat("https proxy script or detection failed %d: %S", static_cast<int>(error), WinHttpErrorMeaning(error));
  return answered;
}

// Copies a text into a choice's buffer; false when it does not fit (nothing is cut).
static bool CopyProxyText(const WCHAR* text, WCHAR* buffer) {
  buffer[0] = L'\0';
  if (text == NULL) return true;
  if (lstrlenW(text) >= PROXY_TEXT_SIZE) return false;
  lstrcpyW(buffer, text);
  return true;
}

// For https://: the list and its bypass as the settings give them; the library
// picks the entry for the scheme and honours the bypass list itself.
static void NameProxy(const WCHAR* list, const WCHAR* bypass, ProxyChoice* choice) {
  if (CopyProxyText(list, choice->proxy) && CopyProxyText(bypass, choice->bypass))
    choice->access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  else
    LogLine("proxy list longer than setup.exe takes, not used");
}

// For http://: the one proxy that serves "http" for `host`, decided here, so
// that the address goes to the library only when it goes through a proxy.
static bool NameHttpProxy(const WCHAR* list, const WCHAR* bypass, const WCHAR* host, ProxyChoice* choice) {
  if (!HasText(list) || HostBypassesProxy(host, bypass) || !ProxyForScheme(list, L"http", choice->proxy, PROXY_TEXT_SIZE))
    return false;
  choice->bypass[0] = L'\0';
  choice->access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  return true;
}

// The road of the detection or the user's script: the proxy it names for
// `url`, none, or (when it gave no answer) the road after it.
static void FollowProxyScript(const WinHttpFunctions* api, const WCHAR* url, const WCHAR* host, bool https,
                              const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& user, const UserProxySettings& settings,
                              WINHTTP_PROXY_INFO* found, ProxyChoice* choice) {
  if (!FindScriptProxy(api, url, user, settings, https, found)) {
    choice->road = ProxyRoadAfterScript(settings);
  } else if (found->dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !HasText(found->lpszProxy)) {
    choice->access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    if (https) LogLine("https proxy: none, by the proxy script");
  } else if (https) {
    NameProxy(found->lpszProxy, found->lpszProxyBypass, choice);
    LogFormat("https proxy: %s from the proxy script", found->lpszProxy);
  } else if (NameHttpProxy(found->lpszProxy, found->lpszProxyBypass, host, choice)) {
    LogFormat("http proxy: %s from the proxy script", choice->proxy);
  }
}

void FindProxy(const WinHttpFunctions* api, const WCHAR* url, const WCHAR* host, UrlScheme scheme,
               bool mayUseAutomatic, ProxyChoice* choice) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user;
  WINHTTP_PROXY_INFO found;
  WINHTTP_PROXY_INFO machine;
  UserProxySettings settings = {false, false, false, false};
  const bool https = scheme == SCHEME_HTTPS;
  ZeroMemory(&user, sizeof user);
  ZeroMemory(&found, sizeof found);
  ZeroMemory(&machine, sizeof machine);
  choice->access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  choice->proxy[0] = L'\0';
  choice->bypass[0] = L'\0';

  // No user agent: the Winsock client sends none either.
  HINTERNET automatic = https && mayUseAutomatic ? api->open(NULL, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, NULL, NULL, 0)
                                                 : NULL;
  if (automatic != NULL) {
    api->closeHandle(automatic);
    choice->road = PROXY_ROAD_AUTOMATIC;
    choice->access = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
    LogLine("https proxy: the system's automatic settings");
    return;
  }
  settings.read = api->getIEProxyConfigForCurrentUser(&user) != FALSE;
  settings.autoDetect = settings.read && user.fAutoDetect;
  settings.hasScriptUrl = settings.read && HasText(user.lpszAutoConfigUrl);
  settings.hasStaticProxy = settings.read && HasText(user.lpszProxy);
  choice->road = ChooseProxyRoad(false, settings);
  if (choice->road == PROXY_ROAD_SCRIPT) FollowProxyScript(api, url, host, https, user, settings, &found, choice);
  if (choice->road == PROXY_ROAD_STATIC) {
    if (https) {
      NameProxy(user.lpszProxy, user.lpszProxyBypass, choice);
      LogFormat("https proxy: %s from the internet settings", user.lpszProxy);
    } else if (NameHttpProxy(user.lpszProxy, user.lpszProxyBypass, host, choice)) {
      LogFormat("http proxy: %s from the internet settings", choice->proxy);
    }
  }
  if (choice->road == PROXY_ROAD_DEFAULT) {
    // The session's default access takes the machine's setting for https://; http:// reads it here.
    if (https)
      LogLine("https proxy: winhttp's default");
    else if (api->getDefaultProxyConfiguration(&machine) && machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
             NameHttpProxy(machine.lpszProxy, machine.lpszProxyBypass, host, choice))
      LogFormat("http proxy: %s from winhttp's default", choice->proxy);
  }
  // The choice holds copies of the texts.
  const LPWSTR owned[] = {found.lpszProxy,     found.lpszProxyBypass, user.lpszAutoConfigUrl, user.lpszProxy,
                          user.lpszProxyBypass, machine.lpszProxy,   machine.lpszProxyBypass};
  for (size_t i = 0; i < sizeof owned / sizeof owned[0]; ++i)
    if (owned[i] != NULL) GlobalFree(owned[i]);
}

HINTERNET OpenProxySession(const WinHttpFunctions* api, const ProxyChoice& choice) {
  const bool named = IsNamedProxy(choice);
  HINTERNET session = api->open(NULL, choice.access, named ? choice.proxy : WINHTTP_NO_PROXY_NAME,
                                named && HasText(choice.bypass) ? choice.bypass : WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == NULL) LogFormat("winhttp open failed %d", static_cast<int>(GetLastError()));
  return session;
}
