#include "download/body_file.h"

#include "download/http_protocol.h"
#include "log/run_log.h"

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
