#include "download/download_try.h"

#include "log/run_log.h"

bool IsResumingTry(const DownloadTry& attempt) {
  return CanContinue(attempt.point);
}

void ReportStep(ProgressCallback progress, const WCHAR* text) {
  if (progress != NULL) progress(text, PROGRESS_HIDDEN);
}

ProgressCallback TryStepProgress(const DownloadTry& attempt) {
  return attempt.number == 1 ? attempt.progress : NULL;
}

void LogTryAnswer(DownloadTry* attempt, const char* answer) {
  if (attempt->number == 1 && !IsResumingTry(*attempt)) return;
  LogFormat(L"try %d of %d from byte %I64d: %S", attempt->number, DOWNLOAD_TRIES,
            IsResumingTry(*attempt) ? attempt->point.kept : 0LL, answer);
  attempt->answerLogged = true;
}
