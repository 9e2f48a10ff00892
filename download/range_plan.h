// The plan of a download fetched over several connections at once, in plain
// values: which answers allow it, how the rest is split, what each connection
// fetches next (a range given back first, else the later half of the largest
// range still being fetched), how a range is given back when its connection
// ends, and the prefix of the file that is complete. The engine
// (parallel_ranges.cpp) holds its lock around every call that changes a plan.
#pragma once

#include "download/download_tuning.h"
#include "download/resume_rules.h"

// The shortest length fetched in ranges: below it one connection is as quick.
const long long PARALLEL_MIN_LENGTH = 8LL * 1024 * 1024;
// The smallest half that a connection takes over from another one.
const long long RANGE_TAKE_OVER_MIN = 1024LL * 1024;
// Room for a range per connection and one given back by each that ended.
const int RANGE_PARTS = 2 * MAX_DOWNLOAD_CONNECTIONS;
const int NO_RANGE = -1;
const int NO_OWNER = -1;

// Bytes next to end - 1 of the file are still to come; `owner` is the
// connection that fetches them, NO_OWNER for a range given back (or done).
struct RangePart {
  long long next;
  long long end;
  int owner;
};

struct RangePlan {
  long long total;
  int connections;  // connections still fetching: each holds at most one range
  RangePart parts[RANGE_PARTS];
};

// True when the first answer `first` (accepted, its point started) lets the
// rest come over several connections: a 200 with a length of at least
// PARALLEL_MIN_LENGTH, a strong validator, "Accept-Ranges: bytes", and more
// than one connection allowed.
bool RangesAllowed(const HeadState& first, const ResumePoint& point, int connections);

// Splits `total` bytes into `connections` ranges of equal length (the last
// one takes what the division leaves), range i fetched by connection i.
void SplitRanges(RangePlan* plan, long long total, int connections);

// The range for `connection`, which lets go of the one it held (done): a range given back (the
// largest), else the later half of the largest range still being fetched
// when that half is at least RANGE_TAKE_OVER_MIN. NO_RANGE when there is none.
int TakeNextRange(RangePlan* plan, int connection);

// `connection` ends: the range it holds (if any) goes back to the others, and
// one connection fewer fetches.
void LeaveRanges(RangePlan* plan, int connection);

// The bytes from 0 that are all in the file: up to the first byte that some
// range still has to fetch, the whole length when none has.
long long CompletePrefix(const RangePlan& plan);

// What an answer to a request for bytes first..last (If-Range with the
// point's validator) means.
enum RangeAnswer {
  RANGE_ANSWER_TAKEN,    // a 206 with exactly that range of the same file
  RANGE_ANSWER_BUSY,     // 503 or 429: the server wants fewer connections
  RANGE_ANSWER_WRONG,    // anything else that cannot be used: the range goes back
  RANGE_ANSWER_CHANGED   // a 200 (If-Range saw another file) or another validator
};

// `answer` holds the status number even for a status line that the head
// refused. *why names the fault in the run log's words.
RangeAnswer JudgeRangeAnswer(const HeadState& answer, const ResumePoint& point, long long first, long long last,
                             const char** why);

// The status number of a status line ("HTTP/1.1 503 ..."), 0 when it has none.
int StatusOfLine(const char* line);

// How one request of a connection ended, and what the connection does next.
enum RangeEnd {
  RANGE_END_DONE,           // its range is in the file
  RANGE_END_BROKEN,         // the connection broke or fell silent (head or body)
  RANGE_END_NOT_CONNECTED,  // resolution, connection or sending failed
  RANGE_END_BUSY,           // answered 503 or 429
  RANGE_END_WRONG,          // an answer that cannot be used
  RANGE_END_CHANGED,        // the file changed: the download starts over
  RANGE_END_FAILED,         // the file did not take a write: the download fails
  RANGE_END_STOPPED         // another connection ended the download
};

enum RangeStep {
  RANGE_STEP_NEXT,   // take the next range
  RANGE_STEP_AGAIN,  // ask for the rest of the same range after the pause before try `number` + 1
  RANGE_STEP_LEAVE,  // give the range back; this connection ends
  RANGE_STEP_STOP    // every connection ends
};

// After request `number` (from 1) of `connection` (0 is the first) ended with
// `end`: a break is tried again under the download's retry rules; a busy
// server or a refused connection ends an extra connection (the first one goes
// on, as with a break); a wrong answer gives its range back.
RangeStep DecideRangeStep(RangeEnd end, int connection, int number);

// The end of a whole download that stopped with bytes missing, after `last`
// was the end of the last connection to stop: a changed file starts over, a
// write that failed or wrong answers end it, breaks leave it for a later start.
TryEnd DownloadEndOfRanges(RangeEnd last);
