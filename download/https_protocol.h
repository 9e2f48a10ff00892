// The plain-value side of the HTTPS download client: which step a
// notification of the system's HTTP library stands for, what its error codes
// and certificate flags mean, and how much to read next (the proxy settings to
// follow are in http/proxy_rules.h). Builds without the Windows headers.
#pragma once

#include "download/progress_callback.h"
#include "http/proxy_rules.h"

// One read of the body asks for at most this much: a TLS record holds 16 KiB,
// and every read is a round trip through the library.
const int HTTPS_READ_SIZE = 64 * 1024;

// What the library's notifications tell during one request; it lives as long
// as the request's handle, which hands it to every notification.
struct RequestNotices {
  ProgressCallback progress;
  DownloadStep reached;  // STEP_LOOKING_UP to STEP_PARSING
  unsigned long certificateFlags;
  bool sending;              // the request went out, the connection standing,
  unsigned long sendingAt;   // at this tick
};

// The library's notification values that mark a step (its callback status codes).
const unsigned long HTTPS_NOTICE_CONNECTING_TO_SERVER = 0x00000004;
const unsigned long HTTPS_NOTICE_SENDING_REQUEST = 0x00000010;

// The step that a notification marks (STEP_CONNECTING or STEP_SENDING), or
// STEP_LOOKING_UP, reported before the library is asked anything, for one that marks none.
DownloadStep HttpsStepOfNotice(unsigned long notice);

// Reports, through `progress` (may be null), every step after *reached up to
// `step`, in order, and moves *reached there. A step already reached is not
// reported again, so the steps never go back.
void ReachHttpsStep(DownloadStep* reached, DownloadStep step, ProgressCallback progress);

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
