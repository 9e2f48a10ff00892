// setupstamp: the stamping tool on Linux and other POSIX systems
// (stamp_tool.h). Arguments and paths are UTF-8; the tool works on UTF-16.
#include <string>
#include <vector>

#include "tools/setupstamp/console_output.h"
#include "tools/setupstamp/stamp_arguments.h"
#include "tools/setupstamp/stamp_tool.h"
#include "tools/setupstamp/text_encoding.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> texts(argc > 1 ? argc - 1 : 0);
  std::vector<const wchar_t*> arguments;
  for (int i = 1; i < argc; ++i) {
    // Another encoding could not be told apart from UTF-8 reliably, nor named back in messages.
    if (!WideFromUtf8(argv[i], texts[i - 1])) {
      WriteError(L"setupstamp: argument " + std::to_wstring(i) + L" is not UTF-8\n" + STAMP_USAGE);
      return STAMP_EXIT_USAGE;
    }
    arguments.push_back(texts[i - 1].c_str());
  }
  return RunStampTool(static_cast<int>(arguments.size()), arguments.data());
}
