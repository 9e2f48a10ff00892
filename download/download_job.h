// Runs one download on a thread of its own while the caller waits.
#pragma once

#include <windows.h>

#include "download/download_result.h"
#include "download/progress_callback.h"

struct DownloadJob {
  const WCHAR* targetPath;
  const WCHAR* url;
  ProgressCallback progress;
  int connections;  // handed to DownloadToFile
  int redirects;    // ... as well
};

// Calls `begins`, downloads on a new thread that reports through `progress`
// over at most `connections` connections, following at most `redirects`
// redirects, waits, and returns the download
// client's result (a DOWNLOAD_* code) as the thread's exit code.
// Either callback may be null.
DWORD RunDownloadJob(const WCHAR* url, const WCHAR* targetPath, DownloadBeginsCallback begins,
                     ProgressCallback progress, int connections = 1, int redirects = 0);
DWORD WINAPI DownloadJobThread(LPVOID job);
