#include "install/install_state.h"

#include "log/run_log.h"

WCHAR InstallDir[MAX_PATH];
WCHAR DownloadDir[MAX_PATH];
bool DownloadDirProtected;
WCHAR LastErrorText[1024];
HANDLE WorkerThread;
volatile bool DeleteRunLogAtExit;
volatile bool WorkerClosingWindow;

void MarkWorkerClosingWindow() {
  WorkerClosingWindow = true;
  MemoryBarrier();
}

void RecordError(const WCHAR* message) {
  // Read before anything else can change it.
  DWORD code = GetLastError();
  // Cut to fit rather than overflow; the longest real message is far shorter.
  lstrcpynW(LastErrorText, message, sizeof LastErrorText / sizeof LastErrorText[0]);
  LogFormat("%s(EH%08X)", message, code);
}
