#include "platform/final_path.h"

#include <wchar.h>

#include "platform/system_library.h"

// Room for a path of MAX_PATH units with the longest prefix ("\\?\UNC\" for "\\").
const DWORD FINAL_PATH_UNITS = MAX_PATH + 6;

bool PlainFromFinalPath(const WCHAR* final, WCHAR* plain) {
  const WCHAR* rest = NULL;
  const WCHAR* lead = L"";
  plain[0] = L'\0';
  // wcsstr is imported already; the prefixes are short.
  if (wcsstr(final, L"\\\\?\\UNC\\") == final) {
    rest = final + 8;
    lead = L"\\\\";
  } else if (wcsstr(final, L"\\\\?\\") == final && final[4] != L'\0' && final[5] == L':') {
    rest = final + 4;
  }
  if (rest == NULL || lstrlenW(lead) + lstrlenW(rest) >= MAX_PATH) return false;
  lstrcpyW(plain, lead);
  lstrcatW(plain, rest);
  return true;
}

FinalPathRead FinalPathOf(HANDLE handle, WCHAR* path) {
  WCHAR final[FINAL_PATH_UNITS];
  DWORD(WINAPI * finalPath)(HANDLE, LPWSTR, DWORD, DWORD) = NULL;
  // kernel32 is loaded already (an import): looking it up loads nothing.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == NULL || !LookUpFunction(kernel32, "GetFinalPathNameByHandleW", &finalPath))
    return FINAL_PATH_UNAVAILABLE;
  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS: the drive letter's form.
  DWORD length = finalPath(handle, final, FINAL_PATH_UNITS, 0);
  if (length == 0) return FINAL_PATH_FAILED;
  if (length >= FINAL_PATH_UNITS || !PlainFromFinalPath(final, path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FINAL_PATH_FAILED;
  }
  return FINAL_PATH_READ;
}
