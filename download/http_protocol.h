// The plain-value side of the download client: URL splitting, the request
// text, the response head's lines and the progress arithmetic. The stamping
// tool uses the same functions to check addresses.
#pragma once

#include "download/download_result.h"

const int URL_BUFFER_SIZE = 4096;
const int HOST_BUFFER_SIZE = 1024;
const int PATH_BUFFER_SIZE = 1024;
const int PORT_BUFFER_SIZE = 6;
const int REQUEST_BUFFER_SIZE = 1024;
const int HEAD_LINE_SIZE = 1024;
const int BODY_CHUNK_SIZE = 4096;
// The whole response head, every byte counted (CRs, LFs and the empty line
// that ends it included), may hold this many bytes.
const int HEAD_SIZE_LIMIT = 64 * 1024;
// How long the whole head may take to arrive. Each receive keeps its own
// time-out as well, so a head ends at most one receive time-out past this.
const unsigned HEAD_TIME_LIMIT_MS = 60000;

const char* const DEFAULT_PORT = "80";
const char* const DEFAULT_HTTPS_PORT = "443";

// Splits an 8-bit "http://host[:port]/path" URL into the three buffers (sizes
// above). Returns DOWNLOAD_OK, DOWNLOAD_BAD_SCHEME, DOWNLOAD_NO_PATH, or
// DOWNLOAD_FAILED when a part does not fit; then *refusal names it in English.
int SplitUrl(const char* url, char* host, char* path, char* port, const char** refusal);

// Which client fetches an address.
enum UrlScheme { URL_SCHEME_HTTP, URL_SCHEME_HTTPS };

// True when the URL begins with "https://" (lower case, as "http://" must be).
bool IsHttpsUrl(const char* url);

// SplitUrl for both kinds of address: "http://" (default port 80) and
// "https://" (default port 443), split by the same rules into the same buffers;
// *scheme tells which it was. Every other beginning is DOWNLOAD_BAD_SCHEME.
int SplitDownloadUrl(const char* url, UrlScheme* scheme, char* host, char* path, char* port,
                     const char** refusal);

// The number of a port text made of digits only (leading zeros allowed), from
// 1 to 65535; 0 for any other text, the empty one included.
long PortNumber(const char* port);

// Writes the GET request into `request` (REQUEST_BUFFER_SIZE bytes). Returns its
// length, or -1 when it does not fit.
int BuildRequest(const char* host, const char* path, const char* port, char* request);

// True for the only two status lines accepted, compared whole and case-sensitively.
bool IsAcceptedStatusLine(const char* line);

// True when the answer to a request with a range starts with an acceptable 206
// status line: "HTTP/1.1 206" or "HTTP/1.0 206", then the end or a blank and
// any reason text.
bool IsPartialStatusLine(const char* line);

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
  bool statusSeen;
  int status;           // 200, or 206, once the status line was accepted
  bool lengthSeen;                    // a Content-Length line came
  const char* lengthRefusal;          // why a length cannot be taken, in the run log's words; null while it can
  long long contentLength;            // the length, once seen and not refused
  bool codingNamed;                   // a Transfer-Encoding line came: the body is not the file's bytes as they are
  char etag[VALIDATOR_SIZE];          // the last ETag, trimmed; empty when none
  char lastModified[VALIDATOR_SIZE];  // the last Last-Modified, trimmed; empty when none
  long long date;                     // the last Date, in seconds (http_date.h); HTTP_DATE_NONE when none is read
  bool rangeSeen;                     // a Content-Range header came (valid or not)
  bool rangeValid;                    // ... and `range` holds its value
  bool rangesDiffer;                  // two Content-Range headers were read differently
  ContentRange range;
  bool acceptsByteRanges;             // an "Accept-Ranges: bytes" line came
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
// when it can: a transfer coding named (this client writes the body as it
// comes), a length refused, two different ranges, or no length at all where
// the answer is not a partial one (which gives its size in its range).
const char* HeadRefusal(const HeadState& head);

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

// How many bytes the next body receive asks for: what remains, at most a chunk.
int BodyReceiveSize(long long contentLength, long long received);

// True when a file that holds `held` bytes (0 for a new one) and will hold
// `length` when the body is in has room for them: what it grows by is at most
// `available`, the bytes free on its volume. A file written anew from byte 0
// frees what it held, so both an appended rest and a whole new body need the
// same. A length below `held` always fits; a negative one never does.
bool BodyFitsOnDisk(long long length, long long held, unsigned long long available);

// The largest file that a FAT or FAT32 volume holds: its sizes have 32 bits.
const long long FAT_FILE_SIZE_MAX = 4294967295LL;

enum BodyRoom {
  BODY_ROOM_FITS,
  BODY_ROOM_DISK_FULL,    // more than the free bytes (a negative length too)
  BODY_ROOM_FILE_TOO_LARGE  // larger than any file the volume's file system holds
};

// Whether a file of `length` bytes can be written: no larger than
// `largestFile`, the volume's largest, and growing by no more than
// `available` beyond what it frees, which is `held` (the bytes the open file
// holds) and `replaced` (the bytes of the file it takes the place of, freed
// when it does).
BodyRoom JudgeBodyRoom(long long length, long long held, long long replaced, unsigned long long available,
                       long long largestFile);

// The whole percentage of `received` (0 to `contentLength`) out of
// `contentLength` (which is positive), truncated toward zero: no count
// overflows, and the share is exact to a byte up to 2^53 bytes (8 PiB).
int PercentReceived(long long received, long long contentLength);
