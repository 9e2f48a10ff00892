// Stands in for a library that someone planted beside setup.exe under the name
// of a system library. Loading it appends a line to "<its own path>.loaded";
// it then refuses to stay, so the process goes on as it would without it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  WCHAR path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  lstrcatW(path, L".loaded");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD wrote = 0;
    WriteFile(file, "loaded\n", 7, &wrote, NULL);
    CloseHandle(file);
  }
  return FALSE;
}
