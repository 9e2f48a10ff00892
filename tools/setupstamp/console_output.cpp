#include "tools/setupstamp/console_output.h"

#include <windows.h>

#include "tools/setupstamp/text_encoding.h"

static void WriteBytes(HANDLE handle, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset), &written, NULL) ||
        written == 0)
      return;
    offset += written;
  }
}

static void WriteText(DWORD standardHandle, const std::wstring& text) {
  HANDLE handle = GetStdHandle(standardHandle);
  if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    // Result ignored: there is nowhere else to report a failed console write.
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    return;
  }
  WriteBytes(handle, Utf8FromWide(text));
}

void WriteOutput(const std::wstring& text) { WriteText(STD_OUTPUT_HANDLE, text); }
void WriteError(const std::wstring& text) { WriteText(STD_ERROR_HANDLE, text); }
