#include "download/parallel_ranges.h"

#include <winioctl.h>

#include "download/download_stop.h"
#include "download/range_connection.h"
#include "http/redirect.h"
#include "log/run_log.h"

struct RangeWorker {
  RangeEngine* engine;
  int connection;
};

static DWORD WINAPI RangeThread(LPVOID parameter) {
  RangeWorker* worker = static_cast<RangeWorker*>(parameter);
  RunRangeConnection(worker->engine, worker->connection);
  return 0;
}

// Every write goes to its place in the file. On NTFS a write far behind the
// end first fills everything before it with zeros, inside that write and
// with every other connection waiting on the one handle: a sparse file skips
// that. Where the volume has no sparse files (FAT32), the file grows as the
// writes come, and is not sized first. False when the system refuses the size.
static bool PlaceRangeFile(HANDLE file, long long size) {
  DWORD returned = 0;
  return !DeviceIoControl(file, FSCTL_SET_SPARSE, NULL, 0, NULL, 0, &returned, NULL) ||
         PlaceBodyFile(file, size, true);
}

// After the last connection: complete, changed, or cut to its complete prefix.
static TryEnd EndRanges(RangeEngine* engine) {
  DownloadTry* attempt = engine->attempt;
  long long prefix = CompletePrefix(engine->plan);
  LogLine("end down");
  attempt->point.kept = prefix;
  attempt->failure = static_cast<DWORD>(engine->failure);
  if (prefix == engine->plan.total) return TRY_COMPLETE;
  TryEnd end = DownloadEndOfRanges(engine->stopped ? engine->stopEnd : engine->lastEnd);
  if (end == TRY_CHANGED) {
    BeginResumePoint(&attempt->point);
    attempt->oneConnection = true;
    LogLine("the file changed: starting over on one connection");
    return end;
  }
  // Every byte up to the prefix is in, and nothing behind it stays: a later try continues as after one connection.
  if (!PlaceBodyFile(attempt->file, prefix, true)) BeginResumePoint(&attempt->point);
  return end;
}

// Starts connections 1 to n - 1 on threads of their own; a thread that
// cannot start leaves the plan (the download goes on with fewer). The number started.
static int StartConnections(RangeEngine* engine, RangeWorker* workers, HANDLE* threads) {
  int started = 0;
  int planned = engine->plan.connections;
  for (int i = 1; i < planned; ++i) {
    workers[i].engine = engine;
    workers[i].connection = i;
    threads[started] = CreateThread(NULL, 0, RangeThread, &workers[i], 0, NULL);
    if (threads[started] != NULL) {
      ++started;
      continue;
    }
    EnterCriticalSection(&engine->lock);
    LeaveRanges(&engine->plan, i);
    LeaveCriticalSection(&engine->lock);
  }
  return started;
}

// Readies the engine for `first`'s download; false when the system refuses the event or the file's size.
static bool BeginEngine(RangeEngine* engine, DownloadTry* attempt, const RangeRoad& road, RangeConnection* first,
                        BodyProgress* body, int connections) {
  ZeroMemory(engine, sizeof *engine);
  engine->attempt = attempt;
  engine->road = &road;
  engine->body = body;
  engine->ranged = connections > 1;
  engine->stopEnd = engine->lastEnd = RANGE_END_DONE;
  engine->reported = body->lastPercent;
  // Without the event no stop could cut a pause short.
  engine->stopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (engine->stopEvent == NULL) return false;
  if (!engine->ranged || PlaceRangeFile(attempt->file, attempt->point.total)) {
    BeginRangePlan(&engine->plan, attempt->point.total, connections);
    // One connection continues from the bytes kept.
    engine->plan.parts[0].next = attempt->point.kept;
    engine->links[0] = *first;
    engine->enlisted[0] = true;
    return true;
  }
  CloseHandle(engine->stopEvent);
  return false;
}

// The body over up to `connections` connections, `first` (whose body is
// unread) as connection 0, receiving at most `chunkSize` bytes at a time;
// the engine closes `first` and leaves it closed. One connection is the
// download of before ranges: no line of the engine in the run log.
static TryEnd ReceiveInRanges(DownloadTry* attempt, const RangeRoad& road, RangeConnection* first,
                              BodyProgress* body, int connections, int chunkSize) {
  RangeEngine engine;
  RangeWorker workers[MAX_DOWNLOAD_CONNECTIONS];
  HANDLE threads[MAX_DOWNLOAD_CONNECTIONS];
  if (!BeginEngine(&engine, attempt, road, first, body, connections)) {
    attempt->failure = GetLastError();
    return TRY_REFUSED;
  }
  engine.chunkSize = chunkSize;
  if (engine.ranged)
    LogFormat("parallel ranges: %d connections for %I64d bytes", engine.plan.connections, engine.plan.total);
  InitializeCriticalSection(&engine.lock);
  EnterRunningEngine(&engine);
  int started = StartConnections(&engine, workers, threads);
  RunRangeConnection(&engine, 0);
  // Each thread ends within its tries, pauses and time-outs, and at once when the download stops.
  if (started > 0) WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
  for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
  ReportRanges(&engine);
  *first = engine.links[0];
  LeaveRunningEngine();
  DeleteCriticalSection(&engine.lock);
  CloseHandle(engine.stopEvent);
  return EndRanges(&engine);
}

TryEnd TryOverRoad(DownloadTry* attempt, const RangeRoad& road, int chunkSize) {
  RangeConnection link;
  HeadState head;
  BodyProgress body;
  // The first request as it is, or continued from the bytes kept.
  const RangeAsk ask = {IsResumingTry(*attempt) ? attempt->point.kept : PLAIN_ASK, -1};
  BeginRangeConnection(&link, INVALID_SOCKET, NULL, NULL, NULL);
  RangeEnd asked = road.make(*attempt, 0, &link);
  if (asked == RANGE_END_DONE) asked = road.ask(*attempt, ask, 0, &link, &head);
  TryEnd end = TryEndOfAsk(asked);
  attempt->redirect = 0;
  if (asked == RANGE_END_DONE && IsFollowedRedirect(head.status) && head.statusSeen) {
    attempt->redirect = head.status;
    lstrcpyA(attempt->location, head.location);
  } else if (asked == RANGE_END_DONE && head.statusSeen && BeginTryBody(attempt, head, &body, &end)) {
    bool ranged = RangesAllowed(head, attempt->point, AllowedConnections(*attempt));
    end = ReceiveInRanges(attempt, road, &link, &body, ranged ? attempt->limits->connections : 1,
                          ranged ? RANGE_CHUNK_SIZE : chunkSize);
  }
  // What the engine took over it has closed.
  road.close(&link);
  return end;
}
