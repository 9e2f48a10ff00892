#include "download/range_plan.h"

#include <string.h>

bool RangesAllowed(const HeadState& first, const ResumePoint& point, int connections) {
  return first.status == 200 && first.acceptsByteRanges && point.validator.kind != VALIDATOR_NONE &&
         point.total >= PARALLEL_MIN_LENGTH && connections > 1;
}

void SplitRanges(RangePlan* plan, long long total, int connections) {
  if (connections < 1) connections = 1;
  if (connections > MAX_DOWNLOAD_CONNECTIONS) connections = MAX_DOWNLOAD_CONNECTIONS;
  plan->total = total;
  plan->connections = connections;
  long long share = total / connections;
  for (int i = 0; i < RANGE_PARTS; ++i) {
    RangePart& part = plan->parts[i];
    part.next = part.end = total;
    part.owner = NO_OWNER;
    if (i >= connections) continue;
    part.next = share * i;
    part.end = i + 1 == connections ? total : share * (i + 1);
    part.owner = i;
  }
}

static long long Left(const RangePart& part) {
  return part.end - part.next;
}

// The largest range with bytes to come that `owned` says is owned or not; NO_RANGE when none.
static int LargestRange(const RangePlan& plan, bool owned) {
  int largest = NO_RANGE;
  for (int i = 0; i < RANGE_PARTS; ++i) {
    const RangePart& part = plan.parts[i];
    if (Left(part) <= 0 || (part.owner != NO_OWNER) != owned) continue;
    if (largest == NO_RANGE || Left(part) > Left(plan.parts[largest])) largest = i;
  }
  return largest;
}

int TakeNextRange(RangePlan* plan, int connection) {
  for (int i = 0; i < RANGE_PARTS; ++i)
    if (plan->parts[i].owner == connection) plan->parts[i].owner = NO_OWNER;
  int given = LargestRange(*plan, false);
  if (given != NO_RANGE) {
    plan->parts[given].owner = connection;
    return given;
  }
  int largest = LargestRange(*plan, true);
  if (largest == NO_RANGE) return NO_RANGE;
  RangePart& victim = plan->parts[largest];
  long long half = Left(victim) / 2;
  if (half < RANGE_TAKE_OVER_MIN) return NO_RANGE;
  // A slot that no range uses: done and given up by its owner.
  for (int i = 0; i < RANGE_PARTS; ++i) {
    RangePart& part = plan->parts[i];
    if (part.owner != NO_OWNER || Left(part) > 0) continue;
    part.end = victim.end;
    part.next = victim.end = victim.end - half;
    part.owner = connection;
    return i;
  }
  return NO_RANGE;
}

void LeaveRanges(RangePlan* plan, int connection) {
  for (int i = 0; i < RANGE_PARTS; ++i)
    if (plan->parts[i].owner == connection) plan->parts[i].owner = NO_OWNER;
  if (plan->connections > 0) --plan->connections;
}

long long CompletePrefix(const RangePlan& plan) {
  long long prefix = plan.total;
  for (int i = 0; i < RANGE_PARTS; ++i)
    if (Left(plan.parts[i]) > 0 && plan.parts[i].next < prefix) prefix = plan.parts[i].next;
  return prefix;
}

int StatusOfLine(const char* line) {
  if (strncmp(line, "HTTP/", 5) != 0) return 0;
  const char* blank = strchr(line, ' ');
  if (blank == NULL) return 0;
  int status = 0;
  for (int i = 1; i <= 3; ++i) {
    if (blank[i] < '0' || blank[i] > '9') return 0;
    status = status * 10 + (blank[i] - '0');
  }
  return blank[4] == '\0' || blank[4] == ' ' ? status : 0;
}

RangeAnswer JudgeRangeAnswer(const HeadState& answer, const ResumePoint& point, long long first, long long last,
                             const char** why) {
  *why = "";
  if (answer.status == 200) {
    *why = "a 200 answer";
    return RANGE_ANSWER_CHANGED;
  }
  if (answer.status == 503 || answer.status == 429) {
    *why = answer.status == 503 ? "503" : "429";
    return RANGE_ANSWER_BUSY;
  }
  if (answer.status != 206 || !answer.statusSeen) {
    *why = "not a 206 answer";
    return RANGE_ANSWER_WRONG;
  }
  // Either validator that differs: the answer is from another file.
  const char* fault = ValidatorChange(answer, point);
  if (fault != NULL) {
    *why = fault;
    return RANGE_ANSWER_CHANGED;
  }
  fault = HeadRefusal(answer);
  if (fault == NULL) fault = RangeFault(answer, first, last, point.total);
  if (fault == NULL) return RANGE_ANSWER_TAKEN;
  *why = fault;
  return RANGE_ANSWER_WRONG;
}

RangeStep DecideRangeStep(RangeEnd end, int connection, int number) {
  switch (end) {
    case RANGE_END_DONE:
      return RANGE_STEP_NEXT;
    case RANGE_END_CHANGED:
    case RANGE_END_FAILED:
    case RANGE_END_STOPPED:
      return RANGE_STEP_STOP;
    case RANGE_END_WRONG:
      return RANGE_STEP_LEAVE;
    case RANGE_END_BUSY:
    case RANGE_END_NOT_CONNECTED:
      if (connection != 0) return RANGE_STEP_LEAVE;
      break;
    case RANGE_END_BROKEN:
      break;
  }
  return number < DOWNLOAD_TRIES ? RANGE_STEP_AGAIN : RANGE_STEP_LEAVE;
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
