#include "install/install_state.h"

WCHAR InstallDir[MAX_PATH];
WCHAR DownloadDir[MAX_PATH];
bool DownloadDirProtected;
HANDLE WorkerThread;
volatile bool DeleteRunLogAtExit;
volatile bool WorkerClosingWindow;

void MarkWorkerClosingWindow() {
  WorkerClosingWindow = true;
  MemoryBarrier();
}
