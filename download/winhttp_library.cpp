#include "download/winhttp_library.h"

#include "log/platform_log.h"
#include "platform/function_table.h"

static WinHttpFunctions Functions;

static const FunctionSlot SLOTS[] = {
    Slot(&Functions.open, "WinHttpOpen"),
    Slot(&Functions.connect, "WinHttpConnect"),
    Slot(&Functions.openRequest, "WinHttpOpenRequest"),
    Slot(&Functions.sendRequest, "WinHttpSendRequest"),
    Slot(&Functions.receiveResponse, "WinHttpReceiveResponse"),
    Slot(&Functions.queryHeaders, "WinHttpQueryHeaders"),
    Slot(&Functions.queryDataAvailable, "WinHttpQueryDataAvailable"),
    Slot(&Functions.readData, "WinHttpReadData"),
    Slot(&Functions.closeHandle, "WinHttpCloseHandle"),
    Slot(&Functions.setOption, "WinHttpSetOption"),
    Slot(&Functions.setTimeouts, "WinHttpSetTimeouts"),
    Slot(&Functions.setStatusCallback, "WinHttpSetStatusCallback"),
    Slot(&Functions.getIEProxyConfigForCurrentUser, "WinHttpGetIEProxyConfigForCurrentUser"),
    Slot(&Functions.getProxyForUrl, "WinHttpGetProxyForUrl"),
    Slot(&Functions.getDefaultProxyConfiguration, "WinHttpGetDefaultProxyConfiguration"),
};
static const WCHAR* const LIBRARIES[] = {L"winhttp.dll", NULL};
static FunctionTable Table = {LIBRARIES, SLOTS, sizeof SLOTS / sizeof SLOTS[0], 0};

const WinHttpFunctions* LoadWinHttp(bool quiet) {
  FunctionTableFailure failure;
  if (FillFunctionTable(&Table, &failure)) return &Functions;
  // A quiet load names no missing function either.
  if (!quiet) LogFunctionTableFailure(failure);
  return NULL;
}
