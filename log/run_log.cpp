#include "log/run_log.h"

#include "platform/fresh_file.h"

#include <fcntl.h>
#include <io.h>
#include <locale.h>
#include <shlwapi.h>
#include <stdarg.h>
#include <wchar.h>

WCHAR RunLogPath[MAX_PATH];
FILE* RunLogFile;

// A spin lock needs no initialisation, so writers are safe even before OpenRunLog
// and after CloseRunLog. Lines are short; contention is rare.
static volatile LONG RunLogBusy;

static void LockRunLog() {
  // Sleep(0) alone would not yield to a lower-priority holder (a boosted window
  // thread against a download thread): after a few turns, really sleep.
  for (int turn = 0; InterlockedExchange(&RunLogBusy, 1) != 0; ++turn) Sleep(turn < 16 ? 0 : 1);
}

static void UnlockRunLog() {
  InterlockedExchange(&RunLogBusy, 0);
}

bool SetLogLocale() {
  static const WCHAR* const names[] = {L"zh-CN", L"Chinese_China.936", L"chs"};
  for (const WCHAR* name : names)
    if (_wsetlocale(LC_ALL, name) != NULL) return true;
  return false;
}

bool BuildRunLogPath(WCHAR* path, const SYSTEMTIME* date, DWORD processId) {
  PathRemoveExtensionW(path);
  int length = lstrlenW(path);
  int written = GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, date, L"'-'yyyyMMdd'-'",
                               path + length, MAX_PATH - length);
  if (written == 0) return false;
  int end = length + written - 1;
  int room = MAX_PATH - end;
  int digits = _snwprintf(path + end, room, L"%lu", processId);
  if (digits < 0 || digits >= room) return false;
  // A dotted base name already has an extension here, and keeps it: no ".log".
  if (*PathFindExtensionW(path) != L'\0') return true;
  if (lstrlenW(path) + 4 >= MAX_PATH) return false;
  return PathAddExtensionW(path, L".log") != FALSE;
}

FILE* OpenRunLogFile() {
  FILE* file = NULL;
  // Readers may look on, no one else may write: the stream denies writing as _SH_DENYWR did.
  HANDLE handle = CreateFreshFile(RunLogPath, GENERIC_WRITE, FILE_SHARE_READ);
  if (handle != INVALID_HANDLE_VALUE) {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    if (descriptor == -1)
      CloseHandle(handle);
    else if ((file = _wfdopen(descriptor, L"w")) == NULL)
      _close(descriptor);
  }
  LockRunLog();
  RunLogFile = file;
  UnlockRunLog();
  return file;
}

FILE* OpenRunLog() {
  DWORD length = GetModuleFileNameW(NULL, RunLogPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH ||
      !BuildRunLogPath(RunLogPath, NULL, GetCurrentProcessId())) {
    // A name that does not fit would be cut: better no log than a wrong file.
    RunLogPath[0] = L'\0';
    return NULL;
  }
  return OpenRunLogFile();
}

// Caller holds the lock and has checked that the stream is open.
static void WriteTimestamp() {
  WCHAR stamp[32];
  int n = GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, NULL, L"yyyy'-'MM'-'dd' '", stamp, 32);
  if (n == 0) {
    stamp[0] = L'\0';
    n = 1;
  }
  if (GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, NULL, L"HH':'mm':'ss' '", stamp + n - 1, 33 - n) == 0)
    stamp[n - 1] = L'\0';
  fputws(stamp, RunLogFile);
}

// The stream is in text mode: the single line feed becomes CR LF in the file.
static void EndLine() {
  fputwc(L'\n', RunLogFile);
  fflush(RunLogFile);
}

void LogLine(const WCHAR* text) {
  LockRunLog();
  if (RunLogFile != NULL) {
    WriteTimestamp();
    fputws(text, RunLogFile);
    EndLine();
  }
  UnlockRunLog();
}

static void LogFormatList(const WCHAR* format, va_list args) {
  LockRunLog();
  if (RunLogFile != NULL) {
    WriteTimestamp();
    // msvcrt's own formatter: mingw's ISO printf would swap the meaning of %s and %S.
    __ms_vfwprintf(RunLogFile, format, args);
    EndLine();
  }
  UnlockRunLog();
}

void LogFormat(const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  LogFormatList(format, args);
  va_end(args);
}

// An ASCII text unit for unit, cut to fit.
static void Widen(const char* text, WCHAR* wide) {
  int i = 0;
  for (; i < LOG_FORMAT_SIZE - 1 && text[i] != '\0'; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  wide[i] = L'\0';
}

void LogLine(const char* text) {
  WCHAR wide[LOG_FORMAT_SIZE];
  Widen(text, wide);
  LogLine(wide);
}

void LogFormat(const char* format, ...) {
  WCHAR wide[LOG_FORMAT_SIZE];
  va_list args;
  Widen(format, wide);
  va_start(args, format);
  LogFormatList(wide, args);
  va_end(args);
}

void CloseRunLog() {
  LockRunLog();
  if (RunLogFile != NULL) {
    fclose(RunLogFile);
    RunLogFile = NULL;
  }
  UnlockRunLog();
}

void DeleteRunLog() {
  CloseRunLog();
  // Only while the name still holds the log this process made.
  DeleteOwnFile(RunLogPath);
}
