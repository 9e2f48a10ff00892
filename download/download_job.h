// Runs one download on a thread of its own while the caller waits.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"

struct DownloadJob {
  const WCHAR* targetPath;
  const WCHAR* url;
  ProgressCallback progress;
};

// Shows the progress controls, downloads on a new thread, waits, and returns the
// download client's result as the thread's exit code.
DWORD RunDownloadJob(const WCHAR* url, const WCHAR* targetPath);
DWORD WINAPI DownloadJobThread(LPVOID job);
