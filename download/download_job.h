// Runs one download on a thread of its own while the caller waits.
#pragma once

#include <windows.h>

#include "download/download_result.h"
#include "download/download_tuning.h"
#include "download/progress_callback.h"

struct DownloadJob {
  const WCHAR* targetPath;
  const WCHAR* url;
  ProgressCallback progress;
  const DownloadLimits* limits;  // handed to DownloadToFile; the caller's, which waits
};

// Calls `begins`, downloads on a new thread that reports through `progress`
// within `limits`, waits, and returns the download client's result (a
// DownloadResult) as the thread's exit code. Either callback may be null.
DWORD RunDownloadJob(const WCHAR* url, const WCHAR* targetPath, DownloadBeginsCallback begins,
                     ProgressCallback progress, const DownloadLimits& limits = ONE_CONNECTION);
DWORD WINAPI DownloadJobThread(LPVOID job);
