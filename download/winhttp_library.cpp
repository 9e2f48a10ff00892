#include "download/winhttp_library.h"

#include "download/system_library.h"
#include "log/run_log.h"

// Set while a quiet load runs: it logs nothing.
static bool Quiet;

// Through void*, so that -Wextra accepts the cast of a looked-up address to its own type.
template <typename Function>
static bool LookUp(HMODULE library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (*function == NULL && !Quiet) LogFormat(L"winhttp.dll lacks %S", name);
  return *function != NULL;
}

static WinHttpFunctions Functions;
static volatile LONG FunctionsReady;

const WinHttpFunctions* LoadWinHttp(bool quiet) {
  if (FunctionsReady != 0) return &Functions;
  HMODULE library = LoadSystemLibrary(L"winhttp.dll");
  if (library == NULL) {
    if (!quiet) LogFormat(L"winhttp.dll not loaded %d", static_cast<int>(GetLastError()));
    return NULL;
  }
  Quiet = quiet;
  // Downloads run one at a time; two racing here would store the same addresses.
  WinHttpFunctions* f = &Functions;
  bool found = LookUp(library, "WinHttpOpen", &f->open) && LookUp(library, "WinHttpConnect", &f->connect) &&
               LookUp(library, "WinHttpOpenRequest", &f->openRequest) &&
               LookUp(library, "WinHttpSendRequest", &f->sendRequest) &&
               LookUp(library, "WinHttpReceiveResponse", &f->receiveResponse) &&
               LookUp(library, "WinHttpQueryHeaders", &f->queryHeaders) &&
               LookUp(library, "WinHttpQueryDataAvailable", &f->queryDataAvailable) &&
               LookUp(library, "WinHttpReadData", &f->readData) &&
               LookUp(library, "WinHttpCloseHandle", &f->closeHandle) &&
               LookUp(library, "WinHttpSetOption", &f->setOption) &&
               LookUp(library, "WinHttpSetTimeouts", &f->setTimeouts) &&
               LookUp(library, "WinHttpSetStatusCallback", &f->setStatusCallback) &&
               LookUp(library, "WinHttpGetIEProxyConfigForCurrentUser", &f->getIEProxyConfigForCurrentUser) &&
               LookUp(library, "WinHttpGetProxyForUrl", &f->getProxyForUrl) &&
               LookUp(library, "WinHttpGetDefaultProxyConfiguration", &f->getDefaultProxyConfiguration);
  if (!found) {
    FreeLibrary(library);
    return NULL;
  }
  InterlockedExchange(&FunctionsReady, 1);
  return &Functions;
}
