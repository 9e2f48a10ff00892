#include "download/http_protocol.h"

#include <string.h>

#include "download/download_result.h"

static const char SCHEME[] = "http://";
static const int SCHEME_LENGTH = sizeof SCHEME - 1;
static const char CONTENT_LENGTH[] = "Content-Length: ";
static const int CONTENT_LENGTH_PREFIX = sizeof CONTENT_LENGTH - 1;

static_assert(CONTENT_LENGTH_PREFIX == 16, "the length line's prefix is 16 bytes");
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

bool IsContentLengthLine(const char* line) {
  return strncmp(line, CONTENT_LENGTH, CONTENT_LENGTH_PREFIX) == 0;
}

static bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int ParseContentLength(const char* line) {
  return ParseLengthValue(line + CONTENT_LENGTH_PREFIX);
}

int ParseLengthValue(const char* text) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Stops growing one past the limit, so any number of digits is safe.
  const long long limit = negative ? 2147483648LL : 2147483647LL;
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= limit) value = value * 10 + (*p - '0');
  }
  if (value > limit) value = limit;
  return (int)(negative ? -value : value);
}

void BeginHead(HeadState* head) {
  head->statusSeen = false;
  head->lengthSeen = false;
  head->contentLength = 0;
}

bool ExamineHeadLine(HeadState* head, const char* line) {
  if (!head->statusSeen) {
    if (!IsAcceptedStatusLine(line)) return false;
    head->statusSeen = true;
  }
  if (IsContentLengthLine(line)) {
    head->lengthSeen = true;
    head->contentLength = ParseContentLength(line);
  }
  return true;
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
  reader->length = 0;
  if (length < HEAD_LINE_SIZE) reader->line[length] = '\0';
  // A piece cut at HEAD_LINE_SIZE characters whose line ends right behind it
  // leaves an empty rest: that is not the empty line that ends the head, or the
  // rest of the head would be taken for the body.
  if (length == 0 && reader->pieceWasCut) {
    reader->pieceWasCut = false;
    return HEAD_READ_MORE;
  }
  if (length == 0) return HEAD_READ_ENDED;
  reader->pieceWasCut = length == HEAD_LINE_SIZE;
  return ExamineHeadLine(&reader->head, reader->line) ? HEAD_READ_MORE : HEAD_READ_REFUSED;
}

HeadRead ReadHeadByte(HeadReader* reader, char byte, unsigned nowTick) {
  // Every byte counts, CRs too: a line of nothing but CRs never fills the buffer.
  HeadSpend spent = SpendHeadByte(&reader->budget, nowTick);
  if (spent == HEAD_SPEND_TOO_LONG) return HEAD_READ_TOO_LONG;
  if (spent == HEAD_SPEND_TOO_SLOW) return HEAD_READ_TOO_SLOW;
  if (byte == '\n') return EndHeadLine(reader);
  if (byte != '\r') reader->line[reader->length++] = byte;
  return reader->length == HEAD_LINE_SIZE ? EndHeadLine(reader) : HEAD_READ_MORE;
}

HeadRead CloseHead(HeadReader* reader) {
  return EndHeadLine(reader) == HEAD_READ_REFUSED ? HEAD_READ_REFUSED : HEAD_READ_ENDED;
}

int BodyReceiveSize(int contentLength, int received) {
  int remaining = contentLength - received;
  return remaining < BODY_CHUNK_SIZE ? remaining : BODY_CHUNK_SIZE;
}

int PercentReceived(int received, int contentLength) {
  // Each step goes through a double in memory: the x87 unit would otherwise
  // truncate its wider intermediate (29 of 100 would report 28).
  volatile double share = (double)received / contentLength;
  volatile double percent = share * 100.0;
  return (int)percent;
}
