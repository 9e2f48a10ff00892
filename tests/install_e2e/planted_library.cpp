// Stands in for a library that someone planted beside setup.exe under the name
// of a system library. Loading it appends the loading program's path, one line,
// to "<its own path>.loaded"; it then refuses to stay, so the process goes on
// as it would without it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  WCHAR path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  lstrcatW(path, L".loaded");
  char loader[MAX_PATH * 3 + 1];
  WCHAR program[MAX_PATH];
  DWORD programLength = GetModuleFileNameW(NULL, program, MAX_PATH);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, program, static_cast<int>(programLength), loader, MAX_PATH * 3, NULL, NULL);
  loader[bytes > 0 ? bytes : 0] = '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD wrote = 0;
    WriteFile(file, loader, static_cast<DWORD>(bytes > 0 ? bytes + 1 : 1), &wrote, NULL);
    CloseHandle(file);
  }
  return FALSE;
}
