// The plain-value decisions of a download that survives breaks: which
// validator guards a continuation, the request that asks for the rest, what an
// answer to it means, whether to try again and after how long, and which
// client carries an address. Builds without the Windows headers.
#pragma once

#include "http/url.h"
#include "http/request.h"
#include "http/head.h"

// Tries of one download in all, the first one included.
const int DOWNLOAD_TRIES = 5;

// A Range line with two numbers of LENGTH_DIGITS_MAX digits and an If-Range
// line with a validator, each with its CR LF, and a terminator: 68 bytes and
// the validator's.
const int RANGE_HEADERS_SIZE = 96 + VALIDATOR_SIZE;
// The first request, then at most a Range and an If-Range line.
const int RESUME_REQUEST_BUFFER_SIZE = REQUEST_BUFFER_SIZE + RANGE_HEADERS_SIZE;

enum ValidatorKind { VALIDATOR_NONE, VALIDATOR_ETAG, VALIDATOR_LAST_MODIFIED };

struct Validator {
  ValidatorKind kind;
  char text[VALIDATOR_SIZE];
};

// A date's distance before the answer's own Date that makes it a strong
// validator: a file changed twice within one second keeps its date.
const long long STRONG_DATE_SECONDS = 60;

// True when a Last-Modified date (seconds, http/date.h) can guard a splice:
// both dates read, the answer dated at least STRONG_DATE_SECONDS later.
bool IsStrongDate(long long lastModified, long long date);

// A strong entity tag, else a strong Last-Modified date, else none: a weak tag
// ("W/...") or a recent date may stay the same while the bytes change, so
// neither can guard a splice.
void ChooseValidator(const HeadState& head, Validator* validator);

// Where a broken download stands: what guards the bytes the file holds (the
// validator sent in If-Range, and both validators of the first answer, which
// every continuation must repeat), how many it holds, and the whole length
// that the first answer announced.
struct ResumePoint {
  Validator validator;
  char etag[VALIDATOR_SIZE];
  char lastModified[VALIDATOR_SIZE];
  long long kept;
  long long total;
};

void BeginResumePoint(ResumePoint* point);

// The point of a download that takes the whole file from `first` (an
// accepted answer with its length): its validators, none of it kept yet.
void StartResumePoint(const HeadState& first, ResumePoint* point);

// True when the rest can be asked for: a validator, and some but not all bytes.
bool CanContinue(const ResumePoint& point);

// The first request (`length` bytes from BuildRequest) with
// "Range: bytes=<kept>-" and "If-Range: <validator>" before its empty line,
// into `continued` (RESUME_REQUEST_BUFFER_SIZE bytes). Its length, or -1 when
// it does not fit.
int ContinueRequest(const char* request, int length, const ResumePoint& point, char* continued);

// The same from the parts of the address: BuildRequest, then ContinueRequest.
int BuildResumeRequest(const char* host, const char* path, const char* port, const ResumePoint& point,
                       char* request);

// "Range: bytes=<first>-<last>\r\nIf-Range: <validator>\r\n" into `headers`
// of `size` bytes, "<last>" left out when it is negative (the rest of the
// file). Its length, or -1 when it does not fit.
int BuildRangeHeaders(long long first, long long last, const Validator& validator, char* headers, int size);

// The first request with those two lines before its empty line, into
// `ranged` (RESUME_REQUEST_BUFFER_SIZE bytes). Its length, or -1.
int RangeRequest(const char* request, int length, long long first, long long last, const Validator& validator,
                 char* ranged);

// The text of an If-Range header line's value and a Range line, for a client
// that takes extra header lines: "Range: bytes=<kept>-\r\nIf-Range: <v>\r\n",
// into `headers` of `size` bytes. Its length, or -1 when it does not fit.
int BuildResumeHeaders(const ResumePoint& point, char* headers, int size);

enum ResumeAnswer {
  RESUME_APPEND,      // the rest, from exactly the byte asked for: append it
  RESUME_START_OVER,  // the whole file anew: truncate and take it from byte 0
  RESUME_CHANGED,     // the rest of another file: the next try asks for the whole one
  RESUME_REFUSED      // nothing that can be used: the download fails
};

// Why a 206 is of another file than the first answer's: an ETag or a
// Last-Modified that it carries and that differs from the point's (a weak tag
// too, whose text changes with the file). Null when none differs.
const char* ValidatorChange(const HeadState& answer, const ResumePoint& point);

// Why a 206 does not hold exactly bytes first..last of a file of `total`
// bytes (its Content-Range, and its Content-Length where it has one); null
// when it does.
const char* RangeFault(const HeadState& answer, long long first, long long last, long long total);

// What the accepted head `answer` (status 200 or 206) to a request for the
// rest of `point` means. A 206 whose ETag or Last-Modified, where it has one,
// is not the first answer's (weak tags included) is of a changed file.
// Otherwise it must give a Content-Range from exactly point.kept to the end of
// point.total bytes and agree with its Content-Length if it has one. *why
// says what was wrong.
ResumeAnswer JudgeResumeAnswer(const HeadState& answer, const ResumePoint& point, const char** why);

// How one try of a download ended.
enum TryEnd {
  TRY_COMPLETE,       // every byte of the body is in the file
  TRY_NOT_CONNECTED,  // resolution, connection or sending the request failed
  TRY_HEAD_CUT,       // the connection closed, reset or fell silent inside the head
  TRY_REFUSED,        // the answer or the file refused it: status, head, range, length, room, a write
  TRY_BROKEN,         // the connection closed, reset or fell silent inside the body
  TRY_CHANGED         // a continuation came from a changed file: the next try asks for the whole one
};

enum AfterTry { AFTER_TRY_DONE, AFTER_TRY_AGAIN, AFTER_TRY_FAIL };

// What follows try `number` (from 1). Only a break in the body, or a file
// that changed under a continuation, starts the retries: a first try that was
// not answered fails at once, as it always did, so that the next mirror is not
// kept waiting. Once the body has broken, a try that the network cuts short
// (resolution, connection, a head cut off) counts and the next one follows; a
// refused answer ends the download.
AfterTry DecideAfterTry(TryEnd end, int number);

// Whether a download that failed with `lastEnd` leaves its file for a later
// start to continue: only while the file can be continued and the server's
// last word was not a refusal. Otherwise the file is deleted.
bool KeepPartialFile(const ResumePoint& point, TryEnd lastEnd);

// A xorshift generator: enough to spread pauses, nothing more. A zero state
// stays zero, so seed it with a non-zero value.
unsigned NextRandom(unsigned* state);

// Milliseconds to wait before try `number` (2 to DOWNLOAD_TRIES): 1, 2, 4 and
// 8 s, each moved by `random` to somewhere from three quarters to five quarters
// of it, so that clients cut off together do not come back together; then
// scaled by `percent` (100 in the product).
unsigned RetryPauseMs(int number, unsigned random, unsigned percent);

// Which client carries a download.
enum DownloadRoad {
  ROAD_WINSOCK,  // setup.exe's own HTTP/1.1 over a direct connection
  ROAD_WINHTTP   // the system's HTTP library: TLS, or a proxy
};

// https:// always goes through the library; http:// only when a proxy is named
// for it, so that a direct http:// download sends exactly the bytes it always sent.
DownloadRoad ChooseDownloadRoad(UrlScheme scheme, bool proxyNamed);
