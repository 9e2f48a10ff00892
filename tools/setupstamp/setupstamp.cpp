// setupstamp.exe: the stamping tool on Windows (stamp_tool.h).
#include "tools/setupstamp/stamp_tool.h"

int wmain(int argc, wchar_t** argv) { return RunStampTool(argc - 1, argv + 1); }
