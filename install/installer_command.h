// Paths and command lines of the downloaded installers, in MAX_PATH buffers.
#pragma once

#include <windows.h>

// `folder` joined with `fileName` into `path` (MAX_PATH code units). False, with
// `path` empty, when the folder is empty or the joined path would not fit;
// nothing is cut short.
bool JoinInstallerPath(const WCHAR* folder, const WCHAR* fileName, WCHAR* path);

// `path`, in double quotes when it holds a space, directly followed by
// `arguments`, into `commandLine` (MAX_PATH code units; a quoted path may hold
// 256 of them). False, with
// `commandLine` empty, when the whole text would not fit.
bool BuildInstallerCommandLine(const WCHAR* path, const WCHAR* arguments, WCHAR* commandLine);

// Starts `commandLine` (copied first: CreateProcessW may write into it) with
// the caller's environment and current directory. True with both handles in
// `process` when it started; false with GetLastError telling why.
bool StartInstallerProcess(const WCHAR* commandLine, PROCESS_INFORMATION* process);
