#include "install/earlier_download.h"

#include "download/download_file.h"
#include "download/download_stop.h"
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

// Writes `kept`'s record afresh with the installers' DACL; false when it is not all written.
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
  // A record cut short is no record: the next run reads none.
  bool written = WriteFile(file, &record, sizeof record, &wrote, NULL) && wrote == sizeof record;
  CloseHandle(file);
  return written;
}

void KeepDownloadForNextRun() {
  const KeptDownload* kept = FindKeptDownload();
  WCHAR recordPath[MAX_PATH];
  if (kept == NULL) return;
  if (DownloadDirProtected && RecordPathOf(kept->path, recordPath) && WriteKeptRecord(*kept, recordPath)) {
    LogFormat("partial download recorded for the next run: %s", kept->path);
    ForgetKeptDownload();
    return;
  }
  DiscardKeptDownload();
}

enum RecordTaken {
  RECORD_NONE,      // none, or not the administrators'
  RECORD_UNUSABLE,  // it keeps nothing usable: the file beside it is fetched again
  RECORD_READ,      // *kept holds it, for the file at `path`
};

// Reads the record at `recordPath` once and deletes it.
static RecordTaken TakeRecord(const WCHAR* recordPath, const WCHAR* path, KeptDownload* kept) {
  struct {
    KeptRecord record;
    char more;  // a longer file is no record
  } bytes;
  FileFailure failure;
  DWORD got = 0;
  HANDLE file = AdoptEarlierFile(recordPath, GENERIC_READ, &failure);
  if (file == INVALID_HANDLE_VALUE) {
    if (failure.code != ERROR_FILE_NOT_FOUND) LogFileFailure(failure, recordPath);
    return RECORD_NONE;
  }
  bool read = ReadFile(file, &bytes, sizeof bytes, &got, NULL) && ReadKeptRecord(&bytes, got, path, kept);
  DeleteOpenFile(file);
  CloseHandle(file);
  return read ? RECORD_READ : RECORD_UNUSABLE;
}

bool TakeUpEarlierDownload(const WCHAR* path, const InstallerPins& pins, HANDLE* held) {
  WCHAR recordPath[MAX_PATH];
  KeptDownload kept;
  FileFailure failure;
  *held = INVALID_HANDLE_VALUE;
  if (!DownloadDirProtected || DownloadsStopped() || !RecordPathOf(path, recordPath)) return false;
  RecordTaken recorded = TakeRecord(recordPath, path, &kept);
  HANDLE file = AdoptEarlierFile(path, 0, &failure);
  bool taken = file != INVALID_HANDLE_VALUE;
  if (taken) CloseHandle(file);
  if (!taken && failure.code != ERROR_FILE_NOT_FOUND) LogFileFailure(failure, path);
  if (recorded == RECORD_READ && taken) {
    KeepDownload(kept);
    LogFormat("partial download of an earlier run taken up: %s", path);
  }
  // A file with a record is partial: never checked or started.
  if (recorded != RECORD_NONE || !taken) return false;
  if (CheckPinnedDownload(path, pins, held) == PIN_MATCHED) {
    LogFormat("earlier download matched its pins, not fetched again: %s", path);
    return true;
  }
  ReleasePinnedDownload(held);
  return false;
}
