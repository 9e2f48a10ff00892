#include "http/head.h"

#include <string.h>

#include "http/date.h"
#include "http/redirect.h"

StatusLine ReadStatusLine(const char* line) {
  StatusLine read = {0, false, false, false};
  const char* blank = strncmp(line, "HTTP/", 5) == 0 ? strchr(line, ' ') : NULL;
  if (blank == NULL) return read;
  int status = 0;
  for (int i = 1; i <= 3; ++i) {
    if (blank[i] < '0' || blank[i] > '9') return read;
    status = status * 10 + (blank[i] - '0');
  }
  if (blank[4] != '\0' && blank[4] != ' ') return read;
  read.status = status;
  // The versions taken: "HTTP/1.1" and "HTTP/1.0".
  bool taken = blank == line + 8 && line[5] == '1' && line[6] == '.' && (line[7] == '0' || line[7] == '1');
  read.whole200 = taken && strcmp(blank, " 200 OK") == 0;
  read.partial = taken && status == 206;
  read.redirect = taken && IsFollowedRedirect(status);
  return read;
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
  head->redirectsAllowed = false;
  head->location[0] = '\0';
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

// The value without its trailing blanks; empty when it does not fit `size`
// or holds a control character: a validator that cannot be sent back as it
// came is none, and neither is such a Location.
static void TakeValidator(const char* value, char* validator, size_t size = VALIDATOR_SIZE) {
  size_t length = strlen(value);
  while (length > 0 && (value[length - 1] == ' ' || value[length - 1] == '\t')) --length;
  validator[0] = '\0';
  if (length >= size) return;
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
  StatusLine read = ReadStatusLine(line);
  if (read.whole200)
    head->status = 200;
  else if ((head->partialAllowed && read.partial) || (head->redirectsAllowed && read.redirect))
    head->status = read.status;
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
  } else if ((value = HeaderValue(line, "Location")) != NULL) {
    TakeValidator(value, head->location, sizeof head->location);
  }
  return true;
}

const char* HeadRefusal(const HeadState& head) {
  if (IsFollowedRedirect(head.status)) return NULL;
  // Chunk sizes and the like would be written into the file as if they were its bytes.
  if (head.codingNamed) return "response head refused: a transfer coding is named";
  if (head.lengthRefusal != NULL) return head.lengthRefusal;
  // Either could be the one that tells where the body's bytes belong.
  if (head.rangesDiffer) return "response head refused: two different content ranges";
  // Without a length the body's size is unknown: an empty or cut file would pass for a download.
  if (!head.lengthSeen && head.status != 206) return "no content length in the response head";
  return NULL;
}
