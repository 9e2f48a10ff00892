#include "download/range_connection.h"

#include "log/run_log.h"

// Where the answer a connection reads stands: its next byte, the byte behind
// its last one, and the range it writes (NO_RANGE while it has none).
struct RangeStream {
  long long at;
  long long end;
  int part;
};

// Under the lock: bytes writeFrom..writeEnd - 1 are where the stream of
// `connection` writes next (before writeFrom, what it reads is already in the
// file and dropped). False when the stream ends here: the download stopped,
// or its range is done and no range nobody owns begins where it stands.
// What it held past the end of its stream goes back.
static bool WhereNext(RangeEngine* engine, int connection, RangeStream* stream, long long* writeFrom,
                      long long* writeEnd) {
  RangePlan* plan = &engine->plan;
  if (engine->stopped) return false;
  const RangePart* part = stream->part >= 0 ? &plan->parts[stream->part] : NULL;
  if (part == NULL || part->owner != connection || part->next >= part->end) {
    stream->part = stream->at < stream->end ? FollowStream(plan, connection, stream->at) : NO_RANGE;
    if (stream->part == NO_RANGE) return false;
    part = &plan->parts[stream->part];
  }
  if (stream->at >= stream->end) {
    GiveBack(plan, connection);
    return false;
  }
  *writeFrom = part->next;
  *writeEnd = part->end < stream->end ? part->end : stream->end;
  return true;
}

// Under the lock: `got` bytes came at the stream's place; those inside its
// range are counted (another connection may have taken over the rest meanwhile:
// it writes the same bytes).
static void Advance(RangeEngine* engine, int connection, RangeStream* stream, int got) {
  RangePart* part = &engine->plan.parts[stream->part];
  if (part->owner == connection && part->next == stream->at) {
    long long end = stream->at + got < part->end ? stream->at + got : part->end;
    if (end > part->next) {
      CountReceived(engine, end - part->next);
      part->next = end;
    }
  }
  stream->at += got;
}

// Reads the stream of `connection` into its range and on into the next ones.
static RangeEnd ReceiveStream(RangeEngine* engine, int connection, RangeStream* stream) {
  char chunk[RANGE_CHUNK_SIZE];
  RangeConnection* link = &engine->links[connection];
  for (;;) {
    long long writeFrom = 0;
    long long writeEnd = 0;
    EnterCriticalSection(&engine->lock);
    bool going = WhereNext(engine, connection, stream, &writeFrom, &writeEnd);
    LeaveCriticalSection(&engine->lock);
    // After a stop the next step is to leave, whatever this end says.
    if (!going) return RANGE_END_DONE;
    long long left = stream->at < writeFrom ? writeFrom - stream->at : writeEnd - stream->at;
    DWORD failure = 0;
    int got = engine->road->receive(link, chunk, left < engine->chunkSize ? static_cast<int>(left) : engine->chunkSize,
                                    &failure);
    if (got <= 0) {
      if (got < 0) LogFormat("data download error %d", static_cast<int>(failure));
      InterlockedExchange(&engine->failure, static_cast<LONG>(failure));
      return RANGE_END_BROKEN;
    }
    if (stream->at >= writeFrom && !WriteBodyPieceAt(engine->attempt->file, stream->at, chunk,
                                                     static_cast<DWORD>(got), &failure, !engine->ranged)) {
      InterlockedExchange(&engine->failure, static_cast<LONG>(failure));
      return RANGE_END_FAILED;
    }
    EnterCriticalSection(&engine->lock);
    Advance(engine, connection, stream, got);
    LeaveCriticalSection(&engine->lock);
    ReportRanges(engine);
  }
}

// The answer to `ask` came: judged, its range taken over, its stream read.
static RangeEnd TakeAnswer(RangeEngine* engine, int connection, const RangeAsk& ask, const HeadState& answer,
                           RangeStream* stream, const char** why) {
  static const RangeEnd ENDS[] = {RANGE_END_DONE, RANGE_END_BUSY, RANGE_END_WRONG, RANGE_END_CHANGED};
  static_assert(RANGE_ANSWER_CHANGED == 3, "an end for every answer");
  RangeAnswer judged = JudgeRangeAnswer(answer, engine->attempt->point, ask, why);
  if (judged != RANGE_ANSWER_TAKEN) return ENDS[judged];
  EnterCriticalSection(&engine->lock);
  stream->end = ask.first == PLAIN_ASK ? engine->plan.total : answer.range.last + 1;
  int part = ask.first == PLAIN_ASK ? NO_RANGE : ClaimRange(&engine->plan, connection, ask.first);
  bool off = engine->plan.off;
  LeaveCriticalSection(&engine->lock);
  if (ask.first != PLAIN_ASK && part < 0) {
    // Bytes that another stream brought meanwhile: this connection asks again.
    bool again = part == NO_RANGE && !off;
    *why = again ? "fetched meanwhile" : "ranges off";
    return again ? RANGE_END_DONE : RANGE_END_STOPPED;
  }
  stream->part = part;
  return ReceiveStream(engine, connection, stream);
}

// How a request ends: a request that a stop cut short says so; its link closed, its line in the run log.
static RangeEnd EndRequest(RangeEngine* engine, int connection, RangeEnd end, const RangeStream& stream,
                           long long first, const char* why) {
  if (end != RANGE_END_DONE && engine->links[connection].cancelled) end = RANGE_END_STOPPED;
  CloseLink(engine, connection);
  if (engine->ranged) LogClosed(connection, stream.at, first, stream.end - 1, end, why);
  return end;
}

// One request of `connection` for `ask`, on a connection of its own, or,
// `opened`, connection 0's first answer, whose stream from byte 0 is in
// links[0]; `own` is the attempt as this connection's copy.
static RangeEnd FetchAsked(RangeEngine* engine, const DownloadTry& own, int connection, const RangeAsk& ask,
                           bool opened) {
  RangeConnection* link = &engine->links[connection];
  HeadState answer;
  const char* why = "";
  long long first = ask.first == PLAIN_ASK ? 0 : ask.first;
  RangeStream stream = {first, ask.last + 1, opened ? 0 : NO_RANGE};
  EnterCriticalSection(&engine->lock);
  // Until ranges have worked here, a silent server must not keep the download waiting.
  DWORD limit = engine->plan.worked || ask.first == PLAIN_ASK ? 0 : own.tuning->rangeHeadLimitMs;
  LeaveCriticalSection(&engine->lock);
  if (engine->ranged) LogOpened(connection, first, ask.last);
  RangeEnd end = RANGE_END_DONE;
  if (opened) {
    end = ReceiveStream(engine, connection, &stream);
  } else {
    BeginRangeConnection(link, INVALID_SOCKET, NULL, NULL, NULL);
    end = engine->road->make(own, limit, link);
    if (end == RANGE_END_DONE && !EnlistLink(engine, connection)) end = RANGE_END_STOPPED;
    if (end == RANGE_END_DONE) end = engine->road->ask(own, ask, limit, link, &answer);
    if (end == RANGE_END_DONE) end = TakeAnswer(engine, connection, ask, answer, &stream, &why);
  }
  return EndRequest(engine, connection, end, stream, first, why);
}

// Under the lock: ranges do not work here, or have not yet. A further
// connection leaves connection 0 to read its 200 alone; connection 0 itself
// (its answer broke) ends the download's try, which goes on over one connection.
static void SwitchOff(RangeEngine* engine, int connection, RangeEnd end) {
  engine->attempt->oneConnection = true;
  if (connection == 0) {
    StopRanges(engine, 0, end);
    return;
  }
  if (!engine->plan.off)
    LogFormat("ranges off: one connection from byte %I64d", engine->plan.parts[0].next);
  engine->plan.off = true;
  CloseRequests(engine, connection, false);
}

// Under the lock: what `connection` does after a request that ended with
// `end`. True with *ask to fetch next, or *pause before it is chosen; false when it ends.
static bool DecideNext(RangeEngine* engine, int connection, RangeEnd end, RangeAsk* ask, DWORD* pause) {
  RangePlan* plan = &engine->plan;
  DownloadTry* attempt = engine->attempt;
  RangeStep step = engine->stopped ? RANGE_STEP_LEAVE : DecideRangeStep(end, *plan, attempt->number);
  if (step == RANGE_STEP_OFF) SwitchOff(engine, connection, end);
  if (step == RANGE_STEP_STOP) StopRanges(engine, connection, end);
  if (step == RANGE_STEP_RETRY) {
    GiveBack(plan, connection);
    *ask = RangeAsk{0, -1};  // chosen after the pause
    *pause = PauseBeforeTry(*attempt, ++attempt->number);
    LogFormat("connection %d: try %d of %d", connection, attempt->number, DOWNLOAD_TRIES);
    return true;
  }
  if (step == RANGE_STEP_PLAIN) {
    plan->plain = true;
    LogLine("plain request for the missing bytes");
  }
  return (step == RANGE_STEP_ASK || step == RANGE_STEP_PLAIN) && NextAsk(plan, connection, ask);
}

// After a request that ended with `end`: true with the next one's *ask
// (after the pause of a try, if any); false once `connection` has left.
static bool NextRequest(RangeEngine* engine, int connection, RangeEnd end, RangeAsk* ask) {
  DWORD pause = 0;
  EnterCriticalSection(&engine->lock);
  bool going = DecideNext(engine, connection, end, ask, &pause);
  LeaveCriticalSection(&engine->lock);
  if (going && pause > 0) WaitForSingleObject(engine->stopEvent, pause);
  EnterCriticalSection(&engine->lock);
  // After a pause the plan has moved on: the ask is chosen now.
  if (going && ask->last < ask->first) going = !engine->stopped && NextAsk(&engine->plan, connection, ask);
  if (!going) {
    LeaveRanges(&engine->plan, connection);
    engine->lastEnd = end;
    // The last byte is in: whoever still waits for a head or a pause ends now.
    if (engine->body->received == engine->body->contentLength) StopRanges(engine, connection, RANGE_END_DONE);
  }
  LeaveCriticalSection(&engine->lock);
  return going;
}

void RunRangeConnection(RangeEngine* engine, int connection) {
  DownloadTry own = *engine->attempt;
  own.progress = NULL;  // the window shows the download's steps, not a connection's
  own.mayRedirect = false;
  // Connection 0 reads its own answer (from byte 0, or the rest from the bytes
  // kept) for as long as it can; only this connection changes its own ask.
  RangeAsk ask = connection == 0 ? RangeAsk{engine->plan.parts[0].next, engine->plan.total - 1}
                                 : engine->plan.asks[connection];
  RangeEnd end = FetchAsked(engine, own, connection, ask, connection == 0);
  while (NextRequest(engine, connection, end, &ask)) end = FetchAsked(engine, own, connection, ask, false);
}
