#include "download/http_protocol.h"

#include <string.h>

#include "download/download_result.h"
#include "download/http_date.h"

static const char SCHEME[] = "http://";
static const int SCHEME_LENGTH = sizeof SCHEME - 1;

static_assert(PORT_BUFFER_SIZE == 6, "a port text holds at most 5 characters");

static const char HTTPS_SCHEME[] = "https://";
static const int HTTPS_SCHEME_LENGTH = sizeof HTTPS_SCHEME - 1;

// The rules shared by both schemes, for the text behind the scheme's prefix.
static int SplitAfterScheme(const char* url, size_t urlLength, const char* authority, const char* defaultPort,
                            char* host, char* path, char* port, const char** refusal) {
  const char* slash = strchr(authority, '/');
  if (slash == NULL) return DOWNLOAD_NO_PATH;

  size_t authorityLength = (size_t)(slash - authority);
  size_t pathLength = urlLength - (size_t)(slash - url);
  if (authorityLength >= (size_t)HOST_BUFFER_SIZE) {
    *refusal = "host longer than 1023 bytes";
    return DOWNLOAD_FAILED;
  }
  if (pathLength >= (size_t)PATH_BUFFER_SIZE) {
    *refusal = "path longer than 1023 bytes";
    return DOWNLOAD_FAILED;
  }

  const char* colon = (const char*)memchr(authority, ':', authorityLength);
  size_t hostLength = colon != NULL ? (size_t)(colon - authority) : authorityLength;
  const char* portText = defaultPort;
  size_t portLength = strlen(defaultPort);
  if (colon != NULL) {
    portText = colon + 1;
    portLength = authorityLength - hostLength - 1;
  }
  if (portLength >= (size_t)PORT_BUFFER_SIZE) {
    *refusal = "port longer than 5 characters";
    return DOWNLOAD_FAILED;
  }

  memcpy(host, authority, hostLength);
  host[hostLength] = '\0';
  memcpy(path, slash, pathLength);
  path[pathLength] = '\0';
  memcpy(port, portText, portLength);
  port[portLength] = '\0';
  return DOWNLOAD_OK;
}

// Bounded: a longer text is refused without reading further than one byte past the buffer.
static bool FitsUrlBuffer(const char* url, size_t* urlLength, const char** refusal) {
  *refusal = "";
  *urlLength = strnlen(url, URL_BUFFER_SIZE);
  if (*urlLength < (size_t)URL_BUFFER_SIZE) return true;
  *refusal = "url longer than 4095 bytes";
  return false;
}

int SplitUrl(const char* url, char* host, char* path, char* port, const char** refusal) {
  size_t urlLength = 0;
  if (!FitsUrlBuffer(url, &urlLength, refusal)) return DOWNLOAD_FAILED;
  if (strncmp(url, SCHEME, SCHEME_LENGTH) != 0) return DOWNLOAD_BAD_SCHEME;
  return SplitAfterScheme(url, urlLength, url + SCHEME_LENGTH, DEFAULT_PORT, host, path, port, refusal);
}

bool IsHttpsUrl(const char* url) {
  return strncmp(url, HTTPS_SCHEME, HTTPS_SCHEME_LENGTH) == 0;
}

int SplitDownloadUrl(const char* url, UrlScheme* scheme, char* host, char* path, char* port,
                     const char** refusal) {
  *scheme = URL_SCHEME_HTTP;
  if (!IsHttpsUrl(url)) return SplitUrl(url, host, path, port, refusal);
  size_t urlLength = 0;
  if (!FitsUrlBuffer(url, &urlLength, refusal)) return DOWNLOAD_FAILED;
  *scheme = URL_SCHEME_HTTPS;
  return SplitAfterScheme(url, urlLength, url + HTTPS_SCHEME_LENGTH, DEFAULT_HTTPS_PORT, host, path, port,
                          refusal);
}

long PortNumber(const char* port) {
  if (*port == '\0') return 0;
  long value = 0;
  for (const char* c = port; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    value = value * 10 + (*c - '0');
    if (value > 65535) return 0;
  }
  return value;
}

// Appends `text` at *length when it fits below `capacity` (leaving the terminator's byte).
static bool Append(char* buffer, int capacity, int* length, const char* text) {
  size_t textLength = strlen(text);
  if (textLength >= (size_t)(capacity - *length)) return false;
  memcpy(buffer + *length, text, textLength);
  *length += (int)textLength;
  buffer[*length] = '\0';
  return true;
}

int BuildRequest(const char* host, const char* path, const char* port, char* request) {
  int length = 0;
  request[0] = '\0';
  bool fits = Append(request, REQUEST_BUFFER_SIZE, &length, "GET ") &&
              Append(request, REQUEST_BUFFER_SIZE, &length, path) &&
              Append(request, REQUEST_BUFFER_SIZE, &length, " HTTP/1.1\r\nHost: ") &&
              Append(request, REQUEST_BUFFER_SIZE, &length, host);
  // The default port is left out of the Host line; "080" is not the text "80" and stays.
  if (fits && strcmp(port, DEFAULT_PORT) != 0)
    fits = Append(request, REQUEST_BUFFER_SIZE, &length, ":") &&
           Append(request, REQUEST_BUFFER_SIZE, &length, port);
  if (fits) fits = Append(request, REQUEST_BUFFER_SIZE, &length, "\r\n\r\n");
  if (!fits) {
    request[0] = '\0';
    return -1;
  }
  return length;
}

bool IsAcceptedStatusLine(const char* line) {
  return strcmp(line, "HTTP/1.1 200 OK") == 0 || strcmp(line, "HTTP/1.0 200 OK") == 0;
}

bool IsPartialStatusLine(const char* line) {
  if (strncmp(line, "HTTP/1.1 206", 12) != 0 && strncmp(line, "HTTP/1.0 206", 12) != 0) return false;
  return line[12] == '\0' || line[12] == ' ';
}

// A run of decimal digits at *text, moved behind it: at most
// LENGTH_DIGITS_MAX of them, worth at most LENGTH_VALUE_MAX. False for a
// longer run (stopped one digit past the limit) or a larger value. No digits
// give 0.
static bool ReadLengthDigits(const char** text, long long* value) {
  const char* p = *text;
  unsigned long long number = 0;
  for (int digits = 0; *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (digits == LENGTH_DIGITS_MAX) return false;
    number = number * 10 + static_cast<unsigned>(*p - '0');
  }
  if (number > static_cast<unsigned long long>(LENGTH_VALUE_MAX)) return false;
  *value = static_cast<long long>(number);
  *text = p;
  return true;
}

static const char* SkipBlanks(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

LengthValue ParseLengthValue(const char* text, long long* value) {
  LengthValue read = LENGTH_VALUE_TAKEN;
  long long first = -1;
  *value = 0;
  // Each member takes at least one digit: the loop ends within the text.
  for (const char* p = SkipBlanks(text);; p = SkipBlanks(p + 1)) {
    long long member = 0;
    if (*p < '0' || *p > '9') return LENGTH_VALUE_NOT_DIGITS;
    if (!ReadLengthDigits(&p, &member)) return LENGTH_VALUE_TOO_LARGE;
    if (first >= 0 && member != first) read = LENGTH_VALUE_LIST_DIFFERS;
    if (first < 0) first = member;
    p = SkipBlanks(p);
    if (*p == '\0') break;
    if (*p != ',') return LENGTH_VALUE_NOT_DIGITS;
  }
  if (read == LENGTH_VALUE_TAKEN) *value = first;
  return read;
}

static char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// One to LENGTH_DIGITS_MAX digits; *text moves behind them.
static bool ParseDecimal(const char** text, long long* value) {
  return **text >= '0' && **text <= '9' && ReadLengthDigits(text, value);
}

// "bytes" in any case at *text, moved behind it.
static bool SkipBytesUnit(const char** text) {
  for (const char* unit = "bytes"; *unit != '\0'; ++unit, ++*text)
    if (Lower(**text) != *unit) return false;
  return true;
}

// An Accept-Ranges value of the byte unit alone, trailing blanks allowed.
static bool IsBytesUnit(const char* value) {
  return SkipBytesUnit(&value) && *SkipBlanks(value) == '\0';
}

bool ParseContentRange(const char* value, ContentRange* range) {
  const char* p = value;
  if (!SkipBytesUnit(&p) || *p != ' ') return false;
  while (*p == ' ') ++p;
  if (!ParseDecimal(&p, &range->first) || *p++ != '-') return false;
  if (!ParseDecimal(&p, &range->last) || *p++ != '/') return false;
  if (!ParseDecimal(&p, &range->total)) return false;
  return *SkipBlanks(p) == '\0' && range->first <= range->last && range->last < range->total;
}

void BeginHead(HeadState* head) {
  head->partialAllowed = false;
  head->statusSeen = false;
  head->status = 0;
  head->lengthSeen = false;
  head->lengthRefusal = NULL;
  head->contentLength = 0;
  head->codingNamed = false;
  head->etag[0] = '\0';
  head->lastModified[0] = '\0';
  head->date = HTTP_DATE_NONE;
  head->rangeSeen = false;
  head->rangeValid = false;
  head->rangesDiffer = false;
  head->range.first = head->range.last = head->range.total = 0;
  head->acceptsByteRanges = false;
}

// The value of the header `name` (any case) in `line`, blanks after the colon
// skipped; null when the line is another one.
static const char* HeaderValue(const char* line, const char* name) {
  for (; *name != '\0'; ++name, ++line)
    if (Lower(*line) != Lower(*name)) return NULL;
  if (*line != ':') return NULL;
  ++line;
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

// The value without its trailing blanks; empty when it does not fit or holds a
// control character: a validator that cannot be sent back as it came is none.
static void TakeValidator(const char* value, char* validator) {
  size_t length = strlen(value);
  while (length > 0 && (value[length - 1] == ' ' || value[length - 1] == '\t')) --length;
  validator[0] = '\0';
  if (length >= static_cast<size_t>(VALIDATOR_SIZE)) return;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return;
  }
  memcpy(validator, value, length);
  validator[length] = '\0';
}

// A Content-Length line's value, the line whole or not. The first fault wins.
static void TakeLength(HeadState* head, const char* value, bool whole) {
  long long length = 0;
  const char* refusal = NULL;
  LengthValue read = whole ? ParseLengthValue(value, &length) : LENGTH_VALUE_TAKEN;
  if (!whole)
    refusal = "content length refused: its line is cut";
  else if (read == LENGTH_VALUE_NOT_DIGITS)
    refusal = "content length refused: not a decimal number";
  else if (read == LENGTH_VALUE_TOO_LARGE)
    refusal = "content length refused: more digits or a larger value than a length may have";
  else if (read == LENGTH_VALUE_LIST_DIFFERS || (head->lengthSeen && length != head->contentLength))
    refusal = "content length refused: two different values";
  if (head->lengthRefusal == NULL) head->lengthRefusal = refusal;
  head->contentLength = head->lengthRefusal == NULL ? length : 0;
  head->lengthSeen = true;
}

// A Content-Range line's value: a second one must read as the first did.
static void TakeRange(HeadState* head, const char* value) {
  ContentRange range = {0, 0, 0};
  bool valid = ParseContentRange(value, &range);
  bool same = valid == head->rangeValid && (!valid || (range.first == head->range.first &&
                                                       range.last == head->range.last && range.total == head->range.total));
  if (head->rangeSeen && !same) head->rangesDiffer = true;
  head->rangeSeen = true;
  head->rangeValid = valid;
  head->range = range;
}

// The status line, the first line of the head (or the first piece of it).
static bool TakeStatusLine(HeadState* head, const char* line) {
  if (IsAcceptedStatusLine(line))
    head->status = 200;
  else if (head->partialAllowed && IsPartialStatusLine(line))
    head->status = 206;
  else
    return false;
  head->statusSeen = true;
  return true;
}

bool ExamineHeadLine(HeadState* head, const char* line, LinePiece piece) {
  if (!head->statusSeen) return TakeStatusLine(head, line);
  if (piece == LINE_CUT_REST) return true;
  const char* value = NULL;
  if ((value = HeaderValue(line, "Content-Length")) != NULL) {
    TakeLength(head, value, piece == LINE_WHOLE);
  } else if (HeaderValue(line, "Transfer-Encoding") != NULL) {
    head->codingNamed = true;
  } else if (piece != LINE_WHOLE) {
    return true;
  } else if ((value = HeaderValue(line, "ETag")) != NULL) {
    TakeValidator(value, head->etag);
  } else if ((value = HeaderValue(line, "Last-Modified")) != NULL) {
    TakeValidator(value, head->lastModified);
  } else if ((value = HeaderValue(line, "Date")) != NULL) {
    head->date = ParseHttpDate(value);
  } else if ((value = HeaderValue(line, "Content-Range")) != NULL) {
    TakeRange(head, value);
  } else if ((value = HeaderValue(line, "Accept-Ranges")) != NULL) {
    head->acceptsByteRanges = IsBytesUnit(value);
  }
  return true;
}

const char* HeadRefusal(const HeadState& head) {
  // Chunk sizes and the like would be written into the file as if they were its bytes.
  if (head.codingNamed) return "response head refused: a transfer coding is named";
  if (head.lengthRefusal != NULL) return head.lengthRefusal;
  // Either could be the one that tells where the body's bytes belong.
  if (head.rangesDiffer) return "response head refused: two different content ranges";
  // Without a length the body's size is unknown: an empty or cut file would pass for a download.
  if (!head.lengthSeen && head.status != 206) return "no content length in the response head";
  return NULL;
}

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

int BodyReceiveSize(long long contentLength, long long received) {
  long long remaining = contentLength - received;
  return remaining < BODY_CHUNK_SIZE ? static_cast<int>(remaining) : BODY_CHUNK_SIZE;
}

bool BodyFitsOnDisk(long long length, long long held, unsigned long long available) {
  // Compared first: a negative length less a large count would overflow.
  return length >= 0 && (length <= held || static_cast<unsigned long long>(length - held) <= available);
}

BodyRoom JudgeBodyRoom(long long length, long long held, long long replaced, unsigned long long available,
                       long long largestFile) {
  if (length > largestFile) return BODY_ROOM_FILE_TOO_LARGE;
  // Added without overflow: what a replaced file frees counts as free bytes.
  if (replaced > 0) available = available > ~0ULL - replaced ? ~0ULL : available + replaced;
  return BodyFitsOnDisk(length, held, available) ? BODY_ROOM_FITS : BODY_ROOM_DISK_FULL;
}

int PercentReceived(long long received, long long contentLength) {
  // Each step goes through a double in memory: the x87 unit would otherwise
  // truncate its wider intermediate (29 of 100 would report 28).
  volatile double share = static_cast<double>(received) / static_cast<double>(contentLength);
  volatile double percent = share * 100.0;
  return static_cast<int>(percent);
}
