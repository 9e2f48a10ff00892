// The system's HTTP library (winhttp.dll), looked up at run time: setup.exe
// does not import it, so it still starts on a system without it.
#pragma once

#include <windows.h>
#include <winhttp.h>

// The library's functions that the HTTPS client calls, typed as its header declares them.
struct WinHttpFunctions {
  decltype(&WinHttpOpen) open;
  decltype(&WinHttpConnect) connect;
  decltype(&WinHttpOpenRequest) openRequest;
  decltype(&WinHttpSendRequest) sendRequest;
  decltype(&WinHttpReceiveResponse) receiveResponse;
  decltype(&WinHttpQueryHeaders) queryHeaders;
  decltype(&WinHttpQueryDataAvailable) queryDataAvailable;
  decltype(&WinHttpReadData) readData;
  decltype(&WinHttpCloseHandle) closeHandle;
  decltype(&WinHttpSetOption) setOption;
  decltype(&WinHttpSetTimeouts) setTimeouts;
  decltype(&WinHttpSetStatusCallback) setStatusCallback;
  decltype(&WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfigForCurrentUser;
  decltype(&WinHttpGetProxyForUrl) getProxyForUrl;
  decltype(&WinHttpGetDefaultProxyConfiguration) getDefaultProxyConfiguration;
};

// Loads winhttp.dll from the system folder by its full path (once; it then
// stays loaded, as its own threads may outlive a request) and looks up every
// function. Null when the library or one of its functions is missing; the run
// log then says which, unless `quiet` (an http:// download that only asks
// whether a proxy is named, and goes on without one).
const WinHttpFunctions* LoadWinHttp(bool quiet = false);
