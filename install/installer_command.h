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

// The path that the checked installer is started by, into `startPath`
// (MAX_PATH): the final path of `held`, the handle kept from the check to the
// start, so that no link or junction on the way can lead elsewhere by then;
// `installerPath` where the system gives none (Windows XP) or it fails (logged).
void InstallerStartPath(HANDLE held, const WCHAR* installerPath, WCHAR* startPath);

// Starts `commandLine` (copied first: CreateProcessW may write into it) with
// the caller's environment and `folder` as its current directory. True with
// both handles in `process` when it started; false with GetLastError telling why.
bool StartInstallerProcess(const WCHAR* commandLine, const WCHAR* folder, PROCESS_INFORMATION* process);
