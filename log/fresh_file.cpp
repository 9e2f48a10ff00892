#include "log/fresh_file.h"

#include "log/run_log.h"

#include <stdio.h>
#include <winternl.h>

// Which file a path named when this process made it. Written by the thread
// that makes a file and read by one that waited for it: no two run at once.
struct OwnFile {
  WCHAR path[MAX_PATH];
  bool made;  // false while the name is being made again, or could not be
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};

// A run makes three files (two installers, the log); later runs reuse the same names.
const int OWN_FILE_SLOTS = 8;
static OwnFile OwnFiles[OWN_FILE_SLOTS];
static int NextOwnFileSlot;

const char* RefusalOfOpenedFile(DWORD attributes, DWORD numberOfLinks) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "it is a reparse point";
  if (numberOfLinks != 1) return "it has more than one name";
  return NULL;
}

static OwnFile* FindOwnFile(const WCHAR* path) {
  for (int i = 0; i < OWN_FILE_SLOTS; ++i)
    if (OwnFiles[i].path[0] != L'\0' && lstrcmpiW(OwnFiles[i].path, path) == 0) return &OwnFiles[i];
  return NULL;
}

// The file that the name held goes now: until a new one is made, nothing under
// the name is ours. Otherwise the old identity would stay, and under Wine an
// index is an inode number that Linux may hand to the next file made anywhere.
// The slot stays the name's: names made again and again keep the others'.
static void ForgetOwnFile(const WCHAR* path) {
  OwnFile* own = FindOwnFile(path);
  if (own != NULL) own->made = false;
}

static void RememberOwnFile(const WCHAR* path, const BY_HANDLE_FILE_INFORMATION& information) {
  OwnFile* own = FindOwnFile(path);
  for (int i = 0; own == NULL && i < OWN_FILE_SLOTS; ++i)
    if (OwnFiles[i].path[0] == L'\0') own = &OwnFiles[i];
  if (own == NULL) {
    // More names than slots: forgetting the oldest only costs a refused reopen, never a wrong one.
    own = &OwnFiles[NextOwnFileSlot];
    NextOwnFileSlot = (NextOwnFileSlot + 1) % OWN_FILE_SLOTS;
  }
  // A path that does not fit is not remembered, so never reopened.
  if (lstrlenW(path) >= MAX_PATH) {
    own->path[0] = L'\0';
    return;
  }
  lstrcpyW(own->path, path);
  own->made = true;
  own->volume = information.dwVolumeSerialNumber;
  own->indexHigh = information.nFileIndexHigh;
  own->indexLow = information.nFileIndexLow;
}

// The opened file's information, or the reason it must not be used (null when it may).
static const char* CheckOpenedFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  if (!GetFileInformationByHandle(file, information)) return "its information cannot be read";
  return RefusalOfOpenedFile(information->dwFileAttributes, information->nNumberOfLinks);
}

// Room for a path of MAX_PATH units in its native form ("\??\UNC\" where "\\" was).
const int NATIVE_PATH_UNITS = MAX_PATH + 6;

static bool StartsWith(const WCHAR* text, const WCHAR* start) {
  while (*start != L'\0')
    if (*text++ != *start++) return false;
  return true;
}

bool NativePathOf(const WCHAR* path, WCHAR* native, int capacity) {
  const WCHAR* prefix = L"\\??\\";
  const WCHAR* rest = path;
  if (StartsWith(path, L"\\\\?\\")) {
    rest = path + 4;
  } else if (StartsWith(path, L"\\\\")) {
    prefix = L"\\??\\UNC\\";
    rest = path + 2;
  }
  const WCHAR* parts[2] = {prefix, rest};
  int length = 0;
  for (int i = 0; i < 2; ++i)
    for (const WCHAR* c = parts[i]; *c != L'\0'; ++c) {
      if (length + 1 >= capacity) return false;
      native[length++] = *c;
    }
  native[length] = L'\0';
  return true;
}

bool FreshFileTempPath(const WCHAR* path, DWORD processId, DWORD serial, WCHAR* temp) {
  int folder = 0;  // units up to and with the last backslash
  for (int i = 0; path[i] != L'\0'; ++i)
    if (path[i] == L'\\') folder = i + 1;
  if (folder >= MAX_PATH) return false;
  lstrcpynW(temp, path, folder + 1);
  int room = MAX_PATH - folder;
  int written = _snwprintf(temp + folder, room, L"~setup-%lx-%lx.new", processId, serial);
  return written >= 0 && written < room;
}

// FILE_RENAME_INFORMATION with room for a whole path: the layout that
// NtSetInformationFile reads, on 32-bit and 64-bit systems alike.
struct RenameInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[NATIVE_PATH_UNITS];
};
const int FILE_RENAME_INFORMATION_CLASS = 10;
const int FILE_DISPOSITION_INFORMATION_CLASS = 13;

// NtSetInformationFile on an open handle: the only way, before Vista, to rename
// or delete a file through the handle that holds it rather than by a name
// (which a planted link could turn into another file). ntdll is in every
// process: looking it up loads nothing. 0 or a Win32 error code.
static DWORD SetOpenFileInformation(HANDLE file, void* information, ULONG size, int informationClass) {
  typedef NTSTATUS(NTAPI * SetInformationFunction)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
  typedef ULONG(NTAPI * StatusToErrorFunction)(NTSTATUS);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == NULL) return ERROR_PROC_NOT_FOUND;
  SetInformationFunction setInformation = reinterpret_cast<SetInformationFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
  StatusToErrorFunction statusToError = reinterpret_cast<StatusToErrorFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (setInformation == NULL || statusToError == NULL) return ERROR_PROC_NOT_FOUND;
  IO_STATUS_BLOCK status;
  NTSTATUS result = setInformation(file, &status, information, size, informationClass);
  return result >= 0 ? 0 : statusToError(result);
}

bool DeleteOpenFile(HANDLE file) {
  BOOLEAN deleteFile = TRUE;
  DWORD failure = SetOpenFileInformation(file, &deleteFile, sizeof deleteFile, FILE_DISPOSITION_INFORMATION_CLASS);
  if (failure != 0) SetLastError(failure);
  return failure == 0;
}

static LONG TempSerial;

HANDLE CreateFreshFile(const WCHAR* path, DWORD access, DWORD share) {
  WCHAR temp[MAX_PATH];
  static_assert(sizeof(RenameInformation) < 1024, "fits on the stack of every thread that makes a file");
  RenameInformation rename;
  BY_HANDLE_FILE_INFORMATION information;
  const char* refusal = NULL;
  DWORD failure = 0;
  HANDLE file = INVALID_HANDLE_VALUE;

  ForgetOwnFile(path);
  rename.replaceIfExists = TRUE;
  rename.rootDirectory = NULL;
  if (!FreshFileTempPath(path, GetCurrentProcessId(), static_cast<DWORD>(InterlockedIncrement(&TempSerial)), temp) ||
      !NativePathOf(path, rename.fileName, NATIVE_PATH_UNITS)) {
    failure = ERROR_FILENAME_EXCED_RANGE;
    LogFormat(L"file not created afresh, its name is too long: %s", path);
    goto done;
  }
  rename.fileNameLength = static_cast<ULONG>(lstrlenW(rename.fileName) * sizeof(WCHAR));
  // A name that nothing else uses, made exclusively: whatever is found there
  // fails the creation, and nothing is followed. Not the final name itself:
  // clearing that first would need a deletion by name, and Wine, deleting a
  // symbolic link by name, deletes the file it names.
  file = CreateFileW(temp, access | DELETE, share, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                     NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = GetLastError();
    LogFormat(L"file not created afresh. %d: %s", static_cast<int>(failure), path);
    goto done;
  }
  // Renaming replaces the entry under the name, a link as a link, in one step.
  failure = SetOpenFileInformation(file, &rename, sizeof rename, FILE_RENAME_INFORMATION_CLASS);
  if (failure != 0) {
    LogFormat(L"new file not put in place. %d: %s", static_cast<int>(failure), path);
    goto done;
  }
  refusal = CheckOpenedFile(file, &information);
  if (refusal != NULL) {
    failure = ERROR_ACCESS_DENIED;
    LogFormat(L"new file refused, %S: %s", refusal, path);
    goto done;
  }
  RememberOwnFile(path, information);

done:
  if (failure != 0 && file != INVALID_HANDLE_VALUE) {
    // Whatever its name is now, through the handle: no name is looked up.
    DeleteOpenFile(file);
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (file == INVALID_HANDLE_VALUE) SetLastError(failure);
  return file;
}

HANDLE OpenOwnFile(const WCHAR* path, DWORD access, DWORD share) {
  BY_HANDLE_FILE_INFORMATION information;
  const char* refusal = NULL;
  DWORD failure = ERROR_ACCESS_DENIED;
  const OwnFile* own = FindOwnFile(path);
  HANDLE file = INVALID_HANDLE_VALUE;

  if (own == NULL || !own->made) {
    LogFormat(L"file not reopened, this process did not make it: %s", path);
    goto done;
  }
  file = CreateFileW(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = GetLastError();
    LogFormat(L"file not reopened. %d: %s", static_cast<int>(failure), path);
    goto done;
  }
  refusal = CheckOpenedFile(file, &information);
  if (refusal == NULL && (information.dwVolumeSerialNumber != own->volume || information.nFileIndexHigh != own->indexHigh ||
                          information.nFileIndexLow != own->indexLow))
    refusal = "it is not the file this process made";
  if (refusal != NULL) {
    LogFormat(L"file not reopened, %S: %s", refusal, path);
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }

done:
  if (file == INVALID_HANDLE_VALUE) SetLastError(failure);
  return file;
}

bool DeleteOwnFile(const WCHAR* path) {
  // Others' handles may stay open: the file goes when the last one closes.
  HANDLE file = OpenOwnFile(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  bool deleted = file != INVALID_HANDLE_VALUE && DeleteOpenFile(file);
  DWORD failure = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!deleted) LogFormat(L"file not deleted. %d: %s", static_cast<int>(failure), path);
  return deleted;
}
