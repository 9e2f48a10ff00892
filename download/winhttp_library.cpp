#include "download/winhttp_library.h"

#include "download/system_library.h"
#include "log/run_log.h"

static WinHttpFunctions Functions;
static volatile LONG FunctionsReady;

const WinHttpFunctions* LoadWinHttp(bool quiet) {
  if (FunctionsReady != 0) return &Functions;
  HMODULE library = LoadSystemLibrary(L"winhttp.dll");
  if (library == NULL) {
    if (!quiet) LogFormat(L"winhttp.dll not loaded %d", static_cast<int>(GetLastError()));
    return NULL;
  }
  // A quiet load names no missing function either.
  const WCHAR* lacking = quiet ? NULL : L"winhttp.dll";
  // Downloads run one at a time; two racing here would store the same addresses.
  WinHttpFunctions* f = &Functions;
  bool found = LookUpFunction(library, lacking, "WinHttpOpen", &f->open) &&
               LookUpFunction(library, lacking, "WinHttpConnect", &f->connect) &&
               LookUpFunction(library, lacking, "WinHttpOpenRequest", &f->openRequest) &&
               LookUpFunction(library, lacking, "WinHttpSendRequest", &f->sendRequest) &&
               LookUpFunction(library, lacking, "WinHttpReceiveResponse", &f->receiveResponse) &&
               LookUpFunction(library, lacking, "WinHttpQueryHeaders", &f->queryHeaders) &&
               LookUpFunction(library, lacking, "WinHttpQueryDataAvailable", &f->queryDataAvailable) &&
               LookUpFunction(library, lacking, "WinHttpReadData", &f->readData) &&
               LookUpFunction(library, lacking, "WinHttpCloseHandle", &f->closeHandle) &&
               LookUpFunction(library, lacking, "WinHttpSetOption", &f->setOption) &&
               LookUpFunction(library, lacking, "WinHttpSetTimeouts", &f->setTimeouts) &&
               LookUpFunction(library, lacking, "WinHttpSetStatusCallback", &f->setStatusCallback) &&
               LookUpFunction(library, lacking, "WinHttpGetIEProxyConfigForCurrentUser",
                              &f->getIEProxyConfigForCurrentUser) &&
               LookUpFunction(library, lacking, "WinHttpGetProxyForUrl", &f->getProxyForUrl) &&
               LookUpFunction(library, lacking, "WinHttpGetDefaultProxyConfiguration", &f->getDefaultProxyConfiguration);
  if (!found) {
    FreeLibrary(library);
    return NULL;
  }
  InterlockedExchange(&FunctionsReady, 1);
  return &Functions;
}
