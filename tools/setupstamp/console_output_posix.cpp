#include <errno.h>
#include <unistd.h>

#include "tools/setupstamp/console_output.h"
#include "tools/setupstamp/text_encoding.h"

static void WriteBytes(int file, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    ssize_t written = write(file, bytes.data() + offset, bytes.size() - offset);
    if (written < 0 && errno == EINTR) continue;
    // Nowhere else to report a failed write to standard output or error.
    if (written <= 0) return;
    offset += static_cast<size_t>(written);
  }
}

void WriteOutput(const std::wstring& text) { WriteBytes(STDOUT_FILENO, Utf8FromWide(text)); }
void WriteError(const std::wstring& text) { WriteBytes(STDERR_FILENO, Utf8FromWide(text)); }
