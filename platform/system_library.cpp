#include "platform/system_library.h"

// Only in the headers for later systems.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

bool SystemLibraryPath(const WCHAR* systemFolder, const WCHAR* name, WCHAR* path) {
  path[0] = L'\0';
  int folderLength = lstrlenW(systemFolder);
  if (folderLength == 0) return false;
  bool separator = systemFolder[folderLength - 1] != L'\\';
  if (folderLength + (separator ? 1 : 0) + lstrlenW(name) >= MAX_PATH) return false;
  lstrcpyW(path, systemFolder);
  if (separator) lstrcatW(path, L"\\");
  lstrcatW(path, name);
  return true;
}

HMODULE LoadSystemLibrary(const WCHAR* name) {
  WCHAR folder[MAX_PATH];
  WCHAR path[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !SystemLibraryPath(folder, name, path)) {
    SetLastError(ERROR_BAD_PATHNAME);
    return NULL;
  }
  HMODULE module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A loader without the flag refuses it as a parameter; any other failure is the library's own.
  if (module == NULL && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module;
}
