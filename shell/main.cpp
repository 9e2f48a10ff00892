// The entry point: prepares the process, shows the installer window, runs the
// message loop and ends the run log.
#include <windows.h>

#include "config/setup_config.h"
#include "download/download_file.h"
#include "platform/folder_rules.h"
#include "install/install_state.h"
#include "log/run_log.h"
#include "platform/system_library.h"
#include "shell/dll_search.h"
#include "shell/setup_window.h"

// A test build sets this to 0 to run the older systems' defence under Wine.
#ifndef SETUP_LIMIT_DEFAULT_DLL_DIRECTORIES
#define SETUP_LIMIT_DEFAULT_DLL_DIRECTORIES 1
#endif

// A test build shortens the pauses between download tries (per cent of the real ones).
#ifndef SETUP_RETRY_PAUSE_PERCENT
#define SETUP_RETRY_PAUSE_PERCENT 100
#endif

// A test build trusts its process user as the owner of the download folder
// and its files: under Wine everything reads back as that user's.
#ifndef SETUP_TRUST_PROCESS_USER
#define SETUP_TRUST_PROCESS_USER 0
#endif

#if SETUP_TRUST_PROCESS_USER
static void TrustProcessUser() {
  static DWORD user[64];  // a TOKEN_USER and its SID, aligned
  HANDLE token = NULL;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  if (GetTokenInformation(token, TokenUser, user, sizeof user, &size))
    TestTrustedSid = static_cast<const SID*>(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  CloseHandle(token);
}
#endif

static void DeclareDpiAware() {
  HMODULE user32 = LoadLibraryW(L"USER32.DLL");
  if (user32 == NULL) return;
  BOOL(WINAPI * setAware)() = NULL;
  if (LookUpFunction(user32, "SetProcessDPIAware", &setAware)) setAware();
  FreeLibrary(user32);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Before anything can load a library by name.
  LimitDllSearch(SETUP_LIMIT_DEFAULT_DLL_DIRECTORIES != 0);
  DownloadSettings.pausePercent = SETUP_RETRY_PAUSE_PERCENT;
#if SETUP_TRUST_PROCESS_USER
  TrustProcessUser();
#endif
  SetLogLocale();
  OpenRunLog();
  LogFormat("hello %s.", L"快乐");
  LoadSetupConfig();
  DeclareDpiAware();

  LogLine("register class");
  RegisterWindowClass(instance);
  LogLine("init inst");
  if (!CreateSetupWindow(instance, showCommand)) return 0;

  LogLine("msg loop");
  MSG message = {};
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  WaitForExitingWorker(EXITING_WORKER_WAIT_MS);
  EndDownloadsForExit();
  LogLine("bye");
  CloseRunLog();
  if (DeleteRunLogAtExit) DeleteRunLog();
  return static_cast<int>(message.wParam);
}
