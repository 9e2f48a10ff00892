// Placeholder until the installation run exists: the worker hides the button,
// shows the first step text and shows the button again, so that the window can
// be driven end to end.
#include "install/install_worker.h"

#include "install/install_state.h"
#include "shell/progress_display.h"
#include "shell/setup_window.h"

DWORD WINAPI InstallWorker(LPVOID) {
  ShowWindow(StartButton, SW_HIDE);
  SetStatusText(L"启动安装流程...");
  Sleep(200);
  ShowWindow(StartButton, SW_SHOW);
  return 0;
}

HANDLE StartWorker() {
  WorkerThread = CreateThread(NULL, 0, InstallWorker, NULL, 0, NULL);
  return WorkerThread;
}
