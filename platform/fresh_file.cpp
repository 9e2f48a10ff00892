#include "platform/fresh_file.h"

#include <stdio.h>
#include <winternl.h>

#include "platform/folder_rules.h"
#include "platform/system_library.h"

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
  NTSTATUS(NTAPI * setInformation)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int) = NULL;
  ULONG(NTAPI * statusToError)(NTSTATUS) = NULL;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == NULL || !LookUpFunction(ntdll, "NtSetInformationFile", &setInformation) ||
      !LookUpFunction(ntdll, "RtlNtStatusToDosError", &statusToError))
    return ERROR_PROC_NOT_FOUND;
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

// Hands a failure to the caller (when it asked) and to the thread's last error.
static void Report(FileFailure* failure, const char* what, const char* reason, DWORD code) {
  if (failure != NULL) {
    failure->what = what;
    failure->reason = reason;
    failure->code = code;
  }
  SetLastError(code);
}

static LONG TempSerial;

HANDLE CreateFreshFile(const WCHAR* path, DWORD access, DWORD share, FileFailure* failure,
                       SECURITY_ATTRIBUTES* security) {
  WCHAR temp[MAX_PATH];
  static_assert(sizeof(RenameInformation) < 1024, "fits on the stack of every thread that makes a file");
  RenameInformation rename;
  BY_HANDLE_FILE_INFORMATION information;
  FileFailure why = {NULL, NULL, 0};
  HANDLE file = INVALID_HANDLE_VALUE;

  ForgetOwnFile(path);
  rename.replaceIfExists = TRUE;
  rename.rootDirectory = NULL;
  if (!FreshFileTempPath(path, GetCurrentProcessId(), static_cast<DWORD>(InterlockedIncrement(&TempSerial)), temp) ||
      !NativePathOf(path, rename.fileName, NATIVE_PATH_UNITS)) {
    why = {"file not created afresh", "its name is too long", ERROR_FILENAME_EXCED_RANGE};
    goto done;
  }
  rename.fileNameLength = static_cast<ULONG>(lstrlenW(rename.fileName) * sizeof(WCHAR));
  // A name that nothing else uses, made exclusively: whatever is found there
  // fails the creation, and nothing is followed. Not the final name itself:
  // clearing that first would need a deletion by name, and Wine, deleting a
  // symbolic link by name, deletes the file it names.
  file = CreateFileW(temp, access | DELETE, share, security, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    why = {"file not created afresh", NULL, GetLastError()};
    goto done;
  }
  // Renaming replaces the entry under the name, a link as a link, in one step.
  why.code = SetOpenFileInformation(file, &rename, sizeof rename, FILE_RENAME_INFORMATION_CLASS);
  if (why.code != 0) {
    why.what = "new file not put in place";
    goto done;
  }
  why.reason = CheckOpenedFile(file, &information);
  if (why.reason != NULL) {
    why = {"new file refused", why.reason, ERROR_ACCESS_DENIED};
    goto done;
  }
  RememberOwnFile(path, information);

done:
  if (why.code != 0 && file != INVALID_HANDLE_VALUE) {
    // Whatever its name is now, through the handle: no name is looked up.
    DeleteOpenFile(file);
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  if (file == INVALID_HANDLE_VALUE) Report(failure, why.what, why.reason, why.code);
  return file;
}

long long BytesFreedByReplacing(const WCHAR* path) {
  BY_HANDLE_FILE_INFORMATION information;
  long long bytes = 0;
  // Its attributes only, shared every way: the name's own entry, never what a link names.
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (CheckOpenedFile(file, &information) == NULL && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    bytes = (static_cast<long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    // A sparse or compressed file frees what it takes on the disk, no more.
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_COMPRESSED)) != 0) {
      DWORD high = 0;
      SetLastError(NO_ERROR);
      DWORD low = GetCompressedFileSizeW(path, &high);
      long long allocated = (static_cast<long long>(high) << 32) | low;
      if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) allocated = 0;
      if (allocated < bytes) bytes = allocated;
    }
  }
  CloseHandle(file);
  return bytes;
}

// The file at `path` itself (a reparse point is opened, not followed), when it
// is a plain file with one name; otherwise INVALID_HANDLE_VALUE and *why.
static HANDLE OpenPlainFile(const WCHAR* path, DWORD access, DWORD share, BY_HANDLE_FILE_INFORMATION* information,
                            FileFailure* why) {
  HANDLE file = CreateFileW(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) {
    why->code = GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  why->reason = CheckOpenedFile(file, information);
  if (why->reason != NULL) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

HANDLE AdoptEarlierFile(const WCHAR* path, DWORD access, FileFailure* failure) {
  DWORD descriptor[256];  // aligned as the system's structures are; a larger one is refused
  DWORD size = 0;
  BY_HANDLE_FILE_INFORMATION information;
  FolderObjection objection;
  FileFailure why = {"file not reopened", NULL, ERROR_ACCESS_DENIED};
  HANDLE file = OpenPlainFile(path, access | DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                              &information, &why);
  if (file == INVALID_HANDLE_VALUE) goto done;
  // Judged through the handle that names the file remembered.
  if (!GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor,
                               sizeof descriptor, &size)) {
    why.code = GetLastError();
  } else if (JudgeFolderDescriptor(descriptor, size, &objection) != FOLDER_TRUSTED) {
    why.reason = "it is not the administrators' alone";
  } else {
    RememberOwnFile(path, information);
    return file;
  }
  CloseHandle(file);
done:
  Report(failure, why.what, why.reason, why.code);
  return INVALID_HANDLE_VALUE;
}

// The file at `path`, opened again when it is still the one this process
// made; otherwise INVALID_HANDLE_VALUE and *why.
static HANDLE ReopenOwnFile(const WCHAR* path, DWORD access, DWORD share, FileFailure* why) {
  BY_HANDLE_FILE_INFORMATION information;
  const OwnFile* own = FindOwnFile(path);
  *why = {"file not reopened", NULL, ERROR_ACCESS_DENIED};
  if (own == NULL || !own->made) {
    why->reason = "this process did not make it";
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = OpenPlainFile(path, access, share, &information, why);
  if (file != INVALID_HANDLE_VALUE && (information.dwVolumeSerialNumber != own->volume ||
                                       information.nFileIndexHigh != own->indexHigh ||
                                       information.nFileIndexLow != own->indexLow)) {
    why->reason = "it is not the file this process made";
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

HANDLE OpenOwnFile(const WCHAR* path, DWORD access, DWORD share, FileFailure* failure) {
  FileFailure why;
  HANDLE file = ReopenOwnFile(path, access, share, &why);
  if (file == INVALID_HANDLE_VALUE) Report(failure, why.what, why.reason, why.code);
  return file;
}

// Deletes what `file` holds (INVALID_HANDLE_VALUE: the open failed with *why);
// closes it. Others' handles may stay open: the file goes when the last one closes.
static bool DeleteHeldFile(HANDLE file, FileFailure* why, FileFailure* failure) {
  bool deleted = file != INVALID_HANDLE_VALUE && DeleteOpenFile(file);
  if (file != INVALID_HANDLE_VALUE) {
    *why = {NULL, NULL, GetLastError()};
    CloseHandle(file);
  }
  // The open's reason, when it was refused, says why the name was left alone.
  if (!deleted) Report(failure, "file not deleted", why->reason, why->code);
  return deleted;
}

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool DeleteOwnFile(const WCHAR* path, FileFailure* failure) {
  FileFailure why;
  return DeleteHeldFile(ReopenOwnFile(path, DELETE, SHARE_ALL, &why), &why, failure);
}

bool DeletePlainFile(const WCHAR* path, FileFailure* failure) {
  BY_HANDLE_FILE_INFORMATION information;
  FileFailure why = {"file not deleted", NULL, ERROR_ACCESS_DENIED};
  return DeleteHeldFile(OpenPlainFile(path, DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, &information, &why), &why, failure);
}
