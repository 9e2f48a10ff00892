// Writing a download's body to its file, as both download clients do: each
// received piece written whole, the whole percentage reported when it changes.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"

struct BodyProgress {
  int contentLength;
  int received;
  int lastPercent;
  ProgressCallback progress;
};

void BeginBodyProgress(BodyProgress* body, int contentLength, ProgressCallback progress);

// Writes `size` received bytes to `file`, counts them and reports the new
// percentage if it changed. False, with *failure and a log line, when the file
// did not take all of them; nothing is counted then.
bool WriteBodyPiece(HANDLE file, const char* piece, DWORD size, BodyProgress* body, DWORD* failure);
