// Writing a download's body to its file, as both download clients do, across
// the tries of one download: the file made at the first body and kept open,
// an answer to a resumed request judged, each received piece written whole at
// its place (the engine of parallel_ranges.h counts it and reports the
// percentage).
#pragma once

#include <windows.h>

#include "download/download_try.h"
#include "http/head.h"
#include "download/progress_callback.h"

struct BodyProgress {
  long long contentLength;  // the whole file's length, also when only its rest is coming
  long long received;       // bytes in the file, the kept ones included
  int lastPercent;
  ProgressCallback progress;
};

void BeginBodyProgress(BodyProgress* body, long long contentLength, ProgressCallback progress);

// Moves the file pointer of `file` to byte `offset` and, with `setEnd`, makes
// that the file's end: what lies behind it goes, or the file grows to it. A
// new body replaces the old one in place, so the file stays the one this
// process made. False, with a log line, when the system refuses.
bool PlaceBodyFile(HANDLE file, long long offset, bool setEnd);

// Writes `size` received bytes at byte `offset` of `file`, whatever its file
// pointer: the connections of a download in ranges share one handle. False,
// with *failure and a log line, when the file did not take all of them.
// With `follows`, the file pointer stands at `offset` already (one
// connection, whose pieces follow each other): a plain write, which Wine
// serves faster than one at an offset.
bool WriteBodyPieceAt(HANDLE file, long long offset, const char* piece, DWORD size, DWORD* failure,
                      bool follows = false);

// Takes the accepted head `answer` of a try: judges an answer to a request for
// the rest, checks that what is to come has room on the disk, then makes the
// file (with the DACL of protected_file.h), truncates it (the whole file anew)
// or keeps its bytes, logs the length and "start down", and readies `body` to
// count from the bytes kept to the whole length. False, with *end and the
// reason in the run log, when the answer, the disk or the file refuses the
// try; TRY_CHANGED when a continuation came from a changed file, whose next
// try asks for the whole one.
bool BeginTryBody(DownloadTry* attempt, const HeadState& answer, BodyProgress* body, TryEnd* end);
