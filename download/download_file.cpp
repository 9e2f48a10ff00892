// First: the Winsock client's header below needs Winsock's headers before windows.h.
#include "platform/windows_headers.h"

#include "download/download_file.h"

#include "download/body_file.h"
#include "download/download_stop.h"
#include "download/download_try.h"
#include "download/http_client.h"
#include "download/https_client.h"
#include "download/https_protocol.h"
#include "http/redirect.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"

DownloadTuning DownloadSettings = {HTTP_RECEIVE_TIMEOUT_MS, HEAD_TIME_LIMIT_MS, 100, true, RANGE_HEAD_LIMIT_MS};

// A download that broke and failed, whose file the next start of the same
// address may continue. Download threads run one at a time: no lock.
static KeptDownload Remembered;

// The system's HTTP library takes a host and a port number.
static bool AcceptsLibraryAddress(const char* host, const char* port) {
  if (host[0] == '\0') {
    LogLine("url refused: no host");
    return false;
  }
  if (PortNumber(port) == 0) {
    LogFormat("url refused: port %S is not a number from 1 to 65535", port);
    return false;
  }
  return true;
}

// The proxy for the address. False only for an https:// address without the
// library; an http:// one then goes directly.
static bool FindProxyFor(UrlScheme scheme, const WCHAR* url, const WCHAR* host, ProxyChoice* proxy) {
  proxy->road = PROXY_ROAD_DEFAULT;
  proxy->access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  proxy->proxy[0] = L'\0';
  proxy->bypass[0] = L'\0';
  // No host: the Winsock client refuses it, and no proxy is asked about it.
  if (scheme == SCHEME_HTTP && host[0] == L'\0') return true;
  const WinHttpFunctions* api = LoadWinHttp(scheme == SCHEME_HTTP);
  if (api == NULL) {
    if (scheme == SCHEME_HTTP) LogLine("http proxy: not looked up, winhttp.dll not loaded");
    return scheme == SCHEME_HTTP;
  }
  FindProxy(api, url, host, scheme, DownloadSettings.mayUseAutomaticProxy, proxy);
  return true;
}

static bool IsRemembered(const WCHAR* targetPath) {
  return Remembered.path[0] != L'\0' && lstrcmpiW(Remembered.path, targetPath) == 0;
}

void ForgetKeptDownload() {
  Remembered.url[0] = '\0';
  Remembered.path[0] = L'\0';
}

// Takes up the broken download remembered for this address and file: it is
// continued when its validator is known and the file is still the one written
// (this process made it, and it holds the bytes counted); otherwise the
// download starts over and makes the file afresh. Another address's partial
// file (the previous mirror's) stays remembered until a download writes over it.
static void TakeUpRemembered(DownloadTry* attempt) {
  if (!IsRemembered(attempt->targetPath) || lstrcmpA(Remembered.url, attempt->url) != 0) return;
  ResumePoint point = Remembered.point;
  ForgetKeptDownload();
  if (!CanContinue(point)) return;
  LARGE_INTEGER size;
  FileFailure failure;
  HANDLE file = OpenOwnFile(attempt->targetPath, GENERIC_WRITE, FILE_SHARE_READ, &failure);
  if (file == INVALID_HANDLE_VALUE) {
    LogFileFailure(failure, attempt->targetPath);
    LogLine("partial download not continued: its file was not reopened");
    return;
  }
  if (!GetFileSizeEx(file, &size) || size.QuadPart != point.kept) {
    LogFormat("partial download not continued: its file does not hold the %I64d bytes written", point.kept);
    CloseHandle(file);
    return;
  }
  attempt->file = file;
  attempt->point = point;
  LogFormat("continuing the partial download at byte %I64d of %I64d", point.kept, point.total);
}

// After the last try failed: the file stays for a later start only while it
// can be continued; it is never checked or started before it is whole.
static void KeepOrDelete(DownloadTry* attempt, TryEnd end) {
  if (attempt->file == INVALID_HANDLE_VALUE) return;
  CloseHandle(attempt->file);
  attempt->file = INVALID_HANDLE_VALUE;
  const ResumePoint& point = attempt->point;
  if (KeepPartialFile(point, end) && lstrlenW(attempt->targetPath) < MAX_PATH) {
    lstrcpynA(Remembered.url, attempt->url, URL_BUFFER_SIZE);
    lstrcpyW(Remembered.path, attempt->targetPath);
    Remembered.point = point;
    LogFormat("partial download kept at byte %I64d of %I64d for a later start", point.kept, point.total);
    return;
  }
  // Only while the name still holds the file this process wrote.
  FileFailure failure;
  if (!DeleteOwnFile(attempt->targetPath, &failure))
    LogFileFailure(failure, attempt->targetPath);
  else if (point.kept > 0)
    LogFormat("partial download deleted at byte %I64d: it cannot be continued", point.kept);
}

static void LogBreak(const DownloadTry& attempt) {
  if (attempt.failure == 0)
    LogFormat("download broke at byte %I64d of %I64d: the connection was closed", attempt.point.kept,
              attempt.point.total);
  else
    LogFormat("download broke at byte %I64d of %I64d: %S (%d)", attempt.point.kept, attempt.point.total,
              WinHttpErrorMeaning(attempt.failure), static_cast<int>(attempt.failure));
}

// An address split into the parts that the clients take.
struct DownloadAddress {
  UrlScheme scheme;
  char host[HOST_BUFFER_SIZE];
  char path[PATH_BUFFER_SIZE];
  char port[PORT_BUFFER_SIZE];
  char request[REQUEST_BUFFER_SIZE];  // http:// only: the first request, built here once
  int requestLength;
};

// Splits `url` and refuses, before anything starts, what no try could fetch:
// a request that cannot fit, an address the library cannot take. DOWNLOAD_OK,
// or the result to return, logged.
static DownloadResult SplitAddress(const char* url, DownloadAddress* address) {
  const char* refusal = "";
  UrlSplit split = SplitDownloadUrl(url, &address->scheme, address->host, address->path, address->port, &refusal);
  if (split == URL_BAD_SCHEME) return DOWNLOAD_BAD_SCHEME;
  if (split == URL_NO_PATH) return DOWNLOAD_NO_PATH;
  if (split != URL_SPLIT) {
    LogFormat("url refused: %S", refusal);
    return DOWNLOAD_FAILED;
  }
  if (address->scheme == SCHEME_HTTPS)
    return AcceptsLibraryAddress(address->host, address->port) ? DOWNLOAD_OK : DOWNLOAD_FAILED;
  address->requestLength = BuildRequest(address->host, address->path, address->port, address->request);
  if (address->requestLength >= 0) return DOWNLOAD_OK;
  LogLine("url refused: request longer than 1023 bytes");
  return DOWNLOAD_FAILED;
}

// The proxy for the address and the client that carries it. False (logged)
// when neither can take it.
static bool ChooseRoad(const char* url, const DownloadAddress& address, ProxyChoice* proxy, DownloadRoad* road) {
  WCHAR wideUrl[URL_BUFFER_SIZE];
  WCHAR wideHost[HOST_BUFFER_SIZE];
  // Each part takes at most as many units as it had bytes.
  MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, URL_BUFFER_SIZE);
  MultiByteToWideChar(CP_ACP, 0, address.host, -1, wideHost, HOST_BUFFER_SIZE);
  if (!FindProxyFor(address.scheme, wideUrl, wideHost, proxy)) return false;
  *road = ChooseDownloadRoad(address.scheme, IsNamedProxy(*proxy));
  return *road == ROAD_WINSOCK || address.scheme == SCHEME_HTTPS ||
         AcceptsLibraryAddress(address.host, address.port);
}

// Makes the tries until one completes or the rules end the download; the last one's end.
static TryEnd MakeTries(DownloadTry* attempt, DownloadRoad road) {
  for (attempt->number = 1;; ++attempt->number) {
    attempt->answerLogged = false;
    TryEnd end = road == ROAD_WINSOCK ? HttpTry(attempt) : WinHttpTry(attempt);
    attempt->mayRedirect = false;
    if (end == TRY_BROKEN) LogBreak(*attempt);
    if (!attempt->answerLogged && end != TRY_BROKEN && end != TRY_COMPLETE)
      LogTryAnswer(attempt, end == TRY_REFUSED ? "refused" : "failed");
    if (DecideAfterTry(end, attempt->number) != AFTER_TRY_AGAIN || DownloadsStopped()) return end;
    // The bar keeps its place; closing the window now stops the download during its pause.
    ReportStep(attempt->progress, STEP_CONTINUING);
    PauseUnlessStopped(PauseBeforeTry(*attempt, attempt->number + 1));
  }
}

// After the last try: a whole file is closed and handed over; otherwise it is
// kept for a later start or deleted.
static DownloadResult EndDownload(DownloadTry* attempt, TryEnd end) {
  // A body reached means the file was written anew or continued: what was remembered of it is gone.
  if (attempt->bodyReached && IsRemembered(attempt->targetPath)) ForgetKeptDownload();
  if (end == TRY_COMPLETE) {
    CloseHandle(attempt->file);
    ReportStep(attempt->progress, STEP_COMPLETE);
    return DOWNLOAD_OK;
  }
  if (attempt->bodyReached) LogFormat("data download-error : %d", static_cast<int>(attempt->failure));
  // A first try that reached no server shows its last step, as it always did.
  if (end != TRY_NOT_CONNECTED || attempt->number > 1) ReportStep(attempt->progress, STEP_FAILED);
  KeepOrDelete(attempt, end);
  return DOWNLOAD_FAILED;
}

// One address of the download, its first or a redirect's target: split,
// its road chosen, its tries made (*end is the last one's). DOWNLOAD_OK once
// the tries were made, else the result to return.
static DownloadResult FetchAddress(const char* url, bool mayRedirect, DownloadAddress* address, ProxyChoice* proxy,
                                   DownloadTry* attempt, TryEnd* end) {
  DownloadRoad road = ROAD_WINSOCK;
  DownloadResult result = SplitAddress(url, address);
  if (result != DOWNLOAD_OK) return result;
  ReportStep(attempt->progress, STEP_LOOKING_UP);
  if (!ChooseRoad(url, *address, proxy, &road)) return DOWNLOAD_FAILED;

  attempt->url = url;
  attempt->host = address->host;
  attempt->path = address->path;
  attempt->port = address->port;
  attempt->scheme = address->scheme;
  attempt->request = address->request;
  attempt->requestLength = address->requestLength;
  attempt->proxy = proxy;
  attempt->oneConnection = false;
  attempt->file = INVALID_HANDLE_VALUE;
  BeginResumePoint(&attempt->point);
  attempt->failure = 0;
  attempt->bodyReached = false;
  TakeUpRemembered(attempt);
  // A continuation asks for the rest where its bytes came from: it is never redirected.
  attempt->mayRedirect = mayRedirect && attempt->file == INVALID_HANDLE_VALUE;
  *end = MakeTries(attempt, road);
  return DOWNLOAD_OK;
}

// Fetches `url`, following at most `limits.redirects` redirects
// (http/redirect.h), each over the road of its own address.
static DownloadResult Download(const char* url, const WCHAR* targetPath, ProgressCallback progress,
                               const DownloadLimits& limits) {
  RedirectChain chain;
  DownloadAddress address;
  ProxyChoice proxy;
  DownloadTry attempt;

  LogFormat("url: %S", url);
  ReportStep(progress, STEP_PREPARING);
  BeginRedirectChain(&chain, url, limits.redirects);
  attempt.tuning = &DownloadSettings;
  attempt.targetPath = targetPath;
  attempt.progress = progress;
  attempt.limits = &limits;
  for (;;) {
    TryEnd end = TRY_REFUSED;
    DownloadResult result =
        FetchAddress(chain.visited[chain.hops], limits.redirects > 0, &address, &proxy, &attempt, &end);
    if (result != DOWNLOAD_OK) return result;
    if (attempt.redirect == 0) return EndDownload(&attempt, end);
    RedirectHop hop = DecideRedirect(&chain, attempt.location);
    if (hop != REDIRECT_FOLLOWED) {
      LogFormat("redirect to \"%S\" refused: %S", attempt.location, RedirectRefusal(hop));
      return EndDownload(&attempt, end);
    }
    LogFormat("redirect %d of %d: %d to %S", chain.hops, limits.redirects, attempt.redirect, chain.visited[chain.hops]);
  }
}

const KeptDownload* FindKeptDownload() {
  return Remembered.path[0] != L'\0' ? &Remembered : NULL;
}

void KeepDownload(const KeptDownload& kept) {
  Remembered = kept;
}

void DiscardKeptDownload() {
  if (Remembered.path[0] == L'\0') return;
  FileFailure failure;
  if (!DeleteOwnFile(Remembered.path, &failure))
    LogFileFailure(failure, Remembered.path);
  else
    LogFormat("partial download deleted at exit: %s", Remembered.path);
  ForgetKeptDownload();
}
DownloadResult DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress,
                              const DownloadLimits& limits) {
  char narrowUrl[URL_BUFFER_SIZE];
  // Measured first: a URL that does not fit is refused, never cut.
  int needed = WideCharToMultiByte(CP_ACP, 0, url, -1, NULL, 0, NULL, NULL);
  if (needed <= 0 || needed > URL_BUFFER_SIZE) {
    ReportStep(progress, STEP_PREPARING);
    if (needed <= 0)
      LogFormat("url conversion failed %d", static_cast<int>(GetLastError()));
    else
      LogFormat("url refused: url longer than 4095 bytes (%d)", needed - 1);
    return DOWNLOAD_FAILED;
  }
  WideCharToMultiByte(CP_ACP, 0, url, -1, narrowUrl, URL_BUFFER_SIZE, NULL, NULL);
  // Past the stop at exit nothing starts: the file kept stays as it is.
  if (!BeginCountedDownload()) return DOWNLOAD_FAILED;
  DownloadResult result = Download(narrowUrl, targetPath, progress, limits);
  EndCountedDownload();
  return result;
}
