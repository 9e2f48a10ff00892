// setupstamp.exe's file work through Win32.
#include <windows.h>

#include "tools/setupstamp/file_access.h"

static_assert(FILE_ERROR_NOT_FOUND == ERROR_FILE_NOT_FOUND && FILE_ERROR_PATH_NOT_FOUND == ERROR_PATH_NOT_FOUND &&
                  FILE_ERROR_ACCESS_DENIED == ERROR_ACCESS_DENIED &&
                  FILE_ERROR_SHARING_VIOLATION == ERROR_SHARING_VIOLATION && FILE_ERROR_DISK_FULL == ERROR_DISK_FULL &&
                  FILE_ERROR_NAME_TOO_LONG == ERROR_FILENAME_EXCED_RANGE && FILE_ERROR_NOT_A_FOLDER == ERROR_DIRECTORY,
              "the shared error numbers are Windows' own");

static std::wstring Failure(const std::wstring& path, const std::wstring& what, DWORD code) {
  return FileFailure(path, what, DescribeFileError(code));
}

std::wstring FolderOfPath(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    // "C:name" lies in the current folder of drive C.
    return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) + L"." : std::wstring(L".");
  }
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

bool ReadFilePieces(const std::wstring& path, FilePieceSink sink, void* context, std::wstring& failure) {
  // Write sharing: an editor may still have the file open.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = Failure(path, L"cannot open it", GetLastError());
    return false;
  }
  bool ok = true;
  char chunk[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk, sizeof(chunk), &read, NULL)) {
      failure = Failure(path, L"cannot read it", GetLastError());
      ok = false;
      break;
    }
    if (read == 0) break;
    sink(context, chunk, read);
  }
  CloseHandle(file);
  return ok;
}

static bool WriteWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& failure) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = Failure(path, L"cannot write it", GetLastError());
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
            written == bytes.size();
  if (!ok) failure = Failure(path, L"cannot write it", GetLastError());
  CloseHandle(file);
  return ok;
}

bool ReplaceFileWith(const std::wstring& target, const std::string& bytes, std::wstring& failure) {
  // Windows refuses to replace a read-only file, but Wine renames over one;
  // both are told the same here, before anything is made.
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    failure = target + L": error: it is read-only";
    return false;
  }
  std::wstring folder = FolderOfPath(target);
  WCHAR temporary[MAX_PATH + 16];
  // GetTempFileNameW creates the (empty) file; it is ours to delete from here on.
  if (folder.size() + 14 >= MAX_PATH || GetTempFileNameW(folder.c_str(), L"stp", 0, temporary) == 0) {
    failure = Failure(folder, L"cannot create a temporary file in this folder",
                      folder.size() + 14 >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
    return false;
  }
  bool done = WriteWholeFile(temporary, bytes, failure);
  if (done && !MoveFileExW(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure = Failure(target, L"cannot replace it", GetLastError());
    done = false;
  }
  if (!done) DeleteFileW(temporary);
  return done;
}
