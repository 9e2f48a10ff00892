#include "download/range_engine.h"

#include "http/body_rules.h"
#include "log/run_log.h"

// Texts in place, not pointers: each pointer would cost the exe a relocation.
static const char END_TEXTS[][14] = {"done", "broken", "not connected", "busy", "refused", "changed",
                                        "write failed", "stopped"};
static_assert(sizeof END_TEXTS / sizeof END_TEXTS[0] == RANGE_END_STOPPED + 1, "a text for every end");

void CloseRequests(RangeEngine* engine, int connection, bool firstToo) {
  // Closed here, never again by their owners: a closed socket or request ends the call that waits on it.
  for (int i = firstToo ? 0 : 1; i < MAX_DOWNLOAD_CONNECTIONS; ++i)
    if (i != connection && engine->enlisted[i]) engine->road->cancel(&engine->links[i]);
}

void StopRanges(RangeEngine* engine, int connection, RangeEnd end) {
  if (engine->stopped) return;
  engine->stopped = true;
  engine->stopEnd = end;
  CloseRequests(engine, connection, true);
  SetEvent(engine->stopEvent);
}

bool EnlistLink(RangeEngine* engine, int connection) {
  EnterCriticalSection(&engine->lock);
  bool open = !engine->stopped && (connection == 0 || !engine->plan.off);
  engine->enlisted[connection] = open;
  LeaveCriticalSection(&engine->lock);
  return open;
}

void CloseLink(RangeEngine* engine, int connection) {
  EnterCriticalSection(&engine->lock);
  engine->enlisted[connection] = false;
  LeaveCriticalSection(&engine->lock);
  engine->road->close(&engine->links[connection]);
}

void CountReceived(RangeEngine* engine, long long count) {
  BodyProgress* body = engine->body;
  body->received += count;
  int percent = PercentReceived(body->received, body->contentLength);
  if (percent > body->lastPercent) body->lastPercent = percent;
}

void ReportRanges(RangeEngine* engine) {
  ProgressCallback progress = engine->body->progress;
  // Each report is a call into the window's thread: no connection waits for
  // it, and the bar never goes back. A report skipped here comes with the next.
  if (progress == NULL || InterlockedCompareExchange(&engine->reporting, 1, 0) != 0) return;
  EnterCriticalSection(&engine->lock);
  int percent = engine->body->lastPercent;
  LeaveCriticalSection(&engine->lock);
  if (percent > engine->reported) {
    engine->reported = percent;
    progress(STEP_NONE, percent);
  }
  InterlockedExchange(&engine->reporting, 0);
}

void LogOpened(int connection, long long first, long long last) {
  LogFormat("connection %d opened for bytes %I64d-%I64d", connection, first, last);
}

void LogClosed(int connection, long long at, long long first, long long last, RangeEnd end, const char* why) {
  LogFormat("connection %d closed at byte %I64d of %I64d-%I64d: %S%S%S", connection, at, first, last,
            END_TEXTS[end], why[0] != '\0' ? ", " : "", why);
}
