// The plan of a download fetched over several connections at once, in plain
// values: which answers allow it, which bytes each connection asks for next,
// when an answer's range becomes a connection's own (when its head is taken,
// not when it is asked for), where a stream that runs on goes next, how a
// range goes back when its connection ends, what a connection does after a
// request, and the prefix of the file that is complete. The engine
// (download/parallel_ranges.cpp) holds its lock around every call that changes a plan.
#pragma once

#include "http/resume_rules.h"

// The most connections that one download may be given (the configuration's
// "app.connections"); 1 is the single connection of every download so far.
const int MAX_DOWNLOAD_CONNECTIONS = 8;

// The shortest length fetched in ranges: below it one connection is as quick.
const long long PARALLEL_MIN_LENGTH = 8LL * 1024 * 1024;
// The smallest half that a connection asks for of another one's range.
const long long RANGE_TAKE_OVER_MIN = 1024LL * 1024;
// Room for a range per connection and the ones split off or given back meanwhile.
const int RANGE_PARTS = 4 * MAX_DOWNLOAD_CONNECTIONS;
const int NO_RANGE = -1;
const int FULL_PLAN = -2;  // a claim found no room for one more range
const int NO_OWNER = -1;
// The first byte of an ask that is the first request as it is, without a Range.
const long long PLAIN_ASK = -1;

// Bytes next to end - 1 of the file are still to come; `owner` is the
// connection that writes them, NO_OWNER for a range given back (or done).
struct RangePart {
  long long next;
  long long end;
  int owner;
};

// Bytes first..last that a connection has asked for and whose answer is not
// judged yet: no other connection asks for them meanwhile. None: last < first.
struct RangeAsk {
  long long first;
  long long last;
};

struct RangePlan {
  long long total;
  int connections;  // connections still going: each holds at most one range
  bool worked;      // a 206 was taken: ranges work on this server
  bool off;         // an ask failed before any 206: no more asks, connection 0 reads its 200 on alone
  bool plain;       // the last connection fetches what is missing with the first request, no Range
  RangePart parts[RANGE_PARTS];
  RangeAsk asks[MAX_DOWNLOAD_CONNECTIONS];
};

// True when the first answer `first` (accepted, its point started) lets the
// rest come over several connections: a 200 with a length of at least
// PARALLEL_MIN_LENGTH, a strong validator, "Accept-Ranges: bytes", and more
// than one connection allowed.
bool RangesAllowed(const HeadState& first, const ResumePoint& point, int connections);

// The plan of `total` bytes for `connections` connections: connection 0 owns
// them all (its 200 comes from byte 0), each further connection i asks for
// the i-th of as many equal shares (the last one takes what the division leaves).
void BeginRangePlan(RangePlan* plan, long long total, int connections);

// What `connection` (holding no range now) asks for next, into *ask and
// recorded as its pending ask: the largest run of bytes that no connection
// fetches or has asked for, else the later half of the largest run that a
// connection is fetching, when that half is at least RANGE_TAKE_OVER_MIN;
// after a fall-back to the first request, PLAIN_ASK while bytes are missing.
// False when there is nothing to ask for, or ranges are off.
bool NextAsk(RangePlan* plan, int connection, RangeAsk* ask);

// The accepted answer of `connection` begins at byte `first`: the range that
// holds that byte is split there and its rest becomes this connection's (its
// owner, if any, stops at the split). Its index; NO_RANGE when ranges are off
// or the byte is no longer to come (fetched meanwhile); FULL_PLAN when there
// is no room for the split.
int ClaimRange(RangePlan* plan, int connection, long long first);

// A stream of `connection`, whose range is done, goes on at byte `at`: the
// range nobody owns that begins there becomes its own (after a fall-back to
// the first request: the first such range at or after `at`, the bytes before
// it skipped). Its index, or NO_RANGE.
int FollowStream(RangePlan* plan, int connection, long long at);

// The range of `connection` (if any) goes back to the others, its pending ask too.
void GiveBack(RangePlan* plan, int connection);

// `connection` ends: GiveBack, and one connection fewer goes on.
void LeaveRanges(RangePlan* plan, int connection);

// The bytes from 0 that are all in the file: up to the first byte that some
// range still has to fetch, the whole length when none has.
long long CompletePrefix(const RangePlan& plan);

// What an answer to `ask` (If-Range with the point's validator) means.
enum RangeAnswer {
  RANGE_ANSWER_TAKEN,    // a 206 from the byte asked for to at least the last one, of the same file; or,
                         // to the first request, a 200 of the same length and validators
  RANGE_ANSWER_BUSY,     // 503 or 429: the server wants fewer connections
  RANGE_ANSWER_WRONG,    // anything else that cannot be used
  RANGE_ANSWER_CHANGED   // a 200 to a range (If-Range saw another file) or another validator
};

// `answer` holds the status number even for a status line that the head
// refused. *why names the fault in the run log's words.
RangeAnswer JudgeRangeAnswer(const HeadState& answer, const ResumePoint& point, const RangeAsk& ask,
                             const char** why);


// How one request of a connection ended.
enum RangeEnd {
  RANGE_END_DONE,           // its stream ended where its range did, or its range is in the file
  RANGE_END_BROKEN,         // the connection broke or fell silent (head or body)
  RANGE_END_NOT_CONNECTED,  // resolution, connection or sending failed
  RANGE_END_BUSY,           // answered 503 or 429
  RANGE_END_WRONG,          // an answer that cannot be used
  RANGE_END_CHANGED,        // the file changed: the download starts over
  RANGE_END_FAILED,         // the file did not take a write: the download fails
  RANGE_END_STOPPED         // the download stopped, or ranges were switched off
};

enum RangeStep {
  RANGE_STEP_ASK,    // ask for the next range
  RANGE_STEP_RETRY,  // take the download's next try, pause, then ask
  RANGE_STEP_PLAIN,  // the last connection asks with the first request, no Range, for what is missing
  RANGE_STEP_LEAVE,  // this connection ends; its range goes back
  RANGE_STEP_OFF,    // ranges do not work here: this connection ends, connection 0 reads its 200 on alone
  RANGE_STEP_STOP    // every connection ends
};

// After a request of `connection` ended with `end`, the download at try
// `number`: before any 206 every failure switches ranges off; after, a break
// costs a try, a busy server or a failed connection ends the connection while
// others remain (the last one tries again), and an answer that cannot be used
// ends it while others remain (the last one falls back to the first request).
RangeStep DecideRangeStep(RangeEnd end, const RangePlan& plan, int number);

// How a try ends whose first request ended with `end` (not RANGE_END_DONE)
// before its body, or with a head whose status line was refused: not
// connected, a head cut off, or refused.
TryEnd TryEndOfAsk(RangeEnd end);

// The end of a whole download that stopped with bytes missing, after `last`
// was the end of the last connection to stop: a changed file starts over, a
// write that failed or answers that cannot be used end it, breaks leave it
// for the tries that remain and a later start.
TryEnd DownloadEndOfRanges(RangeEnd last);
