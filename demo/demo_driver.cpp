// Helper of the demonstration script.
//   demo_driver stamp SETUP.EXE CONFIG.TXT   puts the configuration text (GBK,
//                                             CR LF) into SETUP.EXE as its
//                                             resource 1600/1601
//   demo_driver press                         waits up to 20 s for the installer
//                                             window and presses its button
// Exit code 0 on success, 1 otherwise; what failed goes to standard error.
#include <windows.h>
#include <stdio.h>

#include <vector>

static const WCHAR WINDOW_CLASS[] = L"ZunGenericWindowClass";

static int Stamp(const WCHAR* exePath, const WCHAR* configPath) {
  HANDLE file = CreateFileW(configPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fwprintf(stderr, L"cannot read %ls\n", configPath);
    return 1;
  }
  std::vector<char> text(GetFileSize(file, NULL));
  DWORD got = 0;
  BOOL read = text.empty() || ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, NULL);
  CloseHandle(file);
  if (!read || got != text.size()) {
    fwprintf(stderr, L"cannot read %ls\n", configPath);
    return 1;
  }
  HANDLE update = BeginUpdateResourceW(exePath, FALSE);
  if (update == NULL) {
    fwprintf(stderr, L"cannot open %ls for resource update (%lu)\n", exePath, GetLastError());
    return 1;
  }
  BOOL written = UpdateResourceW(update, MAKEINTRESOURCEW(1600), MAKEINTRESOURCEW(1601),
                                 MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), text.data(),
                                 static_cast<DWORD>(text.size()));
  if (!EndUpdateResourceW(update, written ? FALSE : TRUE) || !written) {
    fwprintf(stderr, L"resource update of %ls failed (%lu)\n", exePath, GetLastError());
    return 1;
  }
  return 0;
}

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
  if (argc == 4 && lstrcmpW(argv[1], L"stamp") == 0) return Stamp(argv[2], argv[3]);
  if (argc == 2 && lstrcmpW(argv[1], L"press") == 0) return Press();
  fwprintf(stderr, L"usage: demo_driver stamp SETUP.EXE CONFIG.TXT | demo_driver press\n");
  return 1;
}
