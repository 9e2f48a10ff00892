// The engine that fetches one download's body over several connections at
// once, for either client. The first connection reads its own 200 from byte
// 0 for as long as it can; each further one asks for a range (Range and
// If-Range) and takes it over when its 206 head is judged usable; a stream
// that runs on goes into the next range; a server where ranges do not work is
// left to the first connection alone. Tries count for the download as a whole,
// a stop closes every connection at once, and the progress is reported
// outside the one lock, which is held only while the plan and the counts
// change, never across a receive or a write.
#pragma once

// First: it brings Winsock's headers before windows.h.
#include "download/range_road.h"

#include "download/body_file.h"

// One try of a download on `road`: sends the first request (or, when the
// attempt continues, the first request with the Range and If-Range of its
// rest), judges its head (BeginTryBody), and receives the body into the
// attempt's file: over several connections when RangesAllowed (the first
// one's answer read on as connection 0), otherwise over the one connection,
// each receive asking for at most `chunkSize` bytes (at most
// RANGE_CHUNK_SIZE), as every download did before ranges. In ranges: when
// an answer came from a changed file, TRY_CHANGED (the point begun anew, one
// connection from then on); with bytes missing, the file is cut to its
// complete prefix, which the point keeps, and TRY_REFUSED (the answers could
// not be used, or a write failed) or TRY_BROKEN: the download's tries are
// spent, or ranges did not work here and the first connection broke (one
// connection from then on).
TryEnd TryOverRoad(DownloadTry* attempt, const RangeRoad& road, int chunkSize);
