// One try of a download: what the loop that makes the tries (download_file.cpp)
// hands a client, the Winsock one or the WinHTTP one, what the tries share
// (the open file and where the download stands), and what a try hands back.
#pragma once

#include <windows.h>

#include "download/download_tuning.h"
#include "http/url.h"
#include "download/progress_callback.h"
#include "download/proxy_finder.h"
#include "http/resume_rules.h"

struct DownloadTry {
  // The same for every try of the download.
  const char* url;  // 8-bit, split and checked: host, path and port are its parts
  const char* host;
  const char* path;
  const char* port;
  UrlScheme scheme;
  const char* request;  // http://: the first request, built once; its length below
  int requestLength;
  const ProxyChoice* proxy;  // the WinHTTP road's proxy, found once per download
  const DownloadTuning* tuning;
  const WCHAR* targetPath;
  ProgressCallback progress;
  const DownloadLimits* limits;  // the configuration's, as it was read
  int number;       // this try's number, from 1; the engine of ranges moves it on for the tries it makes
  bool mayRedirect; // this request's answer may be a redirect: the download's first, for the whole file

  // Kept from try to try: the file, open from the first body on, and the bytes it holds;
  // one connection from now on, after the file changed, ranges did not work, or the first answer broke.
  HANDLE file;
  ResumePoint point;
  bool oneConnection;

  // Handed back by the try.
  DWORD failure;      // the last failure's error code; 0 for a connection closed by the server
  bool bodyReached;   // some try's head was accepted: the file was made or asked for
  bool answerLogged;  // this try's answer to a resumed or repeated request is in the run log
  int redirect;       // a redirect's status (its try ends TRY_REFUSED), 0 for any other end
  char location[HEAD_LINE_SIZE];  // ... and its Location
};

// The most connections this try may open: the limits', or 1 once the
// download has to go on over one connection.
int AllowedConnections(const DownloadTry& attempt);

// True when this try asks for the rest of the file rather than the whole of it.
bool IsResumingTry(const DownloadTry& attempt);

// Reports a step through `progress`, when there is one.
void ReportStep(ProgressCallback progress, DownloadStep step);

// Where a try reports its steps: the first try's go to the window; later tries
// leave STEP_CONTINUING showing until their body flows again.
ProgressCallback TryStepProgress(const DownloadTry& attempt);

// The run log's line for the answer of a try that repeats or continues the
// download: "try 2 of 5 from byte 400: <answer>".
void LogTryAnswer(DownloadTry* attempt, const char* answer);

// Milliseconds to wait before try `number` of the download (RetryPauseMs with
// a random part). Not for two threads at once: the engine of ranges calls it
// under its lock.
DWORD PauseBeforeTry(const DownloadTry& attempt, int number);
