// The HTTPS download client: one GET through the system's HTTP library
// (winhttp.dll, looked up at run time), which brings TLS, the system's
// certificate checks and its proxy settings. It behaves as the Winsock client
// does wherever that applies: the same step texts, percentages, log lines and
// result codes, only a 200 answer with a length, the body written to the file.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"

// Time limits that the library takes together with the receive time-out: its
// own defaults, written out. Resolution has none (0), as with the Winsock client.
const DWORD HTTPS_RESOLVE_TIMEOUT_MS = 0;
const DWORD HTTPS_CONNECT_TIMEOUT_MS = 60000;
const DWORD HTTPS_SEND_TIMEOUT_MS = 30000;

// Fetches `url` ("https://host[:port]/path", in the ANSI code page) into
// `targetPath`. Certificates are always checked; no redirect is followed. On
// any failure after the file was created the file is deleted. Returns a
// DOWNLOAD_* code.
int HttpsGet(const char* url, const WCHAR* targetPath, ProgressCallback progress);

// HttpsGet that may be kept off the library's automatic proxy handling, so that
// the road of systems before Windows 8.1 (the user's Internet settings) can be
// tried where the automatic one exists too.
int HttpsGetOnProxyRoad(const char* url, const WCHAR* targetPath, ProgressCallback progress,
                        bool mayUseAutomaticProxy);
