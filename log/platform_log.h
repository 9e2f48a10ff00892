// Run-log lines for the failures that the platform floor hands back instead of
// logging them itself: a file operation refused or failed, a system library or
// one of its functions missing.
#pragma once

#include <windows.h>

#include "platform/fresh_file.h"
#include "platform/function_table.h"

// "WHAT, REASON: PATH", or "WHAT. CODE: PATH" when no reason was given.
void LogFileFailure(const FileFailure& failure, const WCHAR* path);

// "LIBRARY not loaded CODE", or "LIBRARY lacks FUNCTION".
void LogFunctionTableFailure(const FunctionTableFailure& failure);
