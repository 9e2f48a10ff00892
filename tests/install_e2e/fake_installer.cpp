// Stands in for a downloaded installer. It appends its command line and working
// directory to "<its own path>.ran" (UTF-8, one line each) and exits with the
// number written in "<its own path>.exit" (0 when there is none).
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

  int code = 0;
  _snwprintf(other, MAX_PATH + 8, L"%ls.exit", self);
  other[MAX_PATH + 7] = L'\0';
  file = _wfopen(other, L"r");
  if (file != NULL) {
    if (fscanf(file, "%d", &code) != 1) code = 0;
    fclose(file);
  }
  return code;
}
