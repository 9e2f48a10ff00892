#include "install/download_folder.h"

#include <sddl.h>

#include "install/folder_files.h"
#include "install/install_state.h"
#include "install/installer_command.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/final_path.h"
#include "platform/fresh_file.h"
#include "platform/protected_folder.h"

// Under the Windows folder that the system names (never an environment variable).
static const WCHAR FOLDER_NAME[] = L"Temp\\brenvik-setup";

// Why a verdict refuses a folder, for its run-log line; the objection's SID or
// number follows. Texts in place, not pointers: each pointer would cost the
// exe a relocation.
static const char REFUSALS[][40] = {
    "",
    "its owner is ",
    "it lets another change it: ",
    "it has no dacl",
    "it has an allowing entry of type ",
    "its security descriptor is malformed",
    "it is a link or junction",
    "it is not a folder",
    "not opened or its security not read. ",
};
static_assert(sizeof REFUSALS / sizeof REFUSALS[0] == FOLDER_NOT_READ + 1, "a text for every verdict");

static void LogRefusal(const WCHAR* path, const FolderObjection& objection) {
  WCHAR* sid = NULL;
  if (objection.sid[0] != 0) ConvertSidToStringSidW(const_cast<BYTE*>(objection.sid), &sid);
  const char* reason = REFUSALS[objection.verdict];
  if (objection.verdict == FOLDER_UNREAD_ENTRY || objection.verdict == FOLDER_NOT_READ)
    LogFormat("download folder %s refused: %S%d", path, reason, static_cast<int>(objection.rights));
  else
    LogFormat("download folder %s refused: %S%s", path, reason, sid != NULL ? sid : L"");
  LocalFree(sid);
}

// The folder's path under the system's Windows folder; 0 or an error code.
static DWORD ExpectedFolderPath(WCHAR* path) {
  WCHAR windows[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0) return GetLastError();
  return length < MAX_PATH && JoinInstallerPath(windows, FOLDER_NAME, path) ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

// A fresh folder beside `expected`, of a name nobody can guess, into `fresh`; 0 or an error code.
static DWORD MakeFreshFolder(const WCHAR* expected, WCHAR* fresh, HANDLE* held) {
  BYTE bytes[FRESH_FOLDER_BYTES];
  DWORD error = SystemRandomBytes(bytes, sizeof bytes);
  if (error != 0) return error;
  return FreshFolderName(expected, bytes, fresh) ? MakeProtectedFolder(fresh, held) : ERROR_FILENAME_EXCED_RANGE;
}

// The folder at `path`, held in `held`, becomes DownloadDir, named by its final
// path where the system gives one (the form the installers' final paths take).
static void UseHeldFolder(HANDLE held, const WCHAR* path, bool made) {
  if (FinalPathOf(held, DownloadDir) != FINAL_PATH_READ) lstrcpynW(DownloadDir, path, MAX_PATH);
  LogFormat("download folder %S: %s", made ? "made" : "kept", DownloadDir);
  DownloadDirProtected = true;
  RemoveOlderFolderFiles(DownloadDir);
}

void ChooseDownloadFolder() {
  WCHAR expected[MAX_PATH] = L"";
  WCHAR fresh[MAX_PATH] = L"";
  FolderObjection objection;
  bool kept = false;
  // Never closed: held until the process ends, so that nobody renames the folder away meanwhile.
  HANDLE held = INVALID_HANDLE_VALUE;
  if (DownloadDir[0] != L'\0' || InstallDir[0] == L'\0') return;
  DWORD error = ExpectedFolderPath(expected);
  if (error == 0) error = MakeProtectedFolder(expected, &held);
  if (error == ERROR_ALREADY_EXISTS) {
    kept = OpenExistingFolder(expected, &held, &objection) == FOLDER_TRUSTED;
    if (kept) {
      error = 0;
    } else {
      LogRefusal(expected, objection);
      error = MakeFreshFolder(expected, fresh, &held);
    }
  }
  const WCHAR* chosen = fresh[0] != L'\0' ? fresh : expected;
  if (error == 0) {
    UseHeldFolder(held, chosen, !kept);
    return;
  }
  LogFormat("download folder %s not made, downloads go beside setup.exe. %d", chosen, static_cast<int>(error));
  lstrcpyW(DownloadDir, InstallDir);
}

void RemoveOlderFolderFiles(const WCHAR* folder) {
  WCHAR names[FOLDER_LISTING_LIMIT][MAX_PATH];
  FolderEntry entries[FOLDER_LISTING_LIMIT];
  bool remove[FOLDER_LISTING_LIMIT];
  WCHAR path[MAX_PATH];
  WIN32_FIND_DATAW found;
  FileFailure failure;
  int count = 0;
  if (!JoinInstallerPath(folder, L"*", path)) return;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    FolderFileKind kind = KindOfFolderFile(found.cFileName);
    if (count == FOLDER_LISTING_LIMIT || kind == NOT_SETUPS_FILE) continue;
    lstrcpynW(names[count], found.cFileName, MAX_PATH);
    ULARGE_INTEGER written = {{found.ftLastWriteTime.dwLowDateTime, found.ftLastWriteTime.dwHighDateTime}};
    entries[count++] = {kind, written.QuadPart, found.dwFileAttributes};
  } while (FindNextFileW(search, &found));
  FindClose(search);
  ChooseOlderFolderFiles(entries, count, remove);
  for (int i = 0; i < count; ++i) {
    if (!remove[i] || !JoinInstallerPath(folder, names[i], path)) continue;
    if (DeletePlainFile(path, &failure))
      LogFormat("older download removed: %s", path);
    else
      LogFileFailure(failure, path);
  }
}
