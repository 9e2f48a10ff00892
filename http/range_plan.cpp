#include "http/range_plan.h"

#include <string.h>

static const RangeAsk NO_ASK = {0, -1};

bool RangesAllowed(const HeadState& first, const ResumePoint& point, int connections) {
  return first.status == 200 && first.acceptsByteRanges && point.validator.kind != VALIDATOR_NONE &&
         point.total >= PARALLEL_MIN_LENGTH && connections > 1;
}

// `total` (not negative) divided by `by` (1 to MAX_DOWNLOAD_CONNECTIONS), bit
// by bit: a 32-bit build would take the 64-bit division from libgcc, with its
// unwinding table, for this one line.
static long long Share(long long total, int by) {
  unsigned long long rest = static_cast<unsigned long long>(total);
  unsigned long long share = 0;
  for (int bit = 63; bit >= 0; --bit)
    if ((rest >> bit) >= static_cast<unsigned>(by)) {
      rest -= static_cast<unsigned long long>(by) << bit;
      share |= 1ULL << bit;
    }
  return static_cast<long long>(share);
}

void BeginRangePlan(RangePlan* plan, long long total, int connections) {
  if (connections < 1) connections = 1;
  if (connections > MAX_DOWNLOAD_CONNECTIONS) connections = MAX_DOWNLOAD_CONNECTIONS;
  // Every other range empty, so done, whatever its owner.
  *plan = RangePlan();
  plan->total = total;
  plan->connections = connections;
  plan->parts[0] = RangePart{0, total, 0};
  long long share = Share(total, connections);
  for (int i = 0; i < MAX_DOWNLOAD_CONNECTIONS; ++i) {
    long long last = i + 1 == connections ? total - 1 : share * (i + 1) - 1;
    plan->asks[i] = i > 0 && i < connections ? RangeAsk{share * i, last} : NO_ASK;
  }
}

static long long Left(const RangePart& part) {
  return part.end - part.next;
}

// Where the run of bytes from `at` (below `end`) that no other connection has
// asked for ends: at the first byte of the next such ask, else at `end`. When
// an ask covers `at` itself, *covered is set and the byte behind it returned.
static long long RunEnd(const RangePlan& plan, int connection, long long at, long long end, bool* covered) {
  *covered = false;
  for (int i = 0; i < MAX_DOWNLOAD_CONNECTIONS; ++i) {
    const RangeAsk& ask = plan.asks[i];
    if (i == connection || ask.first > ask.last) continue;
    if (ask.first <= at && at <= ask.last) {
      *covered = true;
      return ask.last + 1;
    }
    if (ask.first > at && ask.first < end) end = ask.first;
  }
  return end;
}

// A run of bytes first..end - 1.
struct ByteRun {
  long long first;
  long long end;
};

static void KeepLarger(ByteRun* kept, long long first, long long end) {
  if (end - first > kept->end - kept->first) *kept = ByteRun{first, end};
}

bool NextAsk(RangePlan* plan, int connection, RangeAsk* ask) {
  GiveBack(plan, connection);
  if (plan->plain) {
    *ask = RangeAsk{PLAIN_ASK, plan->total - 1};
    return CompletePrefix(*plan) < plan->total;
  }
  if (plan->off) return false;
  // A range's run from its next byte up to the first byte another connection
  // asked for: being fetched when the range has an owner, else nobody's.
  ByteRun free = {0, 0};
  ByteRun fetched = {0, 0};
  for (const RangePart& part : plan->parts) {
    bool covered = part.next >= part.end;
    long long end = covered ? 0 : RunEnd(*plan, connection, part.next, part.end, &covered);
    if (!covered) KeepLarger(part.owner != NO_OWNER ? &fetched : &free, part.next, end);
  }
  long long half = (fetched.end - fetched.first) / 2;
  if (free.end > free.first)
    *ask = RangeAsk{free.first, free.end - 1};
  else if (half >= RANGE_TAKE_OVER_MIN)
    *ask = RangeAsk{fetched.end - half, fetched.end - 1};
  else
    return false;
  plan->asks[connection] = *ask;
  return true;
}

// The range that still has to fetch byte `at`, or NO_RANGE.
static int RangeHolding(const RangePlan& plan, long long at) {
  for (int i = 0; i < RANGE_PARTS; ++i)
    if (plan.parts[i].next <= at && at < plan.parts[i].end) return i;
  return NO_RANGE;
}

int ClaimRange(RangePlan* plan, int connection, long long first) {
  plan->asks[connection] = NO_ASK;
  if (plan->off) return NO_RANGE;
  plan->worked = true;
  int holding = RangeHolding(*plan, first);
  if (holding == NO_RANGE) return NO_RANGE;
  RangePart& part = plan->parts[holding];
  if (part.next == first) {
    part.owner = connection;
    return holding;
  }
  // A slot whose range is done: its owner, if it still looks, sees that it is no longer its own.
  for (int i = 0; i < RANGE_PARTS; ++i) {
    if (Left(plan->parts[i]) > 0) continue;
    plan->parts[i] = RangePart{first, part.end, connection};
    part.end = first;
    return i;
  }
  return FULL_PLAN;
}

int FollowStream(RangePlan* plan, int connection, long long at) {
  int found = NO_RANGE;
  for (int i = 0; i < RANGE_PARTS; ++i) {
    const RangePart& part = plan->parts[i];
    if (Left(part) <= 0 || part.owner != NO_OWNER || part.next < at || (!plan->plain && part.next != at)) continue;
    if (found == NO_RANGE || part.next < plan->parts[found].next) found = i;
  }
  if (found == NO_RANGE) return NO_RANGE;
  plan->parts[found].owner = connection;
  plan->asks[connection] = NO_ASK;
  return found;
}

void GiveBack(RangePlan* plan, int connection) {
  plan->asks[connection] = NO_ASK;
  for (RangePart& part : plan->parts)
    if (part.owner == connection) part.owner = NO_OWNER;
}

void LeaveRanges(RangePlan* plan, int connection) {
  GiveBack(plan, connection);
  if (plan->connections > 0) --plan->connections;
}

long long CompletePrefix(const RangePlan& plan) {
  long long prefix = plan.total;
  for (int i = 0; i < RANGE_PARTS; ++i)
    if (Left(plan.parts[i]) > 0 && plan.parts[i].next < prefix) prefix = plan.parts[i].next;
  return prefix;
}

RangeAnswer JudgeRangeAnswer(const HeadState& answer, const ResumePoint& point, const RangeAsk& ask,
                             const char** why) {
  const bool plain = ask.first == PLAIN_ASK;
  *why = answer.status == 503 ? "503" : "429";
  if (answer.status == 503 || answer.status == 429) return RANGE_ANSWER_BUSY;
  // A 200 to a range: If-Range saw another file.
  *why = plain ? "not a 200 answer" : "a 200 answer";
  if (!plain && answer.status == 200) return RANGE_ANSWER_CHANGED;
  if (!plain) *why = "not a 206 answer";
  if (answer.status != (plain ? 200 : 206) || !answer.statusSeen) return RANGE_ANSWER_WRONG;
  // Before the range: another validator means another file, whatever range it sent.
  *why = ValidatorChange(answer, point);
  if (*why != NULL) return RANGE_ANSWER_CHANGED;
  // A range that runs on past the last byte asked for is taken: its stream goes on into the next ranges.
  long long last = answer.rangeValid && answer.range.last > ask.last ? answer.range.last : ask.last;
  *why = HeadRefusal(answer);
  if (*why == NULL && !plain) *why = RangeFault(answer, ask.first, last, point.total);
  if (*why != NULL) return RANGE_ANSWER_WRONG;
  *why = "";
  // The first request sent again must bring the first answer's file whole.
  if (!plain || (strcmp(answer.etag, point.etag) == 0 && strcmp(answer.lastModified, point.lastModified) == 0 &&
                 answer.contentLength == point.total))
    return RANGE_ANSWER_TAKEN;
  *why = "another length or validator";
  return RANGE_ANSWER_CHANGED;
}

RangeStep DecideRangeStep(RangeEnd end, const RangePlan& plan, int number) {
  switch (end) {
    case RANGE_END_DONE:
      return RANGE_STEP_ASK;
    case RANGE_END_STOPPED:
      return RANGE_STEP_LEAVE;
    case RANGE_END_CHANGED:
    case RANGE_END_FAILED:
      return RANGE_STEP_STOP;
    default:
      break;
  }
  // Until a 206 has come, one plain connection is the download: its 200 reads on.
  if (!plan.worked) return RANGE_STEP_OFF;
  bool others = plan.connections > 1;
  if (end == RANGE_END_WRONG) return others || plan.plain ? RANGE_STEP_LEAVE : RANGE_STEP_PLAIN;
  if (end != RANGE_END_BROKEN && others) return RANGE_STEP_LEAVE;
  return number < DOWNLOAD_TRIES ? RANGE_STEP_RETRY : RANGE_STEP_LEAVE;
}

TryEnd TryEndOfAsk(RangeEnd end) {
  return end == RANGE_END_NOT_CONNECTED ? TRY_NOT_CONNECTED : end == RANGE_END_BROKEN ? TRY_HEAD_CUT : TRY_REFUSED;
}

TryEnd DownloadEndOfRanges(RangeEnd last) {
  switch (last) {
    case RANGE_END_CHANGED:
      return TRY_CHANGED;
    case RANGE_END_WRONG:
    case RANGE_END_FAILED:
      return TRY_REFUSED;
    default:
      return TRY_BROKEN;
  }
}
