// Stands in for a downloaded installer. It appends its command line and working
// directory to "<its own path>.ran" (UTF-8, one line each), loads uxtheme.dll
// by name as an installer without any defence of its own does, and exits with
// the number in the environment variable FAKE_INSTALLER_EXIT_CODE (0 without it).
#include <windows.h>
#include <stdio.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  WCHAR self[MAX_PATH];
  WCHAR other[MAX_PATH + 8];
  WCHAR directory[MAX_PATH];
  GetModuleFileNameW(NULL, self, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, directory);

  _snwprintf(other, MAX_PATH + 8, L"%ls.ran", self);
  other[MAX_PATH + 7] = L'\0';
  FILE* file = _wfopen(other, L"ab");
  if (file != NULL) {
    static char line[MAX_PATH * 8];
    if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL, NULL) > 0)
      fprintf(file, "%s\n", line);
    if (WideCharToMultiByte(CP_UTF8, 0, directory, -1, line, sizeof line, NULL, NULL) > 0)
      fprintf(file, "%s\n", line);
    fclose(file);
  }

  // Its own folder comes first in the search: a copy planted there is the one loaded.
  HMODULE theme = LoadLibraryW(L"uxtheme.dll");
  if (theme != NULL) FreeLibrary(theme);

  WCHAR code[16];
  DWORD length = GetEnvironmentVariableW(L"FAKE_INSTALLER_EXIT_CODE", code, 16);
  return length > 0 && length < 16 ? _wtoi(code) : 0;
}
