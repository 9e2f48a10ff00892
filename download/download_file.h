// The one entry of the download subsystem: fetches an address into a file,
// choosing the client for it (setup.exe's own over Winsock for a direct
// http:// address, the system's WinHTTP for https:// and for http:// through a
// proxy), follows the redirects that it may, and makes its tries: a transfer that breaks in the body is tried
// again, continued from the bytes it has where a validator allows it.
#pragma once

#include <windows.h>

#include "download/download_result.h"
#include "download/download_tuning.h"
#include "download/progress_callback.h"
#include "http/resume_rules.h"

// Time limits and the pauses' share of every download, handed down to each try.
extern DownloadTuning DownloadSettings;

// Fetches `url` ("http://" or "https://host[:port]/path") into `targetPath`,
// reporting its steps and percentages through `progress` (may be null).
// Returns a DOWNLOAD_* code: OK only when the whole announced body is in the
// file. A failed download leaves its file only while a later start of the same
// address in this process can continue it; then it continues there.
// `limits.connections` is the most connections the download may open at once:
// a large file from a server that serves ranges comes over that many
// (parallel_ranges.h), anything else over one. `limits.redirects` is the most
// redirects followed: a download that gets one more, or a refused one, fails;
// 0 refuses every one as an answer that is not a file.
DownloadResult DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress,
                              const DownloadLimits& limits = ONE_CONNECTION);

// A broken download whose file a later start may continue: its address, its
// file, and where it stands.
struct KeptDownload {
  char url[URL_BUFFER_SIZE];
  WCHAR path[MAX_PATH];
  ResumePoint point;
};

// The download kept now, or null.
const KeptDownload* FindKeptDownload();

// Keeps `kept` as if this process had broken it: the next download of its
// address into its file continues it, when the file is one that this process
// made or adopted (platform/fresh_file.h) and holds exactly the bytes kept.
void KeepDownload(const KeptDownload& kept);

// Forgets the kept download; its file stays.
void ForgetKeptDownload();

// Deletes the kept download's file (only while it is this process's own) and forgets it.
void DiscardKeptDownload();
