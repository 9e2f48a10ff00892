// The download client: one HTTP/1.1 GET over Winsock, body written to a file.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "download/download_result.h"
#include "download/http_protocol.h"
#include "download/progress_callback.h"

const DWORD HTTP_RECEIVE_TIMEOUT_MS = 15000;

// Fetches `url` ("http://host[:port]/path") into `targetPath`, reporting step
// texts and percentages through `progress` (may be null). Returns a DOWNLOAD_*
// code: OK only when a head with an accepted status line and a length was read
// and exactly that many body bytes were written to the file.
int DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress);
// The same for a URL already in the ANSI code page.
int HttpGet(const char* url, const WCHAR* targetPath, ProgressCallback progress);
// HttpGet with the time the whole response head may take (HttpGet gives
// HEAD_TIME_LIMIT_MS); the head's size is bounded by HEAD_SIZE_LIMIT either way.
int HttpGetBounded(const char* url, const WCHAR* targetPath, ProgressCallback progress,
                   DWORD headTimeLimitMs);

// ReceiveHeaderLine's results other than a count of characters.
const int HEAD_LINE_ERROR = -1;
const int HEAD_LINE_TOO_LONG = -2;
const int HEAD_LINE_TOO_SLOW = -3;

// Reads one line of the response head, one byte per receive, CRs dropped, into
// `line` (HEAD_LINE_SIZE bytes and a guard byte behind them that stays zero),
// spending `budget` on every byte received. Returns HEAD_LINE_ERROR on a
// receive error, HEAD_LINE_TOO_LONG or HEAD_LINE_TOO_SLOW when the budget ran
// out (the line is then unterminated), otherwise the characters stored, 0 to 1,024.
int ReceiveHeaderLine(SOCKET connection, char* line, HeadBudget* budget);

// Writes exactly `contentLength` body bytes to a new file at `targetPath`.
// True when all of them were received and written whole.
bool ReceiveBody(SOCKET connection, int contentLength, const WCHAR* targetPath,
                 ProgressCallback progress);
