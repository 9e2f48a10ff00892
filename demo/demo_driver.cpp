// Helper of the demonstration script.
//   demo_driver press    waits up to 20 s for the installer window and presses
//                        its button
// Exit code 0 on success, 1 otherwise; what failed goes to standard error.
#include <windows.h>
#include <stdio.h>

static const WCHAR WINDOW_CLASS[] = L"ZunGenericWindowClass";

static HWND FoundButton;

static BOOL CALLBACK FindButton(HWND child, LPARAM) {
  WCHAR name[32];
  if (GetClassNameW(child, name, 32) && lstrcmpiW(name, L"Button") == 0 && IsWindowVisible(child)) {
    FoundButton = child;
    return FALSE;
  }
  return TRUE;
}

static int Press() {
  for (int attempt = 0; attempt < 200; ++attempt) {
    HWND window = FindWindowW(WINDOW_CLASS, NULL);
    if (window != NULL && IsWindowVisible(window)) {
      FoundButton = NULL;
      EnumChildWindows(window, FindButton, 0);
      if (FoundButton != NULL) {
        PostMessageW(FoundButton, BM_CLICK, 0, 0);
        return 0;
      }
    }
    Sleep(100);
  }
  fwprintf(stderr, L"no installer window with a start button appeared\n");
  return 1;
}

int wmain(int argc, WCHAR** argv) {
  if (argc == 2 && lstrcmpW(argv[1], L"press") == 0) return Press();
  fwprintf(stderr, L"usage: demo_driver press\n");
  return 1;
}
