#include "download/http_client.h"

#include <ws2tcpip.h>

#include "download/body_file.h"
#include "download/http_protocol.h"
#include "download/https_client.h"
#include "log/fresh_file.h"
#include "log/run_log.h"

static_assert(sizeof(HTTP_RECEIVE_TIMEOUT_MS) == 4, "SO_RCVTIMEO takes a 4-byte value");

static void ReportStep(ProgressCallback progress, const WCHAR* text) {
  if (progress != NULL) progress(text, PROGRESS_HIDDEN);
}

int DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress) {
  char narrowUrl[URL_BUFFER_SIZE];
  // Measured first: a URL that does not fit is refused, never cut.
  int needed = WideCharToMultiByte(CP_ACP, 0, url, -1, NULL, 0, NULL, NULL);
  if (needed <= 0 || needed > URL_BUFFER_SIZE) {
    ReportStep(progress, L"准备下载...");
    if (needed <= 0)
      LogFormat(L"url conversion failed %d", (int)GetLastError());
    else
      LogFormat(L"url refused: url longer than 4095 bytes (%d)", needed - 1);
    return DOWNLOAD_FAILED;
  }
  WideCharToMultiByte(CP_ACP, 0, url, -1, narrowUrl, URL_BUFFER_SIZE, NULL, NULL);
  if (IsHttpsUrl(narrowUrl)) return HttpsGet(narrowUrl, targetPath, progress);
  return HttpGet(narrowUrl, targetPath, progress);
}

// Resolves, creates the socket and connects to the first address. Owns the
// address list, released before it returns. INVALID_SOCKET on failure.
static SOCKET ConnectToServer(const char* host, const char* port, ProgressCallback progress) {
  addrinfo hints;
  addrinfo* addresses = NULL;
  SOCKET connection = INVALID_SOCKET;
  DWORD timeout = HTTP_RECEIVE_TIMEOUT_MS;

  ZeroMemory(&hints, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // Windows resolves an empty name to the machine's own addresses: no server to download from.
  if (host[0] == '\0') {
    LogLine(L"empty host, not resolved");
    return INVALID_SOCKET;
  }
  int resolved = getaddrinfo(host, port, &hints, &addresses);
  if (resolved != 0) {
    LogFormat(L"getaddrinfo failed %d,%d,%d", resolved, WSAGetLastError(), (int)GetLastError());
    return INVALID_SOCKET;
  }

  ReportStep(progress, L"连接服务器...");
  connection = socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
  if (connection == INVALID_SOCKET) {
    LogFormat(L"socket error: %d", WSAGetLastError());
  } else {
    // Result not examined: without the time-out the download still works, only waits longer.
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout);
    if (connect(connection, addresses->ai_addr, (int)addresses->ai_addrlen) == SOCKET_ERROR) {
      LogFormat(L"connect error: %d", WSAGetLastError());
      closesocket(connection);
      connection = INVALID_SOCKET;
    }
  }
  freeaddrinfo(addresses);
  return connection;
}

int HttpGet(const char* url, const WCHAR* targetPath, ProgressCallback progress) {
  return HttpGetBounded(url, targetPath, progress, HEAD_TIME_LIMIT_MS);
}

int HttpGetBounded(const char* url, const WCHAR* targetPath, ProgressCallback progress,
                   DWORD headTimeLimitMs) {
  char host[HOST_BUFFER_SIZE];
  char path[PATH_BUFFER_SIZE];
  char port[PORT_BUFFER_SIZE];
  char request[REQUEST_BUFFER_SIZE];
  const char* refusal = "";
  HeadReader reader;
  HeadRead headEnd = HEAD_READ_MORE;
  WSADATA winsock;
  bool winsockStarted = false;
  SOCKET connection = INVALID_SOCKET;
  int requestLength = 0;
  int sent = 0;
  int result = DOWNLOAD_FAILED;

  LogFormat(L"url: %S", url);
  ReportStep(progress, L"准备下载...");
  result = SplitUrl(url, host, path, port, &refusal);
  if (result != DOWNLOAD_OK) {
    if (result == DOWNLOAD_FAILED) LogFormat(L"url refused: %S", refusal);
    return result;
  }
  // Built before anything is started, so that a request that cannot fit starts nothing.
  requestLength = BuildRequest(host, path, port, request);
  if (requestLength < 0) {
    LogLine(L"url refused: request longer than 1023 bytes");
    return DOWNLOAD_FAILED;
  }
  result = DOWNLOAD_FAILED;

  ReportStep(progress, L"查找服务器...");
  // A failed start is not examined here: resolution fails next and logs it.
  winsockStarted = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
  connection = ConnectToServer(host, port, progress);
  if (connection == INVALID_SOCKET) goto done;

  ReportStep(progress, L"发送请求...");
  sent = send(connection, request, requestLength, 0);
  if (sent != requestLength) {
    LogFormat(L"request send error: %d/%d", sent, requestLength);
    goto done;
  }

  ReportStep(progress, L"解析响应...");
  BeginHeadReader(&reader, HEAD_SIZE_LIMIT, GetTickCount(), headTimeLimitMs);
  headEnd = ReceiveHead(connection, &reader);
  if (headEnd == HEAD_READ_REFUSED) {
    LogFormat(L"http error : %S", reader.line);
    ReportStep(progress, L"下载失败。");
    goto done;
  }
  if (headEnd == HEAD_READ_TOO_LONG || headEnd == HEAD_READ_TOO_SLOW) {
    if (headEnd == HEAD_READ_TOO_LONG)
      LogFormat(L"response head longer than %d bytes", HEAD_SIZE_LIMIT);
    else
      LogFormat(L"response head not complete after %d ms", (int)headTimeLimitMs);
    ReportStep(progress, L"下载失败。");
    goto done;
  }
  if (headEnd == HEAD_READ_ERROR) LogFormat(L"error: %d", WSAGetLastError());
  // Without a length the body's size is unknown: an empty file would pass for a download.
  if (!reader.head.lengthSeen) {
    LogLine(L"no content length in the response head");
    ReportStep(progress, L"下载失败。");
    goto done;
  }

  ReportStep(progress, L"正在下载...");
  LogFormat(L"content length: %d", reader.head.contentLength);
  if (ReceiveBody(connection, reader.head.contentLength, targetPath, progress)) {
    result = DOWNLOAD_OK;
    ReportStep(progress, L"下载完成。");
  } else {
    LogFormat(L"data download-error : %d", (int)GetLastError());
    ReportStep(progress, L"下载失败。");
  }

done:
  if (connection != INVALID_SOCKET) {
    shutdown(connection, SD_BOTH);
    closesocket(connection);
  }
  if (winsockStarted) WSACleanup();
  return result;
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

bool ReceiveBody(SOCKET connection, int contentLength, const WCHAR* targetPath,
                 ProgressCallback progress) {
  char chunk[BODY_CHUNK_SIZE];
  BodyProgress body;
  bool writtenWhole = true;
  DWORD failure = 0;
  HANDLE file = CreateFreshFile(targetPath, GENERIC_WRITE, FILE_SHARE_READ);
  if (file == INVALID_HANDLE_VALUE) return false;  // the caller logs the error code

  LogLine(L"start down");
  BeginBodyProgress(&body, contentLength, progress);
  while (body.received < contentLength) {
    int got = recv(connection, chunk, BodyReceiveSize(contentLength, body.received), 0);
    if (got == 0) break;
    if (got == SOCKET_ERROR) {
      failure = (DWORD)WSAGetLastError();
      LogFormat(L"data download error %d", (int)failure);
      break;
    }
    if (!WriteBodyPiece(file, chunk, (DWORD)got, &body, &failure)) {
      writtenWhole = false;
      break;
    }
  }
  LogLine(L"end down");
  CloseHandle(file);
  // The caller logs the thread's last error: keep the one of the failure, not of the clean-up.
  if (failure != 0) SetLastError(failure);
  return writtenWhole && body.received == contentLength;
}
