// Placeholder until the installation run exists: the worker only hides the
// button and shows it again, so that the window can be driven end to end.
#include "install/install_worker.h"

#include "install/install_state.h"
#include "shell/setup_window.h"

DWORD WINAPI InstallWorker(LPVOID) {
  ShowWindow(StartButton, SW_HIDE);
  Sleep(200);
  ShowWindow(StartButton, SW_SHOW);
  return 0;
}

HANDLE StartWorker() {
  WorkerThread = CreateThread(NULL, 0, InstallWorker, NULL, 0, NULL);
  return WorkerThread;
}
