#include "install/earlier_download.h"

#include "download/download_file.h"
#include "install/install_state.h"
#include "install/kept_record.h"
#include "install/payload_check.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"
#include "platform/protected_file.h"

// The record's path beside `path`, into `record` (MAX_PATH); false when it does not fit.
static bool RecordPathOf(const WCHAR* path, WCHAR* record) {
  if (lstrlenW(path) + lstrlenW(KEPT_RECORD_SUFFIX) >= MAX_PATH) return false;
  lstrcpyW(record, path);
  lstrcatW(record, KEPT_RECORD_SUFFIX);
  return true;
}

// Writes `kept`'s record afresh with the installers' DACL; false (logged) when it is not all written.
static bool WriteKeptRecord(const KeptDownload& kept, const WCHAR* recordPath) {
  KeptRecord record;
  FileFailure failure;
  DWORD wrote = 0;
  HANDLE file = CreateFreshFile(recordPath, GENERIC_WRITE, 0, &failure, ProtectedFileAttributes());
  if (file == INVALID_HANDLE_VALUE) {
    LogFileFailure(failure, recordPath);
    return false;
  }
  FillKeptRecord(kept, &record);
  bool written = WriteFile(file, &record, sizeof record, &wrote, NULL) && wrote == sizeof record;
  if (!written) {
    LogFormat("partial download record not written. %d", static_cast<int>(GetLastError()));
    DeleteOpenFile(file);
  }
  CloseHandle(file);
  return written;
}

void KeepDownloadForNextRun() {
  const KeptDownload* kept = FindKeptDownload();
  WCHAR recordPath[MAX_PATH];
  if (kept == NULL) return;
  if (DownloadDirProtected && RecordPathOf(kept->path, recordPath) && WriteKeptRecord(*kept, recordPath)) {
    LogFormat("partial download recorded for the next run at byte %I64d of %I64d: %s", kept->point.kept,
              kept->point.total, kept->path);
    ForgetKeptDownload();
    return;
  }
  DiscardKeptDownload();
}

// Reads the record at `recordPath` once and deletes it: -1 when there is
// none (or it is not the administrators'), 0 when it keeps nothing usable,
// 1 with *kept for the file at `path`.
static int TakeRecord(const WCHAR* recordPath, const WCHAR* path, KeptDownload* kept) {
  struct {
    KeptRecord record;
    char more;  // a longer file is no record
  } bytes;
  FileFailure failure;
  DWORD got = 0;
  if (!AdoptEarlierFile(recordPath, &failure)) {
    if (failure.code != ERROR_FILE_NOT_FOUND) LogFileFailure(failure, recordPath);
    return -1;
  }
  HANDLE file = OpenOwnFile(recordPath, GENERIC_READ, FILE_SHARE_READ, &failure);
  bool read = file != INVALID_HANDLE_VALUE && ReadFile(file, &bytes, sizeof bytes, &got, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!DeleteOwnFile(recordPath, &failure)) LogFileFailure(failure, recordPath);
  return read && ReadKeptRecord(&bytes, got, path, kept) ? 1 : 0;
}

bool TakeUpEarlierDownload(const WCHAR* path, const WCHAR* pinKey, const WCHAR* signerKey, HANDLE* held) {
  WCHAR recordPath[MAX_PATH];
  KeptDownload kept;
  FileFailure failure;
  *held = INVALID_HANDLE_VALUE;
  if (!DownloadDirProtected || DownloadsStopped() || !RecordPathOf(path, recordPath)) return false;
  int recorded = TakeRecord(recordPath, path, &kept);
  bool taken = AdoptEarlierFile(path, &failure);
  if (!taken && failure.code != ERROR_FILE_NOT_FOUND) LogFileFailure(failure, path);
  if (recorded > 0 && taken) {
    KeepDownload(kept);
    LogFormat("partial download of an earlier run kept at byte %I64d of %I64d: %s", kept.point.kept,
              kept.point.total, path);
  } else if (recorded == 0) {
    LogFormat("partial download record of an earlier run not usable: %s", recordPath);
  }
  // A file with a record is partial: never checked or started.
  if (recorded >= 0 || !taken) return false;
  if (CheckPinnedDownload(path, pinKey, signerKey, held) == PIN_MATCHED) {
    LogFormat("earlier download matched its pins, started without fetching it again: %s", path);
    return true;
  }
  ReleasePinnedDownload(held);
  return false;
}
