// winsock2.h must come before windows.h.
#include "download/http_client.h"
#include "download/https_client.h"

#include "download/body_file.h"
#include "download/download_result.h"
#include "download/http_protocol.h"
#include "download/https_protocol.h"
#include "download/winhttp_library.h"
#include "log/fresh_file.h"
#include "log/run_log.h"

static_assert(HTTPS_NOTICE_CONNECTING_TO_SERVER == WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER,
              "the plain code's notification values are the library's");
static_assert(HTTPS_NOTICE_SENDING_REQUEST == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST,
              "the plain code's notification values are the library's");

// Asked for where the library predates Windows 8.1, whose default has TLS 1.0 only
// (Windows 7 with its update takes it; older systems refuse it).
static const DWORD CURRENT_TLS_PROTOCOLS =
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;

static const DWORD NOTICES = WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER | WINHTTP_CALLBACK_FLAG_SEND_REQUEST |
                             WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;

static void ReportStep(ProgressCallback progress, const WCHAR* text) {
  if (progress != NULL) progress(text, PROGRESS_HIDDEN);
}

// What the library's notifications tell during one request.
struct RequestNotices {
  ProgressCallback progress;
  HttpsStep reached;
  DWORD certificateFlags;
};

// Called by the library on the downloading thread itself (the session is synchronous).
static void CALLBACK OnNotice(HINTERNET, DWORD_PTR context, DWORD notice, LPVOID information, DWORD length) {
  RequestNotices* notices = reinterpret_cast<RequestNotices*>(context);
  if (notices == NULL) return;
  if (notice == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) {
    if (information != NULL && length >= sizeof(DWORD)) notices->certificateFlags |= *static_cast<DWORD*>(information);
    return;
  }
  ReachHttpsStep(&notices->reached, HttpsStepOfNotice(notice), notices->progress);
}

// One line for a failed library call, with the code's meaning, and one for the
// certificate's problems where the library named them.
static void LogHttpsFailure(const WCHAR* call, DWORD error, DWORD certificateFlags) {
  LogFormat(L"https %s failed %d: %S", call, static_cast<int>(error), WinHttpErrorMeaning(error));
  if (certificateFlags != 0) {
    char problems[160];
    DescribeCertificateFlags(certificateFlags, problems, sizeof problems);
    LogFormat(L"certificate refused: %S (flags 0x%08X)", problems, static_cast<unsigned>(certificateFlags));
  }
}

static bool HasText(const WCHAR* text) {
  return text != NULL && text[0] != L'\0';
}

// Asks the library which proxy detection or the user's script names for `url`,
// through a session of its own. True with *found filled (its texts are the
// caller's to free) when they gave an answer.
static bool FindScriptProxy(const WinHttpFunctions* api, const WCHAR* url,
                            const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& user, const UserProxySettings& settings,
                            WINHTTP_PROXY_INFO* found) {
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
  if (!answered)
    LogFormat(L"https proxy script or detection failed %d: %S", static_cast<int>(error), WinHttpErrorMeaning(error));
  return answered;
}

// Opens the download's session on the first proxy road the system offers, the
// proxy decided before the session exists (not every version of the library
// takes a proxy set on a session or a request afterwards). *road tells which.
static HINTERNET OpenSession(const WinHttpFunctions* api, bool mayUseAutomaticProxy, const WCHAR* url,
                             ProxyRoad* road) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user;
  WINHTTP_PROXY_INFO found;
  UserProxySettings settings = {false, false, false, false};
  const WCHAR* proxy = NULL;
  const WCHAR* bypass = NULL;
  DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  HINTERNET session = NULL;
  ZeroMemory(&user, sizeof user);
  ZeroMemory(&found, sizeof found);

  // No user agent: the Winsock client sends none either.
  if (mayUseAutomaticProxy) session = api->open(NULL, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, NULL, NULL, 0);
  if (session != NULL) {
    *road = PROXY_ROAD_AUTOMATIC;
    LogLine(L"https proxy: the system's automatic settings");
    return session;
  }
  settings.read = api->getIEProxyConfigForCurrentUser(&user) != FALSE;
  settings.autoDetect = settings.read && user.fAutoDetect;
  settings.hasScriptUrl = settings.read && HasText(user.lpszAutoConfigUrl);
  settings.hasStaticProxy = settings.read && HasText(user.lpszProxy);
  *road = ChooseProxyRoad(false, settings);
  if (*road == PROXY_ROAD_SCRIPT) {
    if (!FindScriptProxy(api, url, user, settings, &found)) {
      *road = ProxyRoadAfterScript(settings);
    } else if (found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && HasText(found.lpszProxy)) {
      proxy = found.lpszProxy;
      bypass = found.lpszProxyBypass;
      LogFormat(L"https proxy: %s from the proxy script", proxy);
    } else {
      access = WINHTTP_ACCESS_TYPE_NO_PROXY;
      LogLine(L"https proxy: none, by the proxy script");
    }
  }
  if (*road == PROXY_ROAD_STATIC) {
    proxy = user.lpszProxy;
    bypass = user.lpszProxyBypass;
    LogFormat(L"https proxy: %s from the internet settings", proxy);
  }
  if (*road == PROXY_ROAD_DEFAULT) LogLine(L"https proxy: winhttp's default");
  if (proxy != NULL) access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  session = api->open(NULL, access, proxy != NULL ? proxy : WINHTTP_NO_PROXY_NAME,
                      proxy != NULL && HasText(bypass) ? bypass : WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == NULL) LogFormat(L"winhttp open failed %d", static_cast<int>(GetLastError()));

  // The session holds copies of the texts.
  const LPWSTR owned[] = {found.lpszProxy, found.lpszProxyBypass, user.lpszAutoConfigUrl, user.lpszProxy,
                          user.lpszProxyBypass};
  for (size_t i = 0; i < sizeof owned / sizeof owned[0]; ++i)
    if (owned[i] != NULL) GlobalFree(owned[i]);
  return session;
}

// No redirect is followed, to plain HTTP least of all. Either option does it;
// the policy came with later versions of the library. The connection is not
// kept for another request either: a download is one request, and a kept one
// that the server has closed meanwhile fails the next download on some versions.
static bool LimitToThisRequest(const WinHttpFunctions* api, HINTERNET request) {
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  DWORD disable = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;
  bool policy = api->setOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never) != FALSE;
  bool feature = api->setOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable) != FALSE;
  return policy || feature;
}

// The refused answer's status line, as the server sent it, for the run log.
static void LogRefusedStatus(const WinHttpFunctions* api, HINTERNET request, DWORD status) {
  WCHAR version[32];
  WCHAR reason[HEAD_LINE_SIZE];
  DWORD size = sizeof version;
  if (!api->queryHeaders(request, WINHTTP_QUERY_VERSION, WINHTTP_HEADER_NAME_BY_INDEX, version, &size,
                         WINHTTP_NO_HEADER_INDEX))
    lstrcpyW(version, L"HTTP/?");
  size = sizeof reason;
  if (!api->queryHeaders(request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, reason, &size,
                         WINHTTP_NO_HEADER_INDEX))
    reason[0] = L'\0';
  if (reason[0] != L'\0')
    LogFormat(L"http error : %s %d %s", version, static_cast<int>(status), reason);
  else
    LogFormat(L"http error : %s %d", version, static_cast<int>(status));
}

// The answer's Content-Length. False when it has none (a chunked answer
// included): without it the body's size is unknown and a cut file would pass.
static bool ReadContentLength(const WinHttpFunctions* api, HINTERNET request, int* contentLength) {
  WCHAR text[64];
  DWORD size = sizeof text;
  if (!api->queryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                         WINHTTP_NO_HEADER_INDEX))
    return false;
  *contentLength = ParseWideLengthValue(text);
  return true;
}

// Writes exactly `contentLength` body bytes to a new file at `targetPath`. True
// when all of them arrived and were written; otherwise the file is deleted.
static bool ReceiveHttpsBody(const WinHttpFunctions* api, HINTERNET request, int contentLength,
                             const WCHAR* targetPath, ProgressCallback progress) {
  char chunk[HTTPS_READ_SIZE];
  BodyProgress body;
  bool writtenWhole = true;
  DWORD failure = 0;
  HANDLE file = CreateFreshFile(targetPath, GENERIC_WRITE, FILE_SHARE_READ);
  if (file == INVALID_HANDLE_VALUE) return false;  // the caller logs the error code

  LogLine(L"start down");
  BeginBodyProgress(&body, contentLength, progress);
  while (body.received < contentLength) {
    DWORD got = 0;
    if (!api->readData(request, chunk, static_cast<DWORD>(HttpsReadSize(contentLength, body.received)), &got)) {
      failure = GetLastError();
      LogFormat(L"data download error %d", static_cast<int>(failure));
      break;
    }
    if (got == 0) break;  // the answer ended early
    if (!WriteBodyPiece(file, chunk, got, &body, &failure)) {
      writtenWhole = false;
      break;
    }
  }
  LogLine(L"end down");
  CloseHandle(file);
  if (writtenWhole && body.received == contentLength) return true;
  // The caller logs the thread's last error: keep the failure's, not the deletion's.
  if (failure == 0) failure = GetLastError();
  // A cut file beside setup.exe, named as the installer, could pass for it.
  DeleteOwnFile(targetPath);
  SetLastError(failure);
  return false;
}

int HttpsGet(const char* url, const WCHAR* targetPath, ProgressCallback progress) {
  return HttpsGetOnProxyRoad(url, targetPath, progress, true);
}

int HttpsGetOnProxyRoad(const char* url, const WCHAR* targetPath, ProgressCallback progress,
                        bool mayUseAutomaticProxy) {
  char host[HOST_BUFFER_SIZE];
  char path[PATH_BUFFER_SIZE];
  char port[PORT_BUFFER_SIZE];
  WCHAR wideUrl[URL_BUFFER_SIZE];
  WCHAR wideHost[HOST_BUFFER_SIZE];
  WCHAR widePath[PATH_BUFFER_SIZE];
  const char* refusal = "";
  UrlScheme scheme = URL_SCHEME_HTTP;
  long portNumber = 0;
  const WinHttpFunctions* api = NULL;
  ProxyRoad road = PROXY_ROAD_DEFAULT;
  HINTERNET session = NULL;
  HINTERNET connection = NULL;
  HINTERNET request = NULL;
  RequestNotices notices = {progress, HTTPS_STEP_LOOKING_UP, 0};
  DWORD status = 0;
  DWORD size = 0;
  DWORD headTimeLimit = HTTP_RECEIVE_TIMEOUT_MS;
  DWORD headLimit = HEAD_SIZE_LIMIT;
  DWORD protocols = CURRENT_TLS_PROTOCOLS;
  int contentLength = 0;
  int result = DOWNLOAD_FAILED;

  LogFormat(L"url: %S", url);
  ReportStep(progress, L"准备下载...");
  result = SplitDownloadUrl(url, &scheme, host, path, port, &refusal);
  if (result == DOWNLOAD_OK && scheme != URL_SCHEME_HTTPS) result = DOWNLOAD_BAD_SCHEME;
  if (result != DOWNLOAD_OK) {
    if (result == DOWNLOAD_FAILED) LogFormat(L"url refused: %S", refusal);
    return result;
  }
  result = DOWNLOAD_FAILED;
  // Refused before anything starts: the library takes a host and a port number.
  if (host[0] == '\0') {
    LogLine(L"url refused: no host");
    return DOWNLOAD_FAILED;
  }
  portNumber = PortNumber(port);
  if (portNumber == 0) {
    LogFormat(L"url refused: port %S is not a number from 1 to 65535", port);
    return DOWNLOAD_FAILED;
  }
  // Back to UTF-16 for the library, from the same 8-bit text that a plain HTTP
  // download would send; each part takes at most as many units as it had bytes.
  MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, URL_BUFFER_SIZE);
  MultiByteToWideChar(CP_ACP, 0, host, -1, wideHost, HOST_BUFFER_SIZE);
  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, PATH_BUFFER_SIZE);

  ReportStep(progress, L"查找服务器...");
  api = LoadWinHttp();
  if (api == NULL) goto done;
  session = OpenSession(api, mayUseAutomaticProxy, wideUrl, &road);
  if (session == NULL) goto done;
  // The automatic road exists from Windows 8.1 on, whose library offers TLS 1.2 by itself.
  if (road != PROXY_ROAD_AUTOMATIC &&
      !api->setOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
    LogFormat(L"tls 1.1 and 1.2 not offered by winhttp %d", static_cast<int>(GetLastError()));
  if (!api->setTimeouts(session, HTTPS_RESOLVE_TIMEOUT_MS, HTTPS_CONNECT_TIMEOUT_MS, HTTPS_SEND_TIMEOUT_MS,
                        HTTP_RECEIVE_TIMEOUT_MS)) {
    LogFormat(L"winhttp time-outs not set %d", static_cast<int>(GetLastError()));
    goto done;
  }
  connection = api->connect(session, wideHost, static_cast<INTERNET_PORT>(portNumber), 0);
  if (connection == NULL) {
    LogHttpsFailure(L"connect", GetLastError(), 0);
    goto done;
  }
  request = api->openRequest(connection, L"GET", widePath, NULL, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (request == NULL) {
    LogHttpsFailure(L"open request", GetLastError(), 0);
    goto done;
  }
  if (!LimitToThisRequest(api, request)) {
    LogFormat(L"https redirects cannot be refused %d", static_cast<int>(GetLastError()));
    goto done;
  }
  // Results not examined: older libraries lack these and keep their own limits.
  // The whole head within the receive time-out: some versions wait for the head
  // by this limit alone, and a head comes in one piece from a server that answers.
  api->setOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeLimit, sizeof headTimeLimit);
  api->setOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headLimit, sizeof headLimit);
  // Without notifications the step texts catch up after the send, and only the error code names a failure.
  api->setStatusCallback(request, OnNotice, NOTICES, 0);

  if (!api->sendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                        reinterpret_cast<DWORD_PTR>(&notices))) {
    LogHttpsFailure(L"send", GetLastError(), notices.certificateFlags);
    goto done;
  }
  ReachHttpsStep(&notices.reached, HTTPS_STEP_PARSING, progress);
  if (!api->receiveResponse(request, NULL)) {
    LogHttpsFailure(L"receive", GetLastError(), notices.certificateFlags);
    ReportStep(progress, L"下载失败。");
    goto done;
  }
  size = sizeof status;
  if (!api->queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                         WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    status = 0;
  if (status != 200) {
    LogRefusedStatus(api, request, status);
    ReportStep(progress, L"下载失败。");
    goto done;
  }
  if (!ReadContentLength(api, request, &contentLength)) {
    LogLine(L"no content length in the response head");
    ReportStep(progress, L"下载失败。");
    goto done;
  }

  ReportStep(progress, L"正在下载...");
  LogFormat(L"content length: %d", contentLength);
  if (ReceiveHttpsBody(api, request, contentLength, targetPath, progress)) {
    result = DOWNLOAD_OK;
    ReportStep(progress, L"下载完成。");
  } else {
    LogFormat(L"data download-error : %d", static_cast<int>(GetLastError()));
    ReportStep(progress, L"下载失败。");
  }

done:
  if (request != NULL) api->closeHandle(request);
  if (connection != NULL) api->closeHandle(connection);
  if (session != NULL) api->closeHandle(session);
  return result;
}
