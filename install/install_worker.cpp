#include "install/install_worker.h"

#include <shlwapi.h>

#include "config/setup_config.h"
#include "http/range_plan.h"
#include "http/redirect.h"
#include "download/progress_callback.h"
#include "install/connection_count.h"
#include "install/download_folder.h"
#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/product_step.h"
#include "log/run_log.h"

bool ShouldRunProductStep(PrerequisiteResult prerequisite) {
  return prerequisite == RUNTIME_READY;
}

InstallOutcome CombineOutcome(PrerequisiteResult prerequisite, bool productStarted) {
  if (prerequisite == RUNTIME_RESTART_NOW) return INSTALL_RESTART_NOW;
  if (prerequisite == RUNTIME_RESTART_DECLINED) return INSTALL_RESTART_DECLINED;
  if (prerequisite == RUNTIME_READY) return productStarted ? INSTALL_SUCCEEDED : INSTALL_PRODUCT_FAILED;
  return INSTALL_PREREQUISITE_FAILED;
}

bool InstallFolderFromModulePath(WCHAR* path, DWORD length) {
  // GetModuleFileNameW fills the whole buffer when the path is cut (and XP leaves
  // it unterminated): the parent of a cut path is some other folder.
  if (length == 0 || length >= MAX_PATH) {
    path[0] = L'\0';
    return false;
  }
  path[length] = L'\0';
  PathRemoveFileSpecW(path);
  return true;
}

InstallMessage OutcomeMessage(InstallOutcome outcome) {
  if (outcome == INSTALL_SUCCEEDED) return MESSAGE_SUCCEEDED;
  if (outcome == INSTALL_RESTART_NOW || outcome == INSTALL_RESTART_DECLINED) return MESSAGE_RESTART_NEEDED;
  return MESSAGE_FAILED;
}

// Windows carries out a restart only for a token with the shutdown privilege
// enabled. A failure is logged; the request is made all the same.
static void EnableShutdownPrivilege() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    LogFormat("open process token failed. %d", static_cast<int>(GetLastError()));
    return;
  }
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
    LogFormat("lookup shutdown privilege failed. %d", static_cast<int>(GetLastError()));
  } else if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL) ||
             GetLastError() != ERROR_SUCCESS) {
    LogFormat("enable shutdown privilege failed. %d", static_cast<int>(GetLastError()));
  }
  CloseHandle(token);
}

static void RequestRestart() {
  EnableShutdownPrivilege();
  LogLine("requesting restart");
  // The result is not examined: the window is gone and nobody is left to tell.
  ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, SHTDN_REASON_MAJOR_SOFTWARE | SHTDN_REASON_MINOR_INSTALLATION);
}

// A key of one digit ("app.connections", "app.redirects"), read once per run
// for every download of it. A malformed value is logged and means `fallback`,
// the download as it always was.
static int ConfiguredDigit(const WCHAR* key, int lowest, int highest, int fallback, const char* meaning) {
  // Two units more than a valid value: a longer one stays longer when cut, and so malformed.
  WCHAR value[4];
  bool present = FindConfigValue(key, value, 4);
  int number = fallback;
  if (ReadDigitSetting(present, value, lowest, highest, fallback, &number) == SETTING_MALFORMED)
    LogFormat("%s refused: \"%s\" is not a number from %d to %d; %S", key, value, lowest, highest, meaning);
  return number;
}

DWORD WINAPI InstallWorker(LPVOID) {
  WorkerUi.showStartButton(false);
  WorkerUi.setStatus(MESSAGE_RUN_STARTING);
  if (!InstallFolderFromModulePath(InstallDir, GetModuleFileNameW(NULL, InstallDir, MAX_PATH)))
    LogFormat("own path longer than %d characters, no install folder", MAX_PATH - 1);
  ChooseDownloadFolder();

  const DownloadLimits limits = {
      ConfiguredDigit(CONNECTIONS_KEY, 1, MAX_DOWNLOAD_CONNECTIONS, DEFAULT_CONNECTIONS, "downloads use one connection"),
      ConfiguredDigit(REDIRECTS_KEY, 0, MAX_REDIRECTS, 0, "no redirect is followed")};
  PrerequisiteResult prerequisite = RuntimePrerequisiteStep(limits);
  bool productStarted = ShouldRunProductStep(prerequisite) && ProductInstallerStep(limits);
  InstallOutcome outcome = CombineOutcome(prerequisite, productStarted);

  WorkerUi.setStatus(MESSAGE_RUN_ENDED);
  WorkerUi.setProgress(PROGRESS_HIDDEN);
  WorkerUi.setStatus(OutcomeMessage(outcome));
  WorkerUi.showStartButton(true);
  if (outcome == INSTALL_SUCCEEDED) {
    DeleteRunLogAtExit = true;
    MarkWorkerClosingWindow();
    WorkerUi.closeWindow();
  } else if (outcome == INSTALL_RESTART_NOW || outcome == INSTALL_RESTART_DECLINED) {
    // Start-up waits for this thread before the process ends, so the restart
    // request below is made (marked before the restart question already).
    MarkWorkerClosingWindow();
    WorkerUi.closeWindow();
    if (outcome == INSTALL_RESTART_NOW) RequestRestart();
  } else {
    WorkerUi.showLastError();
  }
  return 0;
}

HANDLE StartWorker() {
  WorkerThread = CreateThread(NULL, 0, InstallWorker, NULL, 0, NULL);
  return WorkerThread;
}
