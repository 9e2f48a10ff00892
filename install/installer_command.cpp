#include "install/installer_command.h"

#include <shlwapi.h>

#include "log/run_log.h"
#include "platform/final_path.h"

bool JoinInstallerPath(const WCHAR* folder, const WCHAR* fileName, WCHAR* path) {
  path[0] = L'\0';
  // No folder (the executable's own path did not fit): a bare file name would
  // land in whatever the current directory is.
  if (folder[0] == L'\0') return false;
  // Folder, one separator and the name, with the terminator.
  if (lstrlenW(folder) + 1 + lstrlenW(fileName) >= MAX_PATH) return false;
  if (PathCombineW(path, folder, fileName) == NULL) {
    path[0] = L'\0';
    return false;
  }
  return true;
}

bool BuildInstallerCommandLine(const WCHAR* path, const WCHAR* arguments, WCHAR* commandLine) {
  commandLine[0] = L'\0';
  int length = lstrlenW(path);
  bool spaced = StrChrW(path, L' ') != NULL;
  // PathQuoteSpacesW leaves a path unquoted unless the quotes and the terminator
  // leave one code unit spare, so the quoted form gets one unit less than MAX_PATH.
  if (spaced && length + 3 >= MAX_PATH) return false;
  if (length + (spaced ? 2 : 0) + lstrlenW(arguments) >= MAX_PATH) return false;
  lstrcpynW(commandLine, path, MAX_PATH);
  PathQuoteSpacesW(commandLine);
  if (spaced && commandLine[0] != L'"') {
    commandLine[0] = L'\0';
    return false;
  }
  lstrcatW(commandLine, arguments);
  return true;
}

void InstallerStartPath(HANDLE held, const WCHAR* installerPath, WCHAR* startPath) {
  FinalPathRead read = FinalPathOf(held, startPath);
  if (read == FINAL_PATH_READ) return;
  if (read == FINAL_PATH_FAILED)
    LogFormat("installer's final path not read. %d", static_cast<int>(GetLastError()));
  lstrcpynW(startPath, installerPath, MAX_PATH);
}

bool StartInstallerProcess(const WCHAR* commandLine, const WCHAR* folder, PROCESS_INFORMATION* process) {
  WCHAR writable[MAX_PATH];
  lstrcpynW(writable, commandLine, MAX_PATH);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  ZeroMemory(process, sizeof *process);
  return CreateProcessW(NULL, writable, NULL, NULL, FALSE, 0, NULL, folder, &startup, process) != FALSE;
}
