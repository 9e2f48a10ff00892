#include "download/http_client.h"

#include <ws2tcpip.h>

#include "download/body_file.h"
#include "http/body_rules.h"
#include "download/parallel_ranges.h"
#include "log/run_log.h"

static_assert(sizeof(HTTP_RECEIVE_TIMEOUT_MS) == 4, "SO_RCVTIMEO takes a 4-byte value");

// Resolves the attempt's host, IPv4 and IPv6 in the system's order (an IPv6
// literal without its brackets), into link->addresses, which CloseRange
// releases. False on failure, logged.
static bool Resolve(const DownloadTry& attempt, RangeConnection* link) {
  addrinfo hints;
  char host[HOST_BUFFER_SIZE];
  const bool literal = attempt.host[0] == '[';
  ZeroMemory(&hints, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // Windows resolves an empty name to the machine's own addresses: no server to download from.
  if (attempt.host[0] == '\0') {
    LogLine("empty host, not resolved");
    return false;
  }
  // The splitter leaves a literal's "]" at the end of the host.
  lstrcpynA(host, attempt.host + literal, lstrlenA(attempt.host) + 1 - 2 * literal);
  int resolved = getaddrinfo(host, attempt.port, &hints, &link->addresses);
  if (resolved != 0) {
    LogFormat("getaddrinfo failed %d,%d,%d", resolved, WSAGetLastError(), (int)GetLastError());
    link->addresses = NULL;
    return false;
  }
  ReportStep(TryStepProgress(attempt), STEP_CONNECTING);
  return true;
}

// True when the head ended whole and can be taken; otherwise *end says how
// the try ended and the run log why.
static bool UsableHead(HeadRead headEnd, const HeadReader& reader, const DownloadTuning& tuning, TryEnd* end) {
  const char* refusal = NULL;
  *end = TRY_REFUSED;
  switch (headEnd) {
    case HEAD_READ_ENDED:
      refusal = HeadRefusal(reader.head);
      if (refusal == NULL) return true;
      LogFormat("%S", refusal);
      return false;
    case HEAD_READ_REFUSED:
      LogFormat("http error : %S", reader.line);
      return false;
    case HEAD_READ_NUL_BYTE:
      LogFormat("response head refused: a NUL byte in the line that begins \"%S\"", reader.line);
      return false;
    case HEAD_READ_TOO_LONG:
      LogFormat("response head longer than %d bytes", HEAD_SIZE_LIMIT);
      return false;
    case HEAD_READ_TOO_SLOW:
      LogFormat("response head not complete after %d ms", (int)tuning.headTimeLimitMs);
      return false;
    case HEAD_READ_ERROR:
      LogFormat("error: %d", WSAGetLastError());
      break;
    case HEAD_READ_MORE:
    case HEAD_READ_CUT:
      break;
  }
  // What came of the head may end anywhere: taking the body now could put head lines into the file.
  LogLine("response head cut off before its empty line");
  *end = TRY_HEAD_CUT;
  return false;
}

// The Winsock road's part in a download in ranges: a connection per
// request, which is the first request, with the range's two lines unless it
// is asked for as it is.
static RangeEnd MakeRange(const DownloadTry& attempt, DWORD, RangeConnection* link) {
  return Resolve(attempt, link) ? RANGE_END_DONE : RANGE_END_NOT_CONNECTED;
}

// Connects the socket to `address` within `limitMs` from `started`, in
// slices of 100 ms: a stop, which closes the socket, ends the wait within
// one. Without a limit it connects as the first request always did, within
// the platform's own time-out. 0, or the error.
static int ConnectTo(RangeConnection* link, const addrinfo* address, DWORD started, DWORD limitMs) {
  u_long nonBlocking = limitMs != 0 ? 1 : 0;
  int error = 0;
  ioctlsocket(link->socket, FIONBIO, &nonBlocking);
  if (connect(link->socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == SOCKET_ERROR)
    error = WSAGetLastError();
  while (error == WSAEWOULDBLOCK && !link->cancelled) {
    // One socket in each set: a connection that stands is writable, one that
    // failed (refused, unreachable) is in the second set, logged as refused.
    fd_set writable;
    fd_set failed;
    writable.fd_count = failed.fd_count = 1;
    writable.fd_array[0] = failed.fd_array[0] = link->socket;
    timeval slice = {0, 100000};
    int ready = select(0, NULL, &writable, &failed, &slice);
    if (ready < 0)
      error = WSAGetLastError();
    else if (ready > 0)
      error = failed.fd_count == 1 ? WSAECONNREFUSED : 0;
    else if (GetTickCount() - started >= limitMs)
      error = WSAETIMEDOUT;
  }
  nonBlocking = 0;
  ioctlsocket(link->socket, FIONBIO, &nonBlocking);
  return error;
}

// Tries each resolved address in turn until one connects, all of them
// within `limitMs` (0: each within the platform's time-out); each failed one
// is logged with its number. Each socket is made here, then published in the
// link, then the stop's flag is read: a stop that came before it is seen here,
// one that comes after finds the socket and closes it.
static bool ConnectWithin(RangeConnection* link, DWORD limitMs) {
  DWORD started = GetTickCount();
  for (const addrinfo* address = link->addresses; address != NULL && !link->cancelled; address = address->ai_next) {
    char number[INET6_ADDRSTRLEN + 8];
    SOCKET made = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    // XP without its IPv6 stack makes no IPv6 socket: the next address may be IPv4.
    int error = WSAGetLastError();
    if (made != INVALID_SOCKET) {
      SwapSocket(link, made);
      error = link->cancelled ? WSAEINTR : ConnectTo(link, address, started, limitMs);
    }
    if (error == 0) return true;
    if (getnameinfo(address->ai_addr, static_cast<int>(address->ai_addrlen), number, sizeof number, NULL, 0,
                    NI_NUMERICHOST) != 0)
      number[0] = '\0';
    LogFormat("connect error: %d at %S", error, number);
    // Unless a stop took it and closed it meanwhile.
    made = SwapSocket(link, INVALID_SOCKET);
    if (made != INVALID_SOCKET) closesocket(made);
  }
  return false;
}

// Connects, sends the request and reads its head: each within `headLimitMs`
// when there is one, else within the download's own limits; the body has the
// download's receive time-out. The first try's steps go to the window.
static RangeEnd AskRange(const DownloadTry& attempt, const RangeAsk& ask, DWORD headLimitMs, RangeConnection* link,
                         HeadState* answer) {
  char ranged[RESUME_REQUEST_BUFFER_SIZE];
  HeadReader reader;
  TryEnd end = TRY_REFUSED;
  const bool plain = ask.first == PLAIN_ASK;
  // The first request's bytes are the ones the client always sent; only a range adds its two lines.
  const char* request = plain ? attempt.request : ranged;
  int length = plain ? attempt.requestLength
                     : RangeRequest(attempt.request, attempt.requestLength, ask.first, ask.last,
                                    attempt.point.validator, ranged);
  DWORD receiveLimit = headLimitMs != 0 ? headLimitMs : attempt.tuning->receiveTimeoutMs;
  BeginHead(answer);
  // Not expected: the buffer holds the longest first request with both lines.
  if (length < 0) {
    LogLine("request for a range does not fit");
    return RANGE_END_WRONG;
  }
  if (!ConnectWithin(link, headLimitMs)) return RANGE_END_NOT_CONNECTED;
  ReportStep(TryStepProgress(attempt), STEP_SENDING);
  int sent = send(link->socket, request, length, 0);
  if (sent != length) {
    LogFormat("request send error: %d/%d", sent, length);
    return RANGE_END_NOT_CONNECTED;
  }
  ReportStep(TryStepProgress(attempt), STEP_PARSING);
  setsockopt(link->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveLimit), sizeof receiveLimit);
  BeginHeadReader(&reader, HEAD_SIZE_LIMIT, GetTickCount(),
                  headLimitMs != 0 ? headLimitMs : attempt.tuning->headTimeLimitMs);
  reader.head.partialAllowed = !plain;
  reader.head.redirectsAllowed = attempt.mayRedirect;
  HeadRead read = ReceiveHead(link->socket, &reader);
  *answer = reader.head;
  // A refused status line is judged by its number.
  if (read == HEAD_READ_REFUSED) {
    LogFormat("http error : %S", reader.line);
    answer->status = ReadStatusLine(reader.line).status;
    return RANGE_END_DONE;
  }
  // A stop closed the socket: nothing to tell of the head.
  if (link->cancelled) return RANGE_END_BROKEN;
  // Its log line names the receive's error: the time-out goes back after it.
  if (!UsableHead(read, reader, *attempt.tuning, &end))
    return end == TRY_HEAD_CUT ? RANGE_END_BROKEN : RANGE_END_WRONG;
  receiveLimit = attempt.tuning->receiveTimeoutMs;
  setsockopt(link->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveLimit), sizeof receiveLimit);
  return RANGE_END_DONE;
}

static int ReceiveRange(RangeConnection* link, char* buffer, int size, DWORD* failure) {
  int got = recv(link->socket, buffer, size, 0);
  if (got != SOCKET_ERROR) return got;
  *failure = static_cast<DWORD>(WSAGetLastError());
  return -1;
}

static void CloseRange(RangeConnection* link) {
  if (link->addresses != NULL) freeaddrinfo(link->addresses);
  link->addresses = NULL;
  SOCKET socket = SwapSocket(link, INVALID_SOCKET);
  if (socket == INVALID_SOCKET) return;
  shutdown(socket, SD_BOTH);
  closesocket(socket);
}

// Closing the socket ends a receive, send or connect that another thread
// waits in. The flag first: an owner that publishes its socket after this
// takes it reads the flag afterwards and closes the socket itself.
static void CancelRange(RangeConnection* link) {
  InterlockedExchange(&link->cancelled, 1);
  SOCKET socket = SwapSocket(link, INVALID_SOCKET);
  if (socket != INVALID_SOCKET) closesocket(socket);
}

static const RangeRoad WINSOCK_RANGES = {MakeRange, AskRange, ReceiveRange, CloseRange, CancelRange};

TryEnd HttpTry(DownloadTry* attempt) {
  WSADATA winsock;
  // A failed start is not examined here: resolution fails next and logs it.
  bool winsockStarted = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
  TryEnd end = TryOverRoad(attempt, WINSOCK_RANGES, BODY_CHUNK_SIZE);
  if (winsockStarted) WSACleanup();
  return end;
}

HeadRead ReceiveHead(SOCKET connection, HeadReader* reader) {
  char byte = 0;
  // One byte per receive, so that not a byte of the body is taken for the head.
  for (;;) {
    int got = recv(connection, &byte, 1, 0);
    if (got == SOCKET_ERROR) return HEAD_READ_ERROR;
    HeadRead step = got == 0 ? CloseHead(reader) : ReadHeadByte(reader, byte, GetTickCount());
    if (step != HEAD_READ_MORE) return step;
  }
}
