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

// Receives the rest of a body over its one connection into the attempt's
// file, each receive asking for at most `chunkSize` bytes (at most
// RANGE_CHUNK_SIZE), as every download did before ranges.
TryEnd ReceiveWholeBody(DownloadTry* attempt, const RangeRoad& road, RangeConnection* link, BodyProgress* body,
                        int chunkSize);

// Fetches the body of the first try (its 200 head taken by BeginTryBody, and
// RangesAllowed) over up to attempt->connections connections, `first` (whose
// body is unread) being connection 0. The engine closes `first` and leaves it
// closed (its socket INVALID_SOCKET, its handles null) for the caller's
// clean-up. Returns TRY_COMPLETE when every byte is in; TRY_CHANGED (the
// point begun anew, one connection from then on) when an answer came from a
// changed file; otherwise the file is cut to its complete prefix, which the
// point keeps, and either TRY_REFUSED (the answers could not be used, or a
// write failed) or TRY_BROKEN: the download's tries are spent, or ranges did
// not work here and the first connection broke (one connection from then on).
TryEnd ReceiveInRanges(DownloadTry* attempt, const RangeRoad& road, RangeConnection* first, BodyProgress* body);
