#include "http/resume_rules.h"

#include <string.h>

#include "http/date.h"

bool IsStrongDate(long long lastModified, long long date) {
  // A date read is never negative: a Date that was not read (-1) is never 60 s later.
  return lastModified != HTTP_DATE_NONE && date - lastModified >= STRONG_DATE_SECONDS;
}

void ChooseValidator(const HeadState& head, Validator* validator) {
  validator->kind = VALIDATOR_NONE;
  validator->text[0] = '\0';
  const char* text = NULL;
  if (head.etag[0] != '\0' && strncmp(head.etag, "W/", 2) != 0) {
    validator->kind = VALIDATOR_ETAG;
    text = head.etag;
  } else if (IsStrongDate(ParseHttpDate(head.lastModified), head.date)) {
    validator->kind = VALIDATOR_LAST_MODIFIED;
    text = head.lastModified;
  }
  // Both texts are shorter than VALIDATOR_SIZE: the head reader takes no longer one.
  if (text != NULL) strcpy(validator->text, text);
}

void BeginResumePoint(ResumePoint* point) {
  point->validator.kind = VALIDATOR_NONE;
  point->validator.text[0] = '\0';
  point->etag[0] = '\0';
  point->lastModified[0] = '\0';
  point->kept = 0;
  point->total = 0;
}

void StartResumePoint(const HeadState& first, ResumePoint* point) {
  ChooseValidator(first, &point->validator);
  // Both shorter than VALIDATOR_SIZE: the head reader takes no longer one.
  strcpy(point->etag, first.etag);
  strcpy(point->lastModified, first.lastModified);
  point->kept = 0;
  point->total = first.contentLength;
}

bool CanContinue(const ResumePoint& point) {
  return point.validator.kind != VALIDATOR_NONE && point.kept > 0 && point.kept < point.total;
}

// Appends `text` at *length when it fits below `size`, the terminator included.
static bool AppendText(char* buffer, int size, int* length, const char* text) {
  size_t textLength = strlen(text);
  if (*length < 0 || textLength >= static_cast<size_t>(size - *length)) return false;
  memcpy(buffer + *length, text, textLength + 1);
  *length += static_cast<int>(textLength);
  return true;
}

// The decimal digits of a non-negative number, by subtracting powers of ten:
// no printf (its code would cost the exe room), and no 64-bit division, which
// a 32-bit build takes from a library.
static void FormatDecimal(long long value, char digits[LENGTH_DIGITS_MAX + 1]) {
  unsigned long long rest = static_cast<unsigned long long>(value);
  int count = 0;
  for (int exponent = LENGTH_DIGITS_MAX - 1; exponent >= 0; --exponent) {
    unsigned long long power = 1;
    for (int i = 0; i < exponent; ++i) power *= 10;
    char digit = '0';
    for (; rest >= power; rest -= power) ++digit;
    if (digit != '0' || count > 0 || exponent == 0) digits[count++] = digit;
  }
  digits[count] = '\0';
}

int BuildRangeHeaders(long long first, long long last, const Validator& validator, char* headers, int size) {
  char from[LENGTH_DIGITS_MAX + 1];
  char to[LENGTH_DIGITS_MAX + 1];
  int length = 0;
  FormatDecimal(first, from);
  to[0] = '\0';
  if (last >= 0) FormatDecimal(last, to);
  if (size <= 0) return -1;
  headers[0] = '\0';
  bool fits = AppendText(headers, size, &length, "Range: bytes=") && AppendText(headers, size, &length, from) &&
              AppendText(headers, size, &length, "-") && AppendText(headers, size, &length, to) &&
              AppendText(headers, size, &length, "\r\nIf-Range: ") &&
              AppendText(headers, size, &length, validator.text) && AppendText(headers, size, &length, "\r\n");
  if (fits) return length;
  headers[0] = '\0';
  return -1;
}

int BuildResumeHeaders(const ResumePoint& point, char* headers, int size) {
  return BuildRangeHeaders(point.kept, -1, point.validator, headers, size);
}

int RangeRequest(const char* request, int length, long long first, long long last, const Validator& validator,
                 char* ranged) {
  ranged[0] = '\0';
  if (length < 2 || length >= REQUEST_BUFFER_SIZE) return -1;
  // The lines go in before the empty line that ends the first request.
  int end = length - 2;
  memcpy(ranged, request, end);
  ranged[end] = '\0';
  int added = BuildRangeHeaders(first, last, validator, ranged + end, RESUME_REQUEST_BUFFER_SIZE - end);
  if (added >= 0) end += added;
  if (added < 0 || !AppendText(ranged, RESUME_REQUEST_BUFFER_SIZE, &end, "\r\n")) {
    ranged[0] = '\0';
    return -1;
  }
  return end;
}

int ContinueRequest(const char* request, int length, const ResumePoint& point, char* continued) {
  return RangeRequest(request, length, point.kept, -1, point.validator, continued);
}

int BuildResumeRequest(const char* host, const char* path, const char* port, const ResumePoint& point,
                       char* request) {
  char first[REQUEST_BUFFER_SIZE];
  int length = BuildRequest(host, path, port, first);
  if (length < 0) {
    request[0] = '\0';
    return -1;
  }
  return ContinueRequest(first, length, point, request);
}

const char* ValidatorChange(const HeadState& answer, const ResumePoint& point) {
  if (answer.etag[0] != '\0' && strcmp(answer.etag, point.etag) != 0) return "the etag changed";
  if (answer.lastModified[0] != '\0' && strcmp(answer.lastModified, point.lastModified) != 0)
    return "the last-modified date changed";
  return NULL;
}

const char* RangeFault(const HeadState& answer, long long first, long long last, long long total) {
  const ContentRange& range = answer.range;
  if (!answer.rangeValid) return answer.rangeSeen ? "content-range not understood" : "no content-range";
  if (range.first != first) return "content-range does not start at the byte asked for";
  if (range.total != total || range.last != last)
    return "content-range does not end at the byte asked for of the first answer's length";
  if (answer.lengthSeen && answer.contentLength != last - first + 1)
    return "content length does not match the content-range";
  return NULL;
}

ResumeAnswer JudgeResumeAnswer(const HeadState& answer, const ResumePoint& point, const char** why) {
  *why = "";
  if (answer.status == 200) return RESUME_START_OVER;
  if (answer.status != 206) {
    *why = "not a 200 or 206 answer";
    return RESUME_REFUSED;
  }
  // A server that ignored If-Range, or whose file changed, would send the rest of another file.
  const char* fault = ValidatorChange(answer, point);
  if (fault != NULL) {
    *why = fault;
    return RESUME_CHANGED;
  }
  fault = RangeFault(answer, point.kept, point.total - 1, point.total);
  if (fault == NULL) return RESUME_APPEND;
  *why = fault;
  return RESUME_REFUSED;
}

AfterTry DecideAfterTry(TryEnd end, int number) {
  switch (end) {
    case TRY_COMPLETE:
      return AFTER_TRY_DONE;
    case TRY_REFUSED:
      return AFTER_TRY_FAIL;
    case TRY_NOT_CONNECTED:
    case TRY_HEAD_CUT:
      if (number <= 1) return AFTER_TRY_FAIL;
      break;
    case TRY_BROKEN:
    case TRY_CHANGED:
      break;
  }
  return number < DOWNLOAD_TRIES ? AFTER_TRY_AGAIN : AFTER_TRY_FAIL;
}

bool KeepPartialFile(const ResumePoint& point, TryEnd lastEnd) {
  return CanContinue(point) && lastEnd != TRY_REFUSED && lastEnd != TRY_COMPLETE;
}

unsigned NextRandom(unsigned* state) {
  unsigned x = *state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x;
}

unsigned RetryPauseMs(int number, unsigned random, unsigned percent) {
  if (number < 2) return 0;
  if (number > DOWNLOAD_TRIES) number = DOWNLOAD_TRIES;
  unsigned base = 1000u << (number - 2);
  unsigned spread = base * 3 / 4 + random % (base / 2 + 1);
  // At most 10,000 ms: the product of the two fits in 32 bits for any percent up to 400,000.
  if (percent > 400000u) percent = 400000u;
  return spread * percent / 100;
}

DownloadRoad ChooseDownloadRoad(UrlScheme scheme, bool proxyNamed) {
  return scheme == SCHEME_HTTPS || proxyNamed ? ROAD_WINHTTP : ROAD_WINSOCK;
}
