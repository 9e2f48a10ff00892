#include "download/body_file.h"

#include "download/http_protocol.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"

void BeginBodyProgress(BodyProgress* body, int contentLength, ProgressCallback progress) {
  body->contentLength = contentLength;
  body->received = 0;
  body->lastPercent = -1;
  body->progress = progress;
}

bool WriteBodyPiece(HANDLE file, const char* piece, DWORD size, BodyProgress* body, DWORD* failure) {
  DWORD wrote = 0;
  if (!WriteFile(file, piece, size, &wrote, NULL) || wrote != size) {
    *failure = GetLastError();
    LogFormat(L"data write error %d: %d of %d bytes written", static_cast<int>(*failure), static_cast<int>(wrote),
              static_cast<int>(size));
    return false;
  }
  body->received += static_cast<int>(size);
  if (body->progress != NULL) {
    int percent = PercentReceived(body->received, body->contentLength);
    if (percent != body->lastPercent) {
      body->lastPercent = percent;
      body->progress(NULL, percent);
    }
  }
  return true;
}

// The file from byte `offset` on: what lies behind it goes (a whole new body
// replaces it in place, so the file stays the one this process made).
static bool PlaceFile(HANDLE file, int offset, bool truncate) {
  LONG high = 0;
  if (SetFilePointer(file, offset, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
    return false;
  return !truncate || SetEndOfFile(file) != FALSE;
}

bool BeginTryBody(DownloadTry* attempt, const HeadState& answer, BodyProgress* body, TryEnd* end) {
  ResumePoint* point = &attempt->point;
  const char* why = "";
  ResumeAnswer judged = IsResumingTry(*attempt) ? JudgeResumeAnswer(answer, *point, &why) : RESUME_START_OVER;
  int length = answer.contentLength;
  *end = TRY_REFUSED;
  if (judged == RESUME_REFUSED) {
    LogTryAnswer(attempt, answer.status == 206 ? "206 refused" : "refused");
    LogFormat(L"partial answer refused: %S", why);
    return false;
  }
  if (judged == RESUME_APPEND) {
    LogTryAnswer(attempt, "206, continuing");
    length = point->total - point->kept;
  } else {
    LogTryAnswer(attempt, "200, starting over");
    ChooseValidator(answer, &point->validator);
    point->kept = 0;
    point->total = answer.contentLength;
  }
  attempt->bodyReached = true;
  ReportStep(attempt->progress, L"正在下载...");
  LogFormat(L"content length: %d", length);
  if (attempt->file == INVALID_HANDLE_VALUE) {
    FileFailure failure;
    attempt->file = CreateFreshFile(attempt->targetPath, GENERIC_WRITE, FILE_SHARE_READ, &failure);
    if (attempt->file == INVALID_HANDLE_VALUE) {
      LogFileFailure(failure, attempt->targetPath);
      attempt->failure = failure.code;
      return false;
    }
  } else if (!PlaceFile(attempt->file, point->kept, judged == RESUME_START_OVER)) {
    attempt->failure = GetLastError();
    LogFormat(L"partial file not placed at byte %d. %d", point->kept, static_cast<int>(attempt->failure));
    return false;
  }
  LogLine(L"start down");
  BeginBodyProgress(body, point->total, attempt->progress);
  body->received = point->kept;
  // The bar stays where the kept bytes put it: no report until it moves on.
  if (point->kept > 0) body->lastPercent = PercentReceived(point->kept, point->total);
  return true;
}

TryEnd EndTryBody(DownloadTry* attempt, const BodyProgress& body, bool writtenWhole, DWORD failure) {
  LogLine(L"end down");
  attempt->point.kept = body.received;
  attempt->failure = failure;
  if (writtenWhole && body.received == body.contentLength) return TRY_COMPLETE;
  // A negative length is a bad head; a write that failed will fail again.
  if (!writtenWhole || body.contentLength < 0) return TRY_REFUSED;
  return TRY_BROKEN;
}
