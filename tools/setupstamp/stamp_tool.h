// The stamping tool itself, the same for setupstamp.exe and the native
// setupstamp: checks a product's configuration text and writes it into a
// prebuilt setup.exe as the configuration resource, or prints the one it has.
#pragma once

#include <string>

#include "tools/setupstamp/exe_stamp.h"

// Runs the tool on the arguments after the program name (UTF-16 code units);
// gives its exit code (STAMP_EXIT_...).
int RunStampTool(int count, const wchar_t* const* arguments);

// The line that says why an exe could not be read or stamped.
std::wstring DescribeStampFailure(const std::wstring& exePath, ExeStampResult result);
