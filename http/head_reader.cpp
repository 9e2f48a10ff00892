#include "http/head_reader.h"

void BeginHeadBudget(HeadBudget* budget, int sizeLimit, unsigned startTick, unsigned timeLimitMs) {
  budget->bytesLeft = sizeLimit;
  budget->startTick = startTick;
  budget->timeLimitMs = timeLimitMs;
}

HeadSpend SpendHeadByte(HeadBudget* budget, unsigned nowTick) {
  if (budget->bytesLeft <= 0) return HEAD_SPEND_TOO_LONG;
  --budget->bytesLeft;
  // Unsigned difference: right across the tick counter's wrap.
  if (nowTick - budget->startTick > budget->timeLimitMs) return HEAD_SPEND_TOO_SLOW;
  return HEAD_SPEND_OK;
}

void BeginHeadReader(HeadReader* reader, int sizeLimit, unsigned startTick, unsigned timeLimitMs) {
  reader->line[0] = '\0';
  reader->line[HEAD_LINE_SIZE] = '\0';  // the guard: a piece of HEAD_LINE_SIZE characters stays terminated
  reader->length = 0;
  reader->pieceWasCut = false;
  BeginHead(&reader->head);
  BeginHeadBudget(&reader->budget, sizeLimit, startTick, timeLimitMs);
}

// The line read so far ends (at its LF, at the cut, or at the connection's end).
static HeadRead EndHeadLine(HeadReader* reader) {
  int length = reader->length;
  bool continuation = reader->pieceWasCut;
  reader->length = 0;
  if (length < HEAD_LINE_SIZE) reader->line[length] = '\0';
  // A piece cut at HEAD_LINE_SIZE characters whose line ends right behind it
  // leaves an empty rest: that is not the empty line that ends the head, or the
  // rest of the head would be taken for the body.
  if (length == 0 && continuation) {
    reader->pieceWasCut = false;
    return HEAD_READ_MORE;
  }
  if (length == 0) return HEAD_READ_ENDED;
  reader->pieceWasCut = length == HEAD_LINE_SIZE;
  LinePiece piece = continuation ? LINE_CUT_REST : reader->pieceWasCut ? LINE_CUT_FIRST : LINE_WHOLE;
  return ExamineHeadLine(&reader->head, reader->line, piece) ? HEAD_READ_MORE : HEAD_READ_REFUSED;
}

HeadRead ReadHeadByte(HeadReader* reader, char byte, unsigned nowTick) {
  // Every byte counts, CRs too: a line of nothing but CRs never fills the buffer.
  HeadSpend spent = SpendHeadByte(&reader->budget, nowTick);
  if (spent == HEAD_SPEND_TOO_LONG) return HEAD_READ_TOO_LONG;
  if (spent == HEAD_SPEND_TOO_SLOW) return HEAD_READ_TOO_SLOW;
  if (byte == '\0') {
    reader->line[reader->length] = '\0';  // below HEAD_LINE_SIZE: a full line was examined at its last byte
    return HEAD_READ_NUL_BYTE;
  }
  if (byte == '\n') return EndHeadLine(reader);
  if (byte != '\r') reader->line[reader->length++] = byte;
  return reader->length == HEAD_LINE_SIZE ? EndHeadLine(reader) : HEAD_READ_MORE;
}

HeadRead CloseHead(HeadReader* reader) {
  // Only an empty line ends a head: without it the rest of the head, or the
  // whole of it, is missing, and a body taken now could begin with head lines.
  if (reader->length > 0 && EndHeadLine(reader) == HEAD_READ_REFUSED) return HEAD_READ_REFUSED;
  return HEAD_READ_CUT;
}
