#include "tools/setupstamp/console_output.h"

#include "tools/setupstamp/text_encoding.h"

// Wine's own console writes UTF-16 to the terminal in the Unix locale's
// encoding, which may not be UTF-8; only a real Windows console gets UTF-16.
static bool IsWindowsConsole(HANDLE handle) {
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return false;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll == NULL || GetProcAddress(ntdll, "wine_get_version") == NULL;
}

void WriteBytes(DWORD standardHandle, const std::string& bytes) {
  HANDLE handle = GetStdHandle(standardHandle);
  if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset), &written, NULL) ||
        written == 0)
      return;
    offset += written;
  }
}

void WriteText(DWORD standardHandle, const std::wstring& text) {
  HANDLE handle = GetStdHandle(standardHandle);
  if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
  if (IsWindowsConsole(handle)) {
    DWORD written = 0;
    // Result ignored: there is nowhere else to report a failed console write.
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    return;
  }
  WriteBytes(standardHandle, Utf8FromWide(text));
}
