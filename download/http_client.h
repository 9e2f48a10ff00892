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
// and exactly that many body bytes were written to the file. An "https://"
// address goes to the HTTPS client (https_client.h) instead.
int DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress);
// The same for a URL already in the ANSI code page.
int HttpGet(const char* url, const WCHAR* targetPath, ProgressCallback progress);
// HttpGet with the time the whole response head may take (HttpGet gives
// HEAD_TIME_LIMIT_MS); the head's size is bounded by HEAD_SIZE_LIMIT either way.
int HttpGetBounded(const char* url, const WCHAR* targetPath, ProgressCallback progress,
                   DWORD headTimeLimitMs);

// Reads the response head into `reader` (begun by the caller), one byte per
// receive, until it ends, is refused or runs out of its budget; the body's
// first byte stays unread. HEAD_READ_ERROR when a receive failed.
HeadRead ReceiveHead(SOCKET connection, HeadReader* reader);

// Writes exactly `contentLength` body bytes to a new file at `targetPath`.
// True when all of them were received and written whole.
bool ReceiveBody(SOCKET connection, int contentLength, const WCHAR* targetPath,
                 ProgressCallback progress);
