#include "download/resume_rules.h"

#include <string.h>

void ChooseValidator(const HeadState& head, Validator* validator) {
  validator->kind = VALIDATOR_NONE;
  validator->text[0] = '\0';
  const char* text = NULL;
  if (head.etag[0] != '\0' && strncmp(head.etag, "W/", 2) != 0) {
    validator->kind = VALIDATOR_ETAG;
    text = head.etag;
  } else if (head.lastModified[0] != '\0') {
    validator->kind = VALIDATOR_LAST_MODIFIED;
    text = head.lastModified;
  }
  // Both texts are shorter than VALIDATOR_SIZE: the head reader takes no longer one.
  if (text != NULL) strcpy(validator->text, text);
}

void BeginResumePoint(ResumePoint* point) {
  point->validator.kind = VALIDATOR_NONE;
  point->validator.text[0] = '\0';
  point->kept = 0;
  point->total = 0;
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

// The decimal digits of a non-negative number (no printf: its code would cost the exe room).
static void FormatDecimal(int value, char digits[12]) {
  char reversed[12];
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && count < 11);
  for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  digits[count] = '\0';
}

int BuildResumeHeaders(const ResumePoint& point, char* headers, int size) {
  char offset[12];
  int length = 0;
  FormatDecimal(point.kept, offset);
  if (size <= 0) return -1;
  headers[0] = '\0';
  bool fits = AppendText(headers, size, &length, "Range: bytes=") && AppendText(headers, size, &length, offset) &&
              AppendText(headers, size, &length, "-\r\nIf-Range: ") &&
              AppendText(headers, size, &length, point.validator.text) && AppendText(headers, size, &length, "\r\n");
  return fits ? length : -1;
}

int ContinueRequest(const char* request, int length, const ResumePoint& point, char* continued) {
  continued[0] = '\0';
  if (length < 2 || length >= REQUEST_BUFFER_SIZE) return -1;
  // The lines go in before the empty line that ends the first request.
  int end = length - 2;
  memcpy(continued, request, end);
  continued[end] = '\0';
  int added = BuildResumeHeaders(point, continued + end, RESUME_REQUEST_BUFFER_SIZE - end);
  if (added >= 0) end += added;
  if (added < 0 || !AppendText(continued, RESUME_REQUEST_BUFFER_SIZE, &end, "\r\n")) {
    continued[0] = '\0';
    return -1;
  }
  return end;
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

ResumeAnswer JudgeResumeAnswer(const HeadState& answer, const ResumePoint& point, const char** why) {
  *why = "";
  if (answer.status == 200) return RESUME_START_OVER;
  if (answer.status != 206) {
    *why = "not a 200 or 206 answer";
    return RESUME_REFUSED;
  }
  const ContentRange& range = answer.range;
  if (!answer.rangeValid) {
    *why = answer.rangeSeen ? "content-range not understood" : "no content-range";
  } else if (range.first != point.kept) {
    *why = "content-range does not start at the byte asked for";
  } else if (range.total != point.total || range.last != point.total - 1) {
    *why = "content-range does not reach the end of the first answer's length";
  } else if (answer.lengthSeen && answer.contentLength != point.total - point.kept) {
    *why = "content length does not match the content-range";
  } else {
    Validator sent;
    ChooseValidator(answer, &sent);
    // A server that ignored If-Range would send the rest of another file.
    if (sent.kind == point.validator.kind && strcmp(sent.text, point.validator.text) != 0)
      *why = "the validator changed";
    else
      return RESUME_APPEND;
  }
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
  return scheme == URL_SCHEME_HTTPS || proxyNamed ? ROAD_WINHTTP : ROAD_WINSOCK;
}
