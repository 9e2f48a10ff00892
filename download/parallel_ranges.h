// The engine that fetches one download's body over several connections at
// once, for either client: each connection asks for a range (Range and
// If-Range), writes what it receives at its place in the one file, takes the
// next range from the plan (range_plan.h) when its own is in, and tries a
// broken range again under the download's retry rules. One lock, held only
// while the plan and the progress change; never across a receive or a write.
#pragma once

// First: the Winsock client's socket below needs Winsock's headers before windows.h.
#include "platform/windows_headers.h"

#include "download/body_file.h"
#include "download/download_try.h"
#include "download/range_plan.h"

// One connection of a download in ranges, on either road.
struct RangeConnection {
  SOCKET socket;     // the Winsock road
  void* handles[3];  // the WinHTTP road: session, connection and request
};

// What a client lends the engine for its connections.
struct RangeRoad {
  // Opens a connection that asks for bytes first..last of the attempt's file
  // and reads the answer's head into *answer, whose status holds the number
  // even of a refused status line. RANGE_END_DONE when a head came, else how
  // the request ended (in the run log). The connection is closed by `close`,
  // whatever the result.
  RangeEnd (*open)(const DownloadTry& attempt, long long first, long long last, RangeConnection* connection,
                   HeadState* answer);
  // Receives at most `size` bytes of the body: their count, 0 when the answer
  // ended, -1 with *failure when a receive failed.
  int (*receive)(RangeConnection* connection, char* buffer, int size, DWORD* failure);
  void (*close)(RangeConnection* connection);
};

// The receive size of every connection in ranges: receives cost a round trip
// each under Wine, so larger ones keep up with several connections.
const int RANGE_CHUNK_SIZE = 65536;

// Receives the rest of a body over its one connection into the attempt's
// file, each receive asking for at most `chunkSize` bytes (at most
// RANGE_CHUNK_SIZE), as every download did before ranges.
TryEnd ReceiveWholeBody(DownloadTry* attempt, const RangeRoad& road, RangeConnection* link, BodyProgress* body,
                        int chunkSize);

// Fetches the body of the first try (its 200 head taken by BeginTryBody, and
// RangesAllowed) over up to attempt->connections connections: `first`, whose
// body is unread, fetches the first range and stays open for the caller to
// close. The file is sized to the whole length first. Returns TRY_COMPLETE
// when every byte is in; TRY_CHANGED (the point begun anew, one connection
// from then on) when an answer came from a changed file; otherwise the file
// is cut to its complete prefix, which the point keeps, and either
// TRY_REFUSED (the last connection's answer could not be used, or a write
// failed) or TRY_BROKEN, whose try number becomes the last: every connection
// has spent its tries.
TryEnd ReceiveInRanges(DownloadTry* attempt, const RangeRoad& road, RangeConnection* first, BodyProgress* body);
