// The WinHTTP client: one try of a download through the system's HTTP library
// (winhttp.dll, looked up at run time), for every https:// address (TLS, the
// system's certificate checks) and for an http:// address that goes through a
// proxy. It behaves as the Winsock client does wherever that applies: the same
// steps, percentages, log lines and result codes, only a 200 answer with
// a length (or a 206 to a request for the rest), the body written to the file.
// An http:// answer keeps the Winsock client's rules: its two exact status
// lines and its time limit for the whole head.
#pragma once

#include <windows.h>

#include "download/download_try.h"

// Time limits that the library takes together with the receive time-out: its
// own defaults, written out. Resolution has none (0), as with the Winsock client.
const DWORD HTTPS_RESOLVE_TIMEOUT_MS = 0;
const DWORD HTTPS_CONNECT_TIMEOUT_MS = 60000;
const DWORD HTTPS_SEND_TIMEOUT_MS = 30000;

// One try on the attempt's proxy road. Certificates are always checked; a
// redirect is handed back (download_try.h), never followed by the library.
TryEnd WinHttpTry(DownloadTry* attempt);
