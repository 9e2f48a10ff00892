#include "download/parallel_ranges.h"

#include "log/run_log.h"

// What the connections of one download share; `lock` guards the rest.
struct RangeEngine {
  CRITICAL_SECTION lock;
  RangePlan plan;
  DownloadTry* attempt;
  const RangeRoad* road;
  BodyProgress* body;
  HANDLE stopEvent;  // set when every connection is to end; null: the plan has one connection
  RangeEnd stopEnd;  // what stopped them (RANGE_END_DONE while nothing has)
  RangeEnd lastEnd;  // the end of the last request of the last connection that left
  LONG failure;      // the last receive's or write's error code, set by any connection
};

static const WCHAR OPENED[] = L"connection %d opened for bytes %I64d-%I64d";
static const WCHAR RECEIVE_ERROR[] = L"data download error %d";

struct RangeWorker {
  RangeEngine* engine;
  int connection;
};

static const char* const END_TEXTS[] = {"done", "broken", "not connected", "busy", "refused", "changed",
                                        "write failed", "stopped"};
static_assert(sizeof END_TEXTS / sizeof END_TEXTS[0] == RANGE_END_STOPPED + 1, "a text for every end");

static RangeEnd EndOfAnswer(RangeAnswer answer) {
  return answer == RANGE_ANSWER_BUSY ? RANGE_END_BUSY
         : answer == RANGE_ANSWER_CHANGED ? RANGE_END_CHANGED
                                          : RANGE_END_WRONG;
}

// Under the lock: every received byte counted in one place, the bar moved when its percentage changes.
static void CountReceived(RangeEngine* engine, int count) {
  BodyProgress* body = engine->body;
  body->received += count;
  int percent = PercentReceived(body->received, body->contentLength);
  if (percent == body->lastPercent) return;
  body->lastPercent = percent;
  if (body->progress != NULL) body->progress(NULL, percent);
}

// Receives range `part` from an accepted answer into its place in the file.
static RangeEnd ReceivePart(RangeEngine* engine, int part, RangeConnection* connection) {
  char chunk[RANGE_CHUNK_SIZE];
  for (;;) {
    EnterCriticalSection(&engine->lock);
    long long at = engine->plan.parts[part].next;
    long long left = engine->plan.parts[part].end - at;
    bool stopped = engine->stopEnd != RANGE_END_DONE;
    LeaveCriticalSection(&engine->lock);
    if (stopped) return RANGE_END_STOPPED;
    if (left <= 0) return RANGE_END_DONE;
    // A half taken over starts at least RANGE_TAKE_OVER_MIN past `at`: these bytes stay this range's.
    DWORD failure = 0;
    int got = engine->road->receive(connection, chunk, left < RANGE_CHUNK_SIZE ? static_cast<int>(left)
                                                                               : RANGE_CHUNK_SIZE, &failure);
    if (got <= 0) {
      if (got < 0) LogFormat(RECEIVE_ERROR, static_cast<int>(failure));
      InterlockedExchange(&engine->failure, static_cast<LONG>(failure));
      return RANGE_END_BROKEN;
    }
    if (!WriteBodyPieceAt(engine->attempt->file, at, chunk, static_cast<DWORD>(got), &failure)) {
      InterlockedExchange(&engine->failure, static_cast<LONG>(failure));
      return RANGE_END_FAILED;
    }
    EnterCriticalSection(&engine->lock);
    engine->plan.parts[part].next += got;
    CountReceived(engine, got);
    LeaveCriticalSection(&engine->lock);
  }
}

// The run log's line for a connection that closes: where its range stands and why.
static void LogClosed(RangeEngine* engine, int connection, int part, long long first, long long last, RangeEnd end,
                      const char* why) {
  // Only the range's own connection moves `next`: it needs no lock here.
  LogFormat(L"connection %d closed at byte %I64d of %I64d-%I64d: %S%S%S", connection, engine->plan.parts[part].next,
            first, last, END_TEXTS[end], why[0] != '\0' ? ", " : "", why);
}

// One request of `connection` for what range `part` still lacks, on a
// connection of its own; `own` is the attempt as this connection's copy.
static RangeEnd FetchPart(RangeEngine* engine, const DownloadTry& own, int connection, int part) {
  RangeConnection link = {INVALID_SOCKET, {NULL, NULL, NULL}};
  HeadState answer;
  const char* why = "";
  EnterCriticalSection(&engine->lock);
  long long first = engine->plan.parts[part].next;
  long long last = engine->plan.parts[part].end - 1;
  bool stopped = engine->stopEnd != RANGE_END_DONE;
  LeaveCriticalSection(&engine->lock);
  if (stopped) return RANGE_END_STOPPED;
  if (first > last) return RANGE_END_DONE;
  LogFormat(OPENED, connection, first, last);
  RangeEnd end = engine->road->open(own, first, last, &link, &answer);
  if (end == RANGE_END_DONE) {
    RangeAnswer judged = JudgeRangeAnswer(answer, engine->attempt->point, first, last, &why);
    if (judged == RANGE_ANSWER_TAKEN)
      end = ReceivePart(engine, part, &link);
    else
      end = EndOfAnswer(judged);
  }
  engine->road->close(&link);
  LogClosed(engine, connection, part, first, last, end, why);
  return end;
}

// Under the lock: what `connection` does after a request that ended with
// `end` (its number-th for this range). The range it fetches next in *part;
// false when it ends.
static bool NextStep(RangeEngine* engine, int connection, RangeEnd end, int* number, int* part, DWORD* pause) {
  RangeStep step = DecideRangeStep(end, connection, *number);
  *pause = 0;
  if (step == RANGE_STEP_AGAIN) {
    ++*number;
    *pause = PauseBeforeTry(*engine->attempt, *number);
    return true;
  }
  if (step == RANGE_STEP_NEXT) {
    *number = 1;
    *part = TakeNextRange(&engine->plan, connection);
    if (*part != NO_RANGE) return true;
  }
  if (step == RANGE_STEP_STOP && engine->stopEnd == RANGE_END_DONE && end != RANGE_END_STOPPED) {
    engine->stopEnd = end;
    if (engine->stopEvent != NULL) SetEvent(engine->stopEvent);
  }
  LeaveRanges(&engine->plan, connection);
  engine->lastEnd = end;
  return false;
}

// The requests of one connection until it ends; `opened` is the first
// connection's answer, whose body is unread, or null.
static void FetchRanges(RangeEngine* engine, int connection, RangeConnection* opened) {
  DownloadTry own = *engine->attempt;
  own.progress = NULL;  // the window shows the download's steps, not a connection's
  int part = connection;
  int number = 1;
  DWORD pause = 0;
  for (bool going = true; going;) {
    RangeEnd end = RANGE_END_DONE;
    if (opened != NULL) {
      EnterCriticalSection(&engine->lock);
      long long last = engine->plan.parts[part].end - 1;
      LeaveCriticalSection(&engine->lock);
      LogFormat(OPENED, 0, 0LL, last);
      end = ReceivePart(engine, part, opened);
      LogClosed(engine, 0, part, 0, last, end, "");
      opened = NULL;
    } else {
      end = FetchPart(engine, own, connection, part);
    }
    EnterCriticalSection(&engine->lock);
    going = NextStep(engine, connection, end, &number, &part, &pause);
    LeaveCriticalSection(&engine->lock);
    // The pause ends early when the download stops.
    if (going && pause > 0 && engine->stopEvent != NULL) WaitForSingleObject(engine->stopEvent, pause);
  }
}

static DWORD WINAPI RangeThread(LPVOID parameter) {
  RangeWorker* worker = static_cast<RangeWorker*>(parameter);
  FetchRanges(worker->engine, worker->connection, NULL);
  return 0;
}

// After the last connection: complete, changed, or cut to its complete prefix.
static TryEnd EndRanges(RangeEngine* engine) {
  DownloadTry* attempt = engine->attempt;
  long long prefix = CompletePrefix(engine->plan);
  LogLine(L"end down");
  attempt->point.kept = prefix;
  attempt->failure = static_cast<DWORD>(engine->failure);
  if (prefix == engine->plan.total) return TRY_COMPLETE;
  TryEnd end = DownloadEndOfRanges(engine->stopEnd != RANGE_END_DONE ? engine->stopEnd : engine->lastEnd);
  if (end == TRY_CHANGED) {
    BeginResumePoint(&attempt->point);
    attempt->connections = 1;
    LogLine(L"the file changed: starting over on one connection");
    return end;
  }
  // Every byte up to the prefix is in, and nothing behind it stays: a later start continues as after one connection.
  if (!PlaceBodyFile(attempt->file, prefix, true)) BeginResumePoint(&attempt->point);
  // Every connection has spent its tries on the breaks: no try of the whole download follows.
  if (end == TRY_BROKEN) attempt->number = DOWNLOAD_TRIES;
  return end;
}

// Starts connections 1 to n - 1 on threads of their own; a thread that
// cannot start gives its range back. The number started.
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
    LogFormat(L"connection %d not started. %d", i, static_cast<int>(GetLastError()));
    EnterCriticalSection(&engine->lock);
    LeaveRanges(&engine->plan, i);
    LeaveCriticalSection(&engine->lock);
  }
  return started;
}

TryEnd ReceiveWholeBody(DownloadTry* attempt, const RangeRoad& road, RangeConnection* link, BodyProgress* body,
                        int chunkSize) {
  char chunk[RANGE_CHUNK_SIZE];
  bool writtenWhole = true;
  DWORD failure = 0;
  while (body->received < body->contentLength) {
    long long left = body->contentLength - body->received;
    int got = road.receive(link, chunk, left < chunkSize ? static_cast<int>(left) : chunkSize, &failure);
    if (got <= 0) {
      if (got < 0) LogFormat(RECEIVE_ERROR, static_cast<int>(failure));
      break;
    }
    if (!WriteBodyPiece(attempt->file, chunk, static_cast<DWORD>(got), body, &failure)) {
      writtenWhole = false;
      break;
    }
  }
  return EndTryBody(attempt, *body, writtenWhole, failure);
}

TryEnd ReceiveInRanges(DownloadTry* attempt, const RangeRoad& road, RangeConnection* first, BodyProgress* body) {
  RangeEngine engine;
  RangeWorker workers[MAX_DOWNLOAD_CONNECTIONS];
  HANDLE threads[MAX_DOWNLOAD_CONNECTIONS];
  long long size = attempt->point.total;
  engine.attempt = attempt;
  engine.road = &road;
  engine.body = body;
  engine.stopEnd = engine.lastEnd = RANGE_END_DONE;
  engine.failure = 0;
  // The file takes its whole length first; every write then goes to its place.
  if (!PlaceBodyFile(attempt->file, size, true)) {
    attempt->failure = GetLastError();
    return TRY_REFUSED;
  }
  engine.stopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  // Without the event no pause could be cut short: the first connection fetches alone.
  SplitRanges(&engine.plan, size, engine.stopEvent != NULL ? attempt->connections : 1);
  LogFormat(L"parallel ranges: %d connections for %I64d bytes", engine.plan.connections, size);
  InitializeCriticalSection(&engine.lock);
  int started = StartConnections(&engine, workers, threads);
  FetchRanges(&engine, 0, first);
  // Each thread ends within its tries, pauses and receive time-outs.
  if (started > 0) WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
  for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
  DeleteCriticalSection(&engine.lock);
  if (engine.stopEvent != NULL) CloseHandle(engine.stopEvent);
  return EndRanges(&engine);
}
