// The time limits of every download and the share of its pauses: what the loop
// that makes the tries hands down to the clients with each try (the pauses
// themselves are RetryPauseMs's, http/resume_rules.h); and what the maker
// allows each download. Plain values only.
#pragma once

// What the configuration allows every download of a run: read and checked
// once (install/connection_count.h), then handed down as it is, never written.
struct DownloadLimits {
  int connections;  // the most open at once: 1 to MAX_DOWNLOAD_CONNECTIONS
  int redirects;    // the most followed: 0 to MAX_REDIRECTS
};

// One connection and no redirect: the download as it always was.
const DownloadLimits ONE_CONNECTION = {1, 0};

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
