// The demo product installer: shows for a few seconds that it was started and
// writes "demo-product-ran.txt" beside itself with its command line.
#include <windows.h>
#include <stdio.h>

static const UINT_PTR CLOSE_TIMER = 1;
static const UINT SHOW_MS = 4000;

static LRESULT CALLBACK DemoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

static void WriteRecord() {
  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  while (length > 0 && path[length - 1] != L'\\') --length;
  path[length] = L'\0';
  if (length + 24 >= MAX_PATH) return;
  lstrcatW(path, L"demo-product-ran.txt");
  FILE* file = _wfopen(path, L"wb");
  if (file == NULL) return;
  char line[MAX_PATH * 4];
  if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL, NULL) > 0)
    fprintf(file, "demo product installer started: %s\n", line);
  fclose(file);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WriteRecord();
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DemoWindowProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"DemoProductInstaller";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"DemoProductInstaller", L"Demo product installer",
                                WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 40, 40, 420, 120, NULL, NULL,
                                instance, NULL);
  CreateWindowExW(0, L"STATIC", L"The demo product installer is running. It closes by itself.",
                  WS_CHILD | WS_VISIBLE, 12, 20, 390, 40, window, NULL, instance, NULL);
  SetTimer(window, CLOSE_TIMER, SHOW_MS, NULL);
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
