#include "log/fresh_file.h"

#include "log/run_log.h"

// Which file a path named when this process made it. Written by the thread
// that makes a file and read by one that waited for it: no two run at once.
struct OwnFile {
  WCHAR path[MAX_PATH];
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
static void ForgetOwnFile(const WCHAR* path) {
  OwnFile* own = FindOwnFile(path);
  if (own != NULL) own->path[0] = L'\0';
}

static void RememberOwnFile(const WCHAR* path, const BY_HANDLE_FILE_INFORMATION& information) {
  OwnFile* own = FindOwnFile(path);
  if (own == NULL) {
    // Forgetting the oldest only costs a refused reopen, never a wrong one.
    own = &OwnFiles[NextOwnFileSlot];
    NextOwnFileSlot = (NextOwnFileSlot + 1) % OWN_FILE_SLOTS;
  }
  // A path that does not fit is not remembered, so never reopened.
  if (lstrlenW(path) >= MAX_PATH) {
    own->path[0] = L'\0';
    return;
  }
  lstrcpyW(own->path, path);
  own->volume = information.dwVolumeSerialNumber;
  own->indexHigh = information.nFileIndexHigh;
  own->indexLow = information.nFileIndexLow;
}

// The opened file's information, or the reason it must not be used (null when it may).
static const char* CheckOpenedFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  if (!GetFileInformationByHandle(file, information)) return "its information cannot be read";
  return RefusalOfOpenedFile(information->dwFileAttributes, information->nNumberOfLinks);
}

HANDLE CreateFreshFile(const WCHAR* path, DWORD access, DWORD share) {
  BY_HANDLE_FILE_INFORMATION information;
  const char* refusal = NULL;
  DWORD failure = 0;
  HANDLE file = INVALID_HANDLE_VALUE;

  ForgetOwnFile(path);
  // Whatever is there goes first, a planted link included: deleting a link
  // removes the link only. What cannot be deleted makes the creation fail.
  if (!DeleteFileW(path) && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
    LogFormat(L"old file not removed. %d: %s", static_cast<int>(GetLastError()), path);
  // CREATE_NEW fails on any name that appeared meanwhile, and the flag keeps a
  // link that is there from being followed.
  file = CreateFileW(path, access, share, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = GetLastError();
    LogFormat(L"file not created afresh. %d: %s", static_cast<int>(failure), path);
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
  if (refusal != NULL) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    // Our own name only; whatever else names the file stays.
    DeleteFileW(path);
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

  if (own == NULL) {
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
