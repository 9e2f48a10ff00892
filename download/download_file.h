// The one entry of the download subsystem: fetches an address into a file,
// choosing the client for it (setup.exe's own over Winsock for a direct
// http:// address, the system's WinHTTP for https:// and for http:// through a
// proxy), and makes its tries: a transfer that breaks in the body is tried
// again, continued from the bytes it has where a validator allows it.
#pragma once

#include <windows.h>

#include "download/download_result.h"
#include "download/progress_callback.h"

const DWORD HTTP_RECEIVE_TIMEOUT_MS = 15000;

// Limits and pauses of every download. The product keeps these values; tests
// shorten them in their own process (a test build may set the pauses' share
// at start-up). Nothing read from the configuration, the command line or the
// environment changes them.
struct DownloadTuning {
  DWORD receiveTimeoutMs;     // each receive, in the head and the body
  DWORD headTimeLimitMs;      // the whole head of an http:// answer
  unsigned pausePercent;      // share of the pauses between tries (about 1, 2, 4, 8 s)
  bool mayUseAutomaticProxy;  // https:// may take the library's automatic proxy road (Windows 8.1 and later)
};
extern DownloadTuning DownloadSettings;

// Fetches `url` ("http://" or "https://host[:port]/path") into `targetPath`,
// reporting step texts and percentages through `progress` (may be null).
// Returns a DOWNLOAD_* code: OK only when the whole announced body is in the
// file. A failed download leaves its file only while a later start of the same
// address in this process can continue it; then it continues there.
int DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress);

// At exit: a file kept for a later start can no longer be continued (another
// process may not reopen it), so it is deleted.
void DiscardKeptDownload();
