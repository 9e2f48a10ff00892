#include "tools/setupstamp/console_output.h"

#include "tools/setupstamp/text_encoding.h"

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
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    // Result ignored: there is nowhere else to report a failed console write.
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    return;
  }
  WriteBytes(standardHandle, Utf8FromWide(text));
}
