// The response head, in plain values: the status line, the lengths and
// ranges it states, its validators, and what a whole head lets the client do.
#pragma once

const int HEAD_LINE_SIZE = 1024;

// What a status line says.
struct StatusLine {
  int status;     // the number of "HTTP/..." then a blank and three digits that end the line or
                  // are followed by a blank; 0 for a line of any other shape
  bool whole200;  // the line is exactly "HTTP/1.1 200 OK" or "HTTP/1.0 200 OK", the only 200s taken
  bool partial;   // "HTTP/1.1 206" or "HTTP/1.0 206", then the end or a blank and any reason text
  bool redirect;  // the same versions with a redirect that is followed (http/redirect.h)
};

StatusLine ReadStatusLine(const char* line);

// The largest length the client takes, and so the largest number of a
// Content-Range and the largest file it writes: the largest signed 64-bit
// value, so that every count of bytes, position and difference of two of them
// fits the numbers that hold them. Lengths are read as decimal digits, at most
// as many as this value has: a longer run is refused whatever its digits
// (leading zeros included), so that reading stays bounded and no other text
// stands for an accepted value; a larger value is refused too, never clamped.
const long long LENGTH_VALUE_MAX = 9223372036854775807LL;

constexpr int DecimalDigits(long long value) {
  return value < 10 ? 1 : 1 + DecimalDigits(value / 10);
}
const int LENGTH_DIGITS_MAX = DecimalDigits(LENGTH_VALUE_MAX);
static_assert(LENGTH_DIGITS_MAX <= 19, "the value of that many digits fits an unsigned 64-bit number");

// How a Content-Length value reads (RFC 9110 sections 8.6 and 5.6.1).
enum LengthValue {
  LENGTH_VALUE_TAKEN,
  LENGTH_VALUE_NOT_DIGITS,    // empty, a sign, a blank inside, hex, other text, an empty list member
  LENGTH_VALUE_TOO_LARGE,     // more than LENGTH_DIGITS_MAX digits or a value beyond LENGTH_VALUE_MAX
  LENGTH_VALUE_LIST_DIFFERS   // a comma-separated list of different values
};

// A length's text: one or more decimal digits and nothing else, blanks (space
// and tab) allowed around it; or a comma-separated list of such numbers, all
// of one value, which then stands for it. *value is the value when TAKEN, 0
// otherwise.
LengthValue ParseLengthValue(const char* text, long long* value);

// A validator's text (an entity tag or a date) as it is sent back, at most
// VALIDATOR_SIZE - 1 bytes; a longer one is not taken.
const int VALIDATOR_SIZE = 256;

// "bytes first-last/total" from a Content-Range line.
struct ContentRange {
  long long first;
  long long last;
  long long total;
};

// The value of a Content-Range header: "bytes" (any case), a blank, then
// first-last/total, each of 1 to LENGTH_DIGITS_MAX plain decimal digits worth
// at most LENGTH_VALUE_MAX, first <= last < total, nothing after it but
// blanks. False for anything else ("bytes */1000" included).
bool ParseContentRange(const char* value, ContentRange* range);

// What the head has told so far.
struct HeadState {
  bool partialAllowed;  // set by the caller when the request asked for a range: a 206 status line is taken too
  bool redirectsAllowed;  // set by the caller when a redirect may be followed: its status line is taken too
  bool statusSeen;
  int status;           // 200, or 206, once the status line was accepted
  bool lengthSeen;                    // a Content-Length line came
  const char* lengthRefusal;          // why a length cannot be taken, in the run log's words; null while it can
  long long contentLength;            // the length, once seen and not refused
  bool codingNamed;                   // a Transfer-Encoding line came: the body is not the file's bytes as they are
  char etag[VALIDATOR_SIZE];          // the last ETag, trimmed; empty when none
  char lastModified[VALIDATOR_SIZE];  // the last Last-Modified, trimmed; empty when none
  long long date;                     // the last Date, in seconds (http/date.h); HTTP_DATE_NONE when none is read
  bool rangeSeen;                     // a Content-Range header came (valid or not)
  bool rangeValid;                    // ... and `range` holds its value
  bool rangesDiffer;                  // two Content-Range headers were read differently
  ContentRange range;
  bool acceptsByteRanges;             // an "Accept-Ranges: bytes" line came
  char location[HEAD_LINE_SIZE];      // the last Location, trimmed; empty when none
};

void BeginHead(HeadState* head);

// What a line handed to ExamineHeadLine is: a whole line, or a piece of one
// that was cut at HEAD_LINE_SIZE characters (its first piece, or a later one).
enum LinePiece { LINE_WHOLE, LINE_CUT_FIRST, LINE_CUT_REST };

// Takes one line of the head into `head`. False when it is a refused status
// line. Header names are read in any case, directly followed by a colon, and
// blanks around the value are dropped. Content-Length, ETag, Last-Modified,
// Date and Content-Range are taken from whole lines only: a piece of a cut
// line could be any part of a longer value; a length line that was cut
// refuses the length, and a Transfer-Encoding line counts even when cut.
// Length lines that repeat the same number count as one; two different ones
// refuse the length. Two Content-Range lines read differently refuse the head.
bool ExamineHeadLine(HeadState* head, const char* line, LinePiece piece = LINE_WHOLE);

// Why a head that ended whole cannot be taken, in the run log's words; null
// when it can (a redirect always can: its body is not read): a transfer coding named (this client writes the body as it
// comes), a length refused, two different ranges, or no length at all where
// the answer is not a partial one (which gives its size in its range).
const char* HeadRefusal(const HeadState& head);
