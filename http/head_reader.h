// The response head read a byte at a time within a budget of bytes and time,
// in plain values: the clients hand in what they receive.
#pragma once

#include "http/head.h"

// The whole response head, every byte counted (CRs, LFs and the empty line
// that ends it included), may hold this many bytes.
const int HEAD_SIZE_LIMIT = 64 * 1024;
// How long the whole head may take to arrive. Each receive keeps its own
// time-out as well, so a head ends at most one receive time-out past this.
const unsigned HEAD_TIME_LIMIT_MS = 60000;

// What reading the head may still spend: a hostile server that drips bytes, or
// sends lines without end, is cut off instead of holding the download for ever.
struct HeadBudget {
  int bytesLeft;
  unsigned startTick;
  unsigned timeLimitMs;
};

enum HeadSpend { HEAD_SPEND_OK, HEAD_SPEND_TOO_LONG, HEAD_SPEND_TOO_SLOW };

void BeginHeadBudget(HeadBudget* budget, int sizeLimit, unsigned startTick, unsigned timeLimitMs);

// Counts one received head byte at millisecond tick `nowTick` (a counter that
// may wrap). TOO_LONG for the first byte past the size limit, TOO_SLOW once
// more than the time limit has passed since the start.
HeadSpend SpendHeadByte(HeadBudget* budget, unsigned nowTick);

// The response head read a byte at a time: lines end at LF, every CR is
// dropped, a line longer than HEAD_LINE_SIZE is examined in pieces of that
// size, each line (or piece) is examined as it ends, and every byte is spent
// from the head's budget before it is looked at. A NUL byte refuses the head:
// no server sends one, and a line read as text would end early at it.
struct HeadReader {
  char line[HEAD_LINE_SIZE + 1];  // the line being read, then a guard byte that stays zero
  int length;                     // characters of the line read so far
  bool pieceWasCut;               // the last line examined was a piece cut at HEAD_LINE_SIZE
  HeadState head;
  HeadBudget budget;
};

enum HeadRead {
  HEAD_READ_MORE,      // the head goes on: hand in the next byte
  HEAD_READ_ENDED,     // the empty line ended it
  HEAD_READ_REFUSED,   // the status line, in `line`, is refused
  HEAD_READ_TOO_LONG,  // a byte past the size limit came
  HEAD_READ_TOO_SLOW,  // a byte came past the time limit
  HEAD_READ_ERROR,     // a receive failed (said by the code that receives, never by the reader)
  HEAD_READ_CUT,       // the connection ended before the empty line: whatever came is no whole head
  HEAD_READ_NUL_BYTE   // a NUL byte came inside the head; `line` holds its line up to it
};

void BeginHeadReader(HeadReader* reader, int sizeLimit, unsigned startTick, unsigned timeLimitMs);

// Takes the next byte of the head, received at millisecond tick `nowTick`.
HeadRead ReadHeadByte(HeadReader* reader, char byte, unsigned nowTick);

// The connection closed: the line read so far is examined (a refused status
// line stays refused); otherwise the head was cut.
HeadRead CloseHead(HeadReader* reader);
