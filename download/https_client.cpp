// First: the engine's header below needs Winsock's headers before windows.h.
#include "platform/windows_headers.h"

#include "download/https_client.h"

#include "download/body_file.h"
#include "download/parallel_ranges.h"
#include "http/url.h"
#include "http/head.h"
#include "http/head_reader.h"
#include "http/redirect.h"
#include "download/https_protocol.h"
#include "download/winhttp_library.h"
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

// Called by the library on the downloading thread itself (the session is synchronous).
static void CALLBACK OnNotice(HINTERNET, DWORD_PTR context, DWORD notice, LPVOID information, DWORD length) {
  RequestNotices* notices = reinterpret_cast<RequestNotices*>(context);
  if (notices == NULL) return;
  if (notice == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) {
    if (information != NULL && length >= sizeof(DWORD)) notices->certificateFlags |= *static_cast<DWORD*>(information);
    return;
  }
  if (notice == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST && !notices->sending) {
    notices->sending = true;
    notices->sendingAt = GetTickCount();
  }
  ReachHttpsStep(&notices->reached, HttpsStepOfNotice(notice), notices->progress);
}

// One line for a failed library call, with the code's meaning, and one for the
// certificate's problems where the library named them.
static void LogHttpsFailure(const WCHAR* call, DWORD error, DWORD certificateFlags) {
  LogFormat("https %s failed %d: %S", call, static_cast<int>(error), WinHttpErrorMeaning(error));
  if (certificateFlags != 0) {
    char problems[160];
    DescribeCertificateFlags(certificateFlags, problems, sizeof problems);
    LogFormat("certificate refused: %S (flags 0x%08X)", problems, static_cast<unsigned>(certificateFlags));
  }
}

// The library follows no redirect itself: the download follows those that the
// maker allows, hop by hop, with its own checks. Either option does it; the
// policy came with later versions of the library. The connection is not
// kept for another request either: a download is one request, and a kept one
// that the server has closed meanwhile fails the next download on some versions.
static bool LimitToThisRequest(const WinHttpFunctions* api, HINTERNET request) {
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  DWORD disable = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;
  bool policy = api->setOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never) != FALSE;
  bool feature = api->setOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable) != FALSE;
  return policy || feature;
}

// The answer's status line as the server sent it ("HTTP/1.1 404 Not Found"),
// into `line` (HEAD_LINE_SIZE + 1 bytes), for the http:// rules and the run log.
static void ReadStatusLine(const WinHttpFunctions* api, HINTERNET request, DWORD status, char* line) {
  WCHAR version[32];
  WCHAR reason[HEAD_LINE_SIZE / 2];
  WCHAR wide[HEAD_LINE_SIZE];
  DWORD size = sizeof version;
  if (!api->queryHeaders(request, WINHTTP_QUERY_VERSION, WINHTTP_HEADER_NAME_BY_INDEX, version, &size,
                         WINHTTP_NO_HEADER_INDEX))
    lstrcpyW(version, L"HTTP/?");
  size = sizeof reason;
  if (!api->queryHeaders(request, WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX, reason, &size,
                         WINHTTP_NO_HEADER_INDEX))
    reason[0] = L'\0';
  wsprintfW(wide, reason[0] != L'\0' ? L"%s %d %s" : L"%s %d", version, static_cast<int>(status), reason);
  WideCharToMultiByte(CP_ACP, 0, wide, -1, line, HEAD_LINE_SIZE + 1, NULL, NULL);
  line[HEAD_LINE_SIZE] = '\0';
}

// The most occurrences of one header read: the library holds a head of at
// most HEAD_SIZE_LIMIT bytes (its default, and the limit set below).
const DWORD HEADER_OCCURRENCES_MAX = HEAD_SIZE_LIMIT / 4;

// Hands every occurrence of the answer's header `name` to the head as the
// line "name: value", so that both clients read lengths, validators and
// ranges with the same code, repeated ones included. One too long for a line
// is handed on as a cut one, as the Winsock road reads it. False, with the
// reason in the run log, when a value holds a NUL before the end the library
// gives it, which the Winsock road refuses too (Wine's library ends a value
// at a NUL itself: then there is none to see).
static bool ExamineHeader(const WinHttpFunctions* api, HINTERNET request, DWORD query, const char* name,
                          HeadState* head) {
  WCHAR value[HEAD_LINE_SIZE];
  char line[HEAD_LINE_SIZE + 1];
  const int length = lstrlenA(name) + 2;
  lstrcpyA(line, name);
  lstrcpyA(line + length - 2, ": ");
  for (DWORD index = 0; index < HEADER_OCCURRENCES_MAX; ++index) {
    DWORD size = sizeof value;
    DWORD at = index;  // WINHTTP_NO_HEADER_INDEX would give the first occurrence only
    bool read = api->queryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value, &size, &at) != FALSE;
    if (!read && GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    if (read && HeaderValueHoldsNul(value, size)) {
      LogFormat("response head refused: a NUL byte in the %S header", name);
      return false;
    }
    if (read && WideCharToMultiByte(CP_ACP, 0, value, -1, line + length, HEAD_LINE_SIZE - length, NULL, NULL) > 0) {
      ExamineHeadLine(head, line);
    } else {
      line[length] = '\0';
      ExamineHeadLine(head, line, LINE_CUT_FIRST);
    }
  }
  return true;
}

// Reads the answer's head into `head` and holds it to the scheme's rules.
// False, with the reason in the run log, when it is refused.
static bool ReadAnswerHead(const WinHttpFunctions* api, HINTERNET request, const DownloadTry& attempt, bool partial,
                           HeadState* head) {
  char statusLine[HEAD_LINE_SIZE + 1];
  DWORD status = 0;
  DWORD size = sizeof status;
  BeginHead(head);
  head->partialAllowed = partial;
  head->redirectsAllowed = attempt.mayRedirect;
  if (!api->queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                         WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    status = 0;
  ReadStatusLine(api, request, status, statusLine);
  // http:// keeps its exact status lines; https:// goes by the number.
  bool accepted = attempt.scheme == SCHEME_HTTP ? ExamineHeadLine(head, statusLine)
                                                    : status == 200 || (status == 206 && head->partialAllowed) ||
                                                          (head->redirectsAllowed && IsFollowedRedirect(status));
  head->status = static_cast<int>(status);  // a refused one's number too, which ranges judge
  if (!accepted) {
    LogFormat("http error : %S", statusLine);
    if (status == 407) LogLine("the proxy asks for authentication, which setup.exe does not give");
    return false;
  }
  head->statusSeen = true;
  if (!ExamineHeader(api, request, WINHTTP_QUERY_CONTENT_LENGTH, "Content-Length", head) ||
      !ExamineHeader(api, request, WINHTTP_QUERY_ETAG, "ETag", head) ||
      !ExamineHeader(api, request, WINHTTP_QUERY_LAST_MODIFIED, "Last-Modified", head) ||
      !ExamineHeader(api, request, WINHTTP_QUERY_DATE, "Date", head) ||
      !ExamineHeader(api, request, WINHTTP_QUERY_CONTENT_RANGE, "Content-Range", head) ||
      !ExamineHeader(api, request, WINHTTP_QUERY_ACCEPT_RANGES, "Accept-Ranges", head) ||
      !ExamineHeader(api, request, WINHTTP_QUERY_LOCATION, "Location", head))
    return false;
  // The library decodes a chunked answer itself: a 206 without a length is
  // taken, a 200 without one has no size to check the file against.
  const char* refusal = HeadRefusal(*head);
  if (refusal == NULL) return true;
  LogFormat("%S", refusal);
  return false;
}

// The handles of one request, released in reverse order of opening.
struct RequestHandles {
  HINTERNET session;
  HINTERNET connection;
  HINTERNET request;
};

// Opens the session on the attempt's proxy road, connects and opens the GET
// request with its limits and notifications. False, with a log line, when a
// step fails; the handles opened so far are the caller's to close.
static bool OpenRequest(const WinHttpFunctions* api, const DownloadTry& attempt, DWORD headTimeLimit,
                        RequestHandles* handles) {
  WCHAR wideHost[HOST_BUFFER_SIZE];
  WCHAR widePath[PATH_BUFFER_SIZE];
  const bool secure = attempt.scheme == SCHEME_HTTPS;
  DWORD headLimit = HEAD_SIZE_LIMIT;
  DWORD protocols = CURRENT_TLS_PROTOCOLS;
  // Back to UTF-16 for the library, from the same 8-bit text that a plain HTTP
  // download would send; each part takes at most as many units as it had bytes.
  MultiByteToWideChar(CP_ACP, 0, attempt.host, -1, wideHost, HOST_BUFFER_SIZE);
  MultiByteToWideChar(CP_ACP, 0, attempt.path, -1, widePath, PATH_BUFFER_SIZE);
  handles->session = OpenProxySession(api, *attempt.proxy);
  if (handles->session == NULL) return false;
  // The automatic road exists from Windows 8.1 on, whose library offers TLS 1.2 by itself.
  if (secure && attempt.proxy->road != PROXY_ROAD_AUTOMATIC &&
      !api->setOption(handles->session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
    LogFormat("tls 1.1 and 1.2 not offered by winhttp %d", static_cast<int>(GetLastError()));
  if (!api->setTimeouts(handles->session, HTTPS_RESOLVE_TIMEOUT_MS, HTTPS_CONNECT_TIMEOUT_MS, HTTPS_SEND_TIMEOUT_MS,
                        attempt.tuning->receiveTimeoutMs)) {
    LogFormat("winhttp time-outs not set %d", static_cast<int>(GetLastError()));
    return false;
  }
  handles->connection = api->connect(handles->session, wideHost, static_cast<INTERNET_PORT>(PortNumber(attempt.port)), 0);
  if (handles->connection == NULL) {
    LogHttpsFailure(L"connect", GetLastError(), 0);
    return false;
  }
  handles->request = api->openRequest(handles->connection, L"GET", widePath, NULL, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
  if (handles->request == NULL) {
    LogHttpsFailure(L"open request", GetLastError(), 0);
    return false;
  }
  if (!LimitToThisRequest(api, handles->request)) {
    LogFormat("https redirects cannot be refused %d", static_cast<int>(GetLastError()));
    return false;
  }
  // Results not examined: older libraries lack these and keep their own limits.
  // Some versions wait for the whole head by the first limit alone.
  api->setOption(handles->request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeLimit, sizeof headTimeLimit);
  api->setOption(handles->request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headLimit, sizeof headLimit);
  // Without notifications the steps catch up after the send, and only the error code names a failure.
  api->setStatusCallback(handles->request, OnNotice, NOTICES, 0);
  return true;
}

// Sends the request with the header lines `headers` (the range asked for, or
// none) and waits for the answer's head. TRY_COMPLETE when a whole head came
// in time; otherwise how the try ended, with a log line.
static TryEnd SendRequest(const WinHttpFunctions* api, HINTERNET request, const char* headers, DWORD headTimeLimit,
                          RequestNotices* notices) {
  WCHAR wideHeaders[RANGE_HEADERS_SIZE];
  wideHeaders[0] = L'\0';
  if (headers[0] != '\0')
    MultiByteToWideChar(CP_ACP, 0, headers, -1, wideHeaders, sizeof wideHeaders / sizeof wideHeaders[0]);
  if (!api->sendRequest(request, wideHeaders[0] != L'\0' ? wideHeaders : WINHTTP_NO_ADDITIONAL_HEADERS,
                        wideHeaders[0] != L'\0' ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                        reinterpret_cast<DWORD_PTR>(notices))) {
    LogHttpsFailure(L"send", GetLastError(), notices->certificateFlags);
    return TRY_NOT_CONNECTED;
  }
  ReachHttpsStep(&notices->reached, STEP_PARSING, notices->progress);
  if (!api->receiveResponse(request, NULL)) {
    LogHttpsFailure(L"receive", GetLastError(), notices->certificateFlags);
    return TRY_HEAD_CUT;
  }
  // Some versions of the library (Wine's) take a head cut by silence for a
  // whole one once its time limit has passed: a head that took that long
  // after the request went out is not taken.
  if (notices->sending && GetTickCount() - notices->sendingAt >= headTimeLimit) {
    LogFormat("response head not complete after %d ms", static_cast<int>(headTimeLimit));
    return TRY_HEAD_CUT;
  }
  return TRY_COMPLETE;
}

// The time limit of a head: http:// keeps its own limit for the whole head;
// https:// has always had the receive time-out.
static DWORD HeadTimeLimit(const DownloadTry& attempt) {
  return attempt.scheme == SCHEME_HTTPS ? attempt.tuning->receiveTimeoutMs : attempt.tuning->headTimeLimitMs;
}

static void CloseRequest(const WinHttpFunctions* api, const RequestHandles& handles) {
  if (handles.request != NULL) api->closeHandle(handles.request);
  if (handles.connection != NULL) api->closeHandle(handles.connection);
  if (handles.session != NULL) api->closeHandle(handles.session);
}

// The library's part in a download in ranges: a session, connection and
// request of their own for each request; with `headLimitMs`, the request's
// connection and head within it.
static RangeEnd MakeRange(const DownloadTry& attempt, DWORD headLimitMs, RangeConnection* link) {
  const WinHttpFunctions* api = LoadWinHttp();
  RequestHandles handles = {NULL, NULL, NULL};
  bool opened = api != NULL && OpenRequest(api, attempt, headLimitMs != 0 ? headLimitMs : HeadTimeLimit(attempt),
                                           &handles);
  link->handles[0] = handles.session;
  link->handles[1] = handles.connection;
  link->handles[2] = handles.request;
  // The connection within the limit, the head within it by the option that
  // OpenRequest set; each receive keeps the download's own time-out, which
  // some versions of the library (Wine's) keep for the body too. Result not
  // examined: without it the request keeps the download's own limits.
  if (opened && headLimitMs != 0)
    api->setTimeouts(handles.request, HTTPS_RESOLVE_TIMEOUT_MS, headLimitMs, HTTPS_SEND_TIMEOUT_MS,
                     attempt.tuning->receiveTimeoutMs);
  return opened ? RANGE_END_DONE : RANGE_END_NOT_CONNECTED;
}

static RangeEnd AskRange(const DownloadTry& attempt, const RangeAsk& ask, DWORD headLimitMs, RangeConnection* link,
                         HeadState* answer) {
  const WinHttpFunctions* api = LoadWinHttp();
  HINTERNET request = link->handles[2];
  const bool plain = ask.first == PLAIN_ASK;
  char headers[RANGE_HEADERS_SIZE];
  headers[0] = '\0';
  BeginHead(answer);
  if (!plain && BuildRangeHeaders(ask.first, ask.last, attempt.point.validator, headers, sizeof headers) < 0)
    return RANGE_END_WRONG;
  // The notices live in the link as long as the request's handle: the library hands them to every
  // notification. The first try's steps go to the window.
  link->notices = RequestNotices{TryStepProgress(attempt), STEP_LOOKING_UP, 0, false, 0};
  TryEnd sent = SendRequest(api, request, headers, headLimitMs != 0 ? headLimitMs : HeadTimeLimit(attempt),
                            &link->notices);
  if (sent != TRY_COMPLETE) return sent == TRY_HEAD_CUT ? RANGE_END_BROKEN : RANGE_END_NOT_CONNECTED;
  // A refused status line is judged by its number; a head refused past it is not used.
  if (!ReadAnswerHead(api, request, attempt, !plain, answer) && answer->statusSeen) return RANGE_END_WRONG;
  return RANGE_END_DONE;
}

static int ReceiveRange(RangeConnection* link, char* buffer, int size, DWORD* failure) {
  const WinHttpFunctions* api = LoadWinHttp();
  DWORD available = 0;
  DWORD got = 0;
  // Asked first, then read: a read of more than has come may wait to fill
  // its buffer, and some versions of the library drop what it held when the
  // connection then breaks or falls silent.
  if (!api->queryDataAvailable(link->handles[2], &available) ||
      (available > 0 && !api->readData(link->handles[2], buffer,
                                        available < static_cast<DWORD>(size) ? available : size, &got))) {
    *failure = GetLastError();
    return -1;
  }
  return static_cast<int>(got);
}

// The request's handle is taken out as the stop takes it: only one of them closes it.
static void CloseRange(RangeConnection* link) {
  const WinHttpFunctions* api = LoadWinHttp();
  RequestHandles handles = {link->handles[0], link->handles[1], TakeRequestHandle(link)};
  if (api != NULL) CloseRequest(api, handles);
  link->handles[0] = link->handles[1] = NULL;
}

// Closing the request's handle ends the library's call that another thread waits in.
static void CancelRange(RangeConnection* link) {
  const WinHttpFunctions* api = LoadWinHttp();
  InterlockedExchange(&link->cancelled, 1);
  HINTERNET request = TakeRequestHandle(link);
  if (api != NULL && request != NULL) api->closeHandle(request);
}

static const RangeRoad LIBRARY_RANGES = {MakeRange, AskRange, ReceiveRange, CloseRange, CancelRange};

TryEnd WinHttpTry(DownloadTry* attempt) {
  return TryOverRoad(attempt, LIBRARY_RANGES, HTTPS_READ_SIZE);
}
