#include "download/download_job.h"

#include "download/download_file.h"
#include "log/run_log.h"

DWORD RunDownloadJob(const WCHAR* url, const WCHAR* targetPath, DownloadBeginsCallback begins,
                     ProgressCallback progress, const DownloadLimits& limits) {
  DownloadJob* job = static_cast<DownloadJob*>(HeapAlloc(GetProcessHeap(), 0, sizeof(DownloadJob)));
  if (job == NULL) {
    LogLine("download job allocation failed");
    return static_cast<DWORD>(DOWNLOAD_FAILED);
  }
  job->targetPath = targetPath;
  job->url = url;
  job->progress = progress;
  job->limits = &limits;

  if (begins != NULL) begins();
  HANDLE thread = CreateThread(NULL, 0, DownloadJobThread, job, 0, NULL);
  if (thread == NULL) {
    // The record never reached a thread, so it is still ours to free.
    LogFormat("create download thread failed. %d", static_cast<int>(GetLastError()));
    HeapFree(GetProcessHeap(), 0, job);
    return static_cast<DWORD>(DOWNLOAD_FAILED);
  }
  WaitForSingleObject(thread, INFINITE);
  DWORD result = static_cast<DWORD>(DOWNLOAD_FAILED);
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  return result;
}

DWORD WINAPI DownloadJobThread(LPVOID parameter) {
  DownloadJob* job = static_cast<DownloadJob*>(parameter);
  const WCHAR* targetPath = job->targetPath;
  const WCHAR* url = job->url;
  ProgressCallback progress = job->progress;
  const DownloadLimits* limits = job->limits;
  HeapFree(GetProcessHeap(), 0, job);
  return static_cast<DWORD>(DownloadToFile(url, targetPath, progress, *limits));
}
