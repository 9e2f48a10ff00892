// The plain-value side of the HTTPS download client: which step text a
// notification of the system's HTTP library stands for, what its error codes
// and certificate flags mean, and how much to read next (the proxy settings to
// follow are in http/proxy_rules.h). Builds without the Windows headers.
#pragma once

#include "download/progress_callback.h"
#include "http/proxy_rules.h"

// One read of the body asks for at most this much: a TLS record holds 16 KiB,
// and every read is a round trip through the library.
const int HTTPS_READ_SIZE = 64 * 1024;

// The step texts that the library's progress notifications stand for, in the
// order of a download; "查找服务器..." comes before the library is asked anything.
enum HttpsStep {
  HTTPS_STEP_LOOKING_UP = 0,
  HTTPS_STEP_CONNECTING = 1,  // "连接服务器..."
  HTTPS_STEP_SENDING = 2,     // "发送请求..."
  HTTPS_STEP_PARSING = 3,     // "解析响应..."
};

// What the library's notifications tell during one request; it lives as long
// as the request's handle, which hands it to every notification.
struct RequestNotices {
  ProgressCallback progress;
  HttpsStep reached;
  unsigned long certificateFlags;
  bool sending;              // the request went out, the connection standing,
  unsigned long sendingAt;   // at this tick
};

// The library's notification values that mark a step (its callback status codes).
const unsigned long HTTPS_NOTICE_CONNECTING_TO_SERVER = 0x00000004;
const unsigned long HTTPS_NOTICE_SENDING_REQUEST = 0x00000010;

// The step that a notification marks, or HTTPS_STEP_LOOKING_UP for one that marks none.
HttpsStep HttpsStepOfNotice(unsigned long notice);

// Reports, through `progress` (may be null), the text of every step after
// *reached up to `step`, in order, and moves *reached there. A step already
// reached is not reported again, so the texts never go back.
void ReachHttpsStep(HttpsStep* reached, HttpsStep step, ProgressCallback progress);

// What one of the library's error codes (12001 and up), or one of the network
// codes that it hands on, means, in the run log's lower-case English; a code
// it does not know gets a generic text.
const char* WinHttpErrorMeaning(unsigned long code);

// The certificate problems that the library's secure-failure flags name, comma
// separated ("untrusted issuer, wrong name"), into `text` of `size` bytes
// (always terminated; cut, never overrun, when too small). Returns how many
// flags were named.
int DescribeCertificateFlags(unsigned long flags, char* text, int size);

// How many bytes the next body read asks for: what remains, at most HTTPS_READ_SIZE
// and at most what the library has `available`.
int HttpsReadSize(long long contentLength, long long received, unsigned long available = HTTPS_READ_SIZE);

// True when a header's value, as the library hands it over with its size in
// bytes (the terminator not counted), holds a NUL before its end: read as
// text it would end there, early.
bool HeaderValueHoldsNul(const wchar_t* value, unsigned long bytes);
