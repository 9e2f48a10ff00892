#include "download/body_file.h"

#include "http/head.h"
#include "http/body_rules.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"
#include "platform/protected_file.h"

void BeginBodyProgress(BodyProgress* body, long long contentLength, ProgressCallback progress) {
  body->contentLength = contentLength;
  body->received = 0;
  body->lastPercent = -1;
  body->progress = progress;
}

bool WriteBodyPieceAt(HANDLE file, long long offset, const char* piece, DWORD size, DWORD* failure, bool follows) {
  OVERLAPPED place;
  DWORD wrote = 0;
  ZeroMemory(&place, sizeof place);
  place.Offset = static_cast<DWORD>(offset);
  place.OffsetHigh = static_cast<DWORD>(offset >> 32);
  // A synchronous handle: the write is done when the call returns, and the system serialises the threads' writes.
  if (WriteFile(file, piece, size, &wrote, follows ? NULL : &place) && wrote == size) return true;
  *failure = GetLastError();
  LogFormat("data write error %d at byte %I64d: %d of %d bytes written", static_cast<int>(*failure), offset,
            static_cast<int>(wrote), static_cast<int>(size));
  return false;
}

bool PlaceBodyFile(HANDLE file, long long offset, bool setEnd) {
  LARGE_INTEGER position;
  position.QuadPart = offset;
  if (SetFilePointerEx(file, position, NULL, FILE_BEGIN) && (!setEnd || SetEndOfFile(file))) return true;
  DWORD error = GetLastError();
  LogFormat("partial file not placed at byte %I64d. %d", offset, static_cast<int>(error));
  SetLastError(error);  // for the caller, past the log's own calls
  return false;
}

// What the volume of `path`'s folder takes: the bytes free to this process,
// and the largest file its file system holds, whose name goes to `fileSystem`
// (MAX_PATH + 1 units). What the system does not say stays unlimited: the
// writes will tell then.
static void VolumeRoomBeside(const WCHAR* path, unsigned long long* available, long long* largestFile,
                             WCHAR* fileSystem) {
  WCHAR folder[MAX_PATH];
  WCHAR root[MAX_PATH];
  ULARGE_INTEGER space;
  int end = 0;  // units up to and with the last backslash, which a share's root needs
  *available = ~0ULL;
  *largestFile = LENGTH_VALUE_MAX;
  fileSystem[0] = L'\0';
  for (int i = 0; i < MAX_PATH && path[i] != L'\0'; ++i)
    if (path[i] == L'\\') end = i + 1;
  if (end == 0 || end >= MAX_PATH) return;
  lstrcpynW(folder, path, end + 1);
  if (GetDiskFreeSpaceExW(folder, &space, NULL, NULL)) *available = space.QuadPart;
  // FAT and FAT32 keep a file's size in 32 bits; exFAT and NTFS do not.
  if (GetVolumePathNameW(folder, root, MAX_PATH) &&
      GetVolumeInformationW(root, NULL, 0, NULL, NULL, NULL, fileSystem, MAX_PATH + 1) &&
      (lstrcmpiW(fileSystem, L"FAT") == 0 || lstrcmpiW(fileSystem, L"FAT32") == 0))
    *largestFile = FAT_FILE_SIZE_MAX;
}

// True when the body has room on the disk beside what the open file (if any)
// holds, or what the file it replaces frees, and its file system holds a file
// of its length; otherwise the try fails before the body, with the numbers
// logged: nobody should wait for a download that cannot fit.
static bool RoomForBody(DownloadTry* attempt) {
  LARGE_INTEGER held;
  unsigned long long available = 0;
  long long largest = 0;
  long long replaced = 0;
  WCHAR fileSystem[MAX_PATH + 1];
  const long long total = attempt->point.total;
  held.QuadPart = 0;
  // The first body's file is made afresh in the place of whatever has the name.
  if (attempt->file == INVALID_HANDLE_VALUE)
    replaced = BytesFreedByReplacing(attempt->targetPath);
  else if (!GetFileSizeEx(attempt->file, &held))
    held.QuadPart = 0;
  VolumeRoomBeside(attempt->targetPath, &available, &largest, fileSystem);
  BodyRoom room = JudgeBodyRoom(total, held.QuadPart, replaced, available, largest);
  if (room == BODY_ROOM_FITS) return true;
  if (room == BODY_ROOM_FILE_TOO_LARGE) {
    attempt->failure = ERROR_FILE_TOO_LARGE;
    LogFormat("file too large for its volume: %I64d bytes, %s holds at most %I64d", total, fileSystem, largest);
    return false;
  }
  attempt->failure = ERROR_DISK_FULL;
  LogFormat("disk full: %I64d bytes to come, %I64u free, %I64d in the file it replaces", total - held.QuadPart,
            available, replaced);
  return false;
}

// The file for the body: made afresh, with the installers' protected DACL, at
// the first body; then placed behind the bytes it keeps, or emptied for a
// whole new body.
static bool OpenBodyFile(DownloadTry* attempt, bool startOver) {
  if (attempt->file == INVALID_HANDLE_VALUE) {
    FileFailure failure;
    attempt->file = CreateFreshFile(attempt->targetPath, GENERIC_WRITE, FILE_SHARE_READ, &failure,
                                    ProtectedFileAttributes());
    if (attempt->file != INVALID_HANDLE_VALUE) return true;
    LogFileFailure(failure, attempt->targetPath);
    attempt->failure = failure.code;
    return false;
  }
  if (PlaceBodyFile(attempt->file, attempt->point.kept, startOver)) return true;
  attempt->failure = GetLastError();
  return false;
}

// An answer to a request for the rest that cannot be appended: refused (the
// download fails), or of a changed file (the next try starts over).
static void RefuseAnswer(DownloadTry* attempt, const HeadState& answer, ResumeAnswer judged, const char* why,
                         TryEnd* end) {
  LogTryAnswer(attempt, judged == RESUME_CHANGED ? "206 of a changed file" : answer.status == 206 ? "206 refused"
                                                                                                : "refused");
  LogFormat("partial answer refused: %S", why);
  *end = judged == RESUME_CHANGED ? TRY_CHANGED : TRY_REFUSED;
  // The next try asks for the whole file.
  if (judged == RESUME_CHANGED) BeginResumePoint(&attempt->point);
}

bool BeginTryBody(DownloadTry* attempt, const HeadState& answer, BodyProgress* body, TryEnd* end) {
  ResumePoint* point = &attempt->point;
  const char* why = "";
  ResumeAnswer judged = IsResumingTry(*attempt) ? JudgeResumeAnswer(answer, *point, &why) : RESUME_START_OVER;
  *end = TRY_REFUSED;
  if (judged == RESUME_REFUSED || judged == RESUME_CHANGED) {
    RefuseAnswer(attempt, answer, judged, why, end);
    return false;
  }
  if (judged == RESUME_APPEND) {
    LogTryAnswer(attempt, "206, continuing");
  } else {
    LogTryAnswer(attempt, "200, starting over");
    StartResumePoint(answer, point);
  }
  attempt->bodyReached = true;
  ReportStep(attempt->progress, STEP_DOWNLOADING);
  LogFormat("content length: %I64d", point->total - point->kept);
  if (!RoomForBody(attempt) || !OpenBodyFile(attempt, judged == RESUME_START_OVER)) return false;
  LogLine("start down");
  BeginBodyProgress(body, point->total, attempt->progress);
  body->received = point->kept;
  // The bar stays where the kept bytes put it: no report until it moves on.
  if (point->kept > 0) body->lastPercent = PercentReceived(point->kept, point->total);
  return true;
}
