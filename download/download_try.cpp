#include "download/download_try.h"

#include "log/run_log.h"

int AllowedConnections(const DownloadTry& attempt) {
  return attempt.oneConnection ? 1 : attempt.limits->connections;
}

bool IsResumingTry(const DownloadTry& attempt) {
  return CanContinue(attempt.point);
}

void ReportStep(ProgressCallback progress, DownloadStep step) {
  if (progress != NULL) progress(step, PROGRESS_HIDDEN);
}

ProgressCallback TryStepProgress(const DownloadTry& attempt) {
  return attempt.number == 1 ? attempt.progress : NULL;
}

void LogTryAnswer(DownloadTry* attempt, const char* answer) {
  if (attempt->number == 1 && !IsResumingTry(*attempt)) return;
  LogFormat("try %d of %d from byte %I64d: %S", attempt->number, DOWNLOAD_TRIES,
            IsResumingTry(*attempt) ? attempt->point.kept : 0LL, answer);
  attempt->answerLogged = true;
}

// The pauses' random part; seeded at the first pause.
static unsigned PauseRandom;

DWORD PauseBeforeTry(const DownloadTry& attempt, int number) {
  if (PauseRandom == 0) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    PauseRandom = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ counter.LowPart;
    if (PauseRandom == 0) PauseRandom = 1;
  }
  return RetryPauseMs(number, NextRandom(&PauseRandom), attempt.tuning->pausePercent);
}
