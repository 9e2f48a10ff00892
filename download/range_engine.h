// What the connections of one download in ranges share, and the engine's
// operations on it: the stop, which closes every other connection's socket or
// request at once; the count of the bytes in, and the progress reported
// outside the lock by one thread at a time; the run log's lines of a request.
#pragma once

// First: it brings Winsock's headers before windows.h.
#include "download/range_road.h"

#include "download/body_file.h"

struct RangeEngine {
  CRITICAL_SECTION lock;  // guards everything below but `reporting` and `reported`
  volatile LONG reporting;  // 1 while a thread calls the progress callback
  RangePlan plan;
  DownloadTry* attempt;  // its number is the download's try, moved on by any connection
  const RangeRoad* road;
  BodyProgress* body;
  bool ranged;    // more than one connection: the engine's lines go to the run log
  int chunkSize;  // the most that one receive asks for
  RangeConnection links[MAX_DOWNLOAD_CONNECTIONS];
  bool enlisted[MAX_DOWNLOAD_CONNECTIONS];  // links[i] holds what a stop closes
  HANDLE stopEvent;  // set by the stop: pauses end early
  bool stopped;
  RangeEnd stopEnd;  // what stopped the download (RANGE_END_DONE: every byte is in)
  RangeEnd lastEnd;  // the end of the last request of the last connection that left
  LONG failure;      // the last receive's or write's error code, set by any connection
  int reported;      // the percentage last shown, by the thread that holds `reporting`
};

// Under the lock: every connection ends. The sockets and requests that the
// others wait on are closed, pauses end, and no request opens from now on.
void StopRanges(RangeEngine* engine, int connection, RangeEnd end);

// Under the lock: the requests of the other connections than `connection`
// (connection 0's only `firstToo`) are closed; their owners' calls end.
void CloseRequests(RangeEngine* engine, int connection, bool firstToo);

// Enlists links[connection] for the stop. False, enlisting nothing, once the
// download has stopped, or, for a further connection, once ranges are off.
bool EnlistLink(RangeEngine* engine, int connection);

// Takes links[connection] back from the stop and closes what it still holds.
void CloseLink(RangeEngine* engine, int connection);

// Under the lock: `count` more bytes are in the file.
void CountReceived(RangeEngine* engine, long long count);

// Outside the lock: shows the latest percentage, unless another thread is
// showing one (the engine shows the last one after every connection ended).
void ReportRanges(RangeEngine* engine);

void LogOpened(int connection, long long first, long long last);
// The line of a request that ended with `end` at byte `at` of first..last: why, where it stood.
void LogClosed(int connection, long long at, long long first, long long last, RangeEnd end, const char* why);
