// The entry point: prepares the process, shows the installer window, runs the
// message loop and ends the run log.
#include <windows.h>

#include "config/setup_config.h"
#include "install/install_state.h"
#include "log/run_log.h"
#include "shell/setup_window.h"

// How long the end waits for a worker that closed the window itself; it only
// has its restart request left to make.
static const DWORD EXITING_WORKER_WAIT_MS = 30000;

static void DeclareDpiAware() {
  HMODULE user32 = LoadLibraryW(L"USER32.DLL");
  if (user32 == NULL) return;
  typedef BOOL(WINAPI * SetProcessDpiAwareFunction)();
  SetProcessDpiAwareFunction setAware = reinterpret_cast<SetProcessDpiAwareFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")));
  if (setAware != NULL) setAware();
  FreeLibrary(user32);
}

// Waits while still answering messages sent to this thread, so that a worker
// that calls into a window of this thread cannot block the wait.
static void WaitForExitingWorker() {
  if (ExitingWorker == NULL) return;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= EXITING_WORKER_WAIT_MS) {
      LogLine(L"worker did not end");
      break;
    }
    DWORD woke = MsgWaitForMultipleObjects(1, &ExitingWorker, FALSE,
                                           EXITING_WORKER_WAIT_MS - spent, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) break;
    MSG message;
    PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE);
  }
  CloseHandle(ExitingWorker);
  ExitingWorker = NULL;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  SetLogLocale();
  OpenRunLog();
  LogFormat(L"hello %s.", L"快乐");
  LoadSetupConfig();
  DeclareDpiAware();

  LogLine(L"register class");
  RegisterWindowClass(instance);
  LogLine(L"init inst");
  if (!CreateSetupWindow(instance, showCommand)) return 0;

  LogLine(L"msg loop");
  MSG message = {};
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  WaitForExitingWorker();
  LogLine(L"bye");
  CloseRunLog();
  if (DeleteRunLogAtExit) DeleteRunLog();
  return static_cast<int>(message.wParam);
}
