// The time limits of every download and the share of its pauses: what the loop
// that makes the tries hands down to the clients with each try (the pauses
// themselves are RetryPauseMs's, http/resume_rules.h). Plain values only.
#pragma once

const unsigned long HTTP_RECEIVE_TIMEOUT_MS = 15000;
// Until ranges have worked on a server, a further connection's connect and
// head must come within this: a server that leaves them unanswered costs
// the download no more than this, while its first connection reads on.
const unsigned long RANGE_HEAD_LIMIT_MS = 5000;

// The product keeps the values that download_file.cpp gives them; tests
// shorten them in their own process (a test build may set the pauses' share
// at start-up). Nothing read from the configuration, the command line or the
// environment changes them.
struct DownloadTuning {
  unsigned long receiveTimeoutMs;  // each receive, in the head and the body
  unsigned long headTimeLimitMs;   // the whole head of an http:// answer
  unsigned pausePercent;           // share of RetryPauseMs's pauses, in per cent
  bool mayUseAutomaticProxy;       // https:// may take the library's automatic proxy road (Windows 8.1 and later)
  unsigned long rangeHeadLimitMs;  // RANGE_HEAD_LIMIT_MS
};
