#include "install/runtime_step.h"

#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/installer_command.h"
#include "install/mirror_download.h"
#include "install/payload_check.h"
#include "install/signer_pin.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"

bool NeedsRuntimeCheck(DWORD version) {
  return LOBYTE(LOWORD(version)) < 6;
}

bool DownloadRuntimeInstaller(WCHAR* installerPath, HANDLE* held, const DownloadLimits& limits) {
  *held = INVALID_HANDLE_VALUE;
  if (!JoinInstallerPath(DownloadDir, RUNTIME_FILE_NAME, installerPath)) {
    LogLine("runtime installer path too long");
    WorkerUi.recordError(MESSAGE_RUNTIME_DOWNLOAD_FAILED, 0);
    return false;
  }
  const MirrorDownload download = {&RUNTIME_MIRRORS, L"runtime", NULL, RUNTIME_PIN_KEY, RUNTIME_SIGNER_KEY, &limits};
  if (DownloadFromMirrors(download, installerPath, held)) return true;
  WorkerUi.recordError(MESSAGE_RUNTIME_DOWNLOAD_FAILED, 0);
  return false;
}

bool RunRuntimeInstaller(const WCHAR* installerPath, HANDLE* held, DWORD& exitCode) {
  WorkerUi.setStatus(MESSAGE_RUNTIME_PREPARING);
  WorkerUi.setProgress(PROGRESS_HIDDEN);
  LogLine("starting installer ...");

  WCHAR startPath[MAX_PATH];
  WCHAR commandLine[MAX_PATH];
  PROCESS_INFORMATION process;
  bool started = false;
  InstallerStartPath(*held, installerPath, startPath);
  if (!BuildInstallerCommandLine(startPath, RUNTIME_ARGUMENTS, commandLine)) {
    LogLine("runtime installer command line too long");
  } else if (!StartInstallerProcess(commandLine, DownloadDir, &process)) {
    DWORD error = GetLastError();
    LogFormat("create process failed. %d", static_cast<int>(error));
    SetLastError(error);
  } else {
    started = true;
  }
  // Held through the start: the process was created from the checked file.
  DWORD error = GetLastError();
  ReleasePinnedDownload(held);
  SetLastError(error);
  if (!started) {
    WorkerUi.recordError(MESSAGE_RUNTIME_START_FAILED, 0);
    WorkerUi.setStatus(MESSAGE_RUNTIME_START_FAILED);
    WorkerUi.showStartButton(true);
    return false;
  }

  WaitForSingleObject(process.hProcess, INFINITE);
  BOOL read = GetExitCodeProcess(process.hProcess, &exitCode);
  // Taken once, before anything else can change it; the log line and the
  // message show the same code.
  DWORD lastError = GetLastError();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (read && (exitCode == RUNTIME_EXIT_INSTALLED || exitCode == RUNTIME_EXIT_RESTART_NEEDED)) {
    LogLine("done.");
    return true;
  }
  LogFormat("get exit code fail. exit: %d, last: %d", static_cast<int>(exitCode), static_cast<int>(lastError));
  SetLastError(lastError);
  WorkerUi.recordError(MESSAGE_RUNTIME_INSTALL_FAILED, exitCode);
  return false;
}

// Registers the running executable, quoted when needed, to run once after the
// restart. Failures are not reported: the restart goes ahead all the same.
static void RegisterRunOnce() {
  WCHAR modulePath[MAX_PATH];
  WCHAR command[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, modulePath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  if (!BuildInstallerCommandLine(modulePath, L"", command)) {
    LogLine("run-once command too long");
    return;
  }
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  DWORD bytes = static_cast<DWORD>((lstrlenW(command) + 1) * sizeof(WCHAR));
  RegSetValueExW(key, RUN_ONCE_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), bytes);
  RegCloseKey(key);
}

PrerequisiteResult RuntimePrerequisiteStep(const DownloadLimits& limits) {
  if (!NeedsRuntimeCheck(GetVersion())) return RUNTIME_READY;
  DWORD attributes = GetFileAttributesW(RUNTIME_FOLDER);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RUNTIME_READY;

  WCHAR installerPath[MAX_PATH];
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!DownloadRuntimeInstaller(installerPath, &held, limits)) return RUNTIME_DOWNLOAD_FAILED;
  DWORD exitCode = static_cast<DWORD>(-1);
  if (!RunRuntimeInstaller(installerPath, &held, exitCode)) return RUNTIME_INSTALL_FAILED;

  PrerequisiteResult result = RUNTIME_READY;
  if (exitCode == RUNTIME_EXIT_RESTART_NEEDED) {
    // Either answer ends the run with the worker closing the window. Published
    // before asking, so that a window closed right after a Yes still waits for
    // the restart request.
    MarkWorkerClosingWindow();
    bool now = WorkerUi.askUser(MESSAGE_RESTART_QUESTION, MB_YESNO | MB_ICONQUESTION) == IDYES;
    result = now ? RUNTIME_RESTART_NOW : RUNTIME_RESTART_DECLINED;
    if (result == RUNTIME_RESTART_NOW) RegisterRunOnce();
  }
  FileFailure failure;
  if (!DeleteOwnFile(installerPath, &failure)) LogFileFailure(failure, installerPath);
  return result;
}
