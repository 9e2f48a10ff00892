// The runtime prerequisite step: before Windows major version 6, make sure the
// .NET Framework 2.0 is there, installing it from the configured mirrors.
#pragma once

#include <windows.h>

#include "download/download_tuning.h"
#include "install/folder_files.h"

enum PrerequisiteResult {
  RUNTIME_READY = 0,  // present, or installed without a restart
  RUNTIME_DOWNLOAD_FAILED = 1,
  RUNTIME_INSTALL_FAILED = 2,
  RUNTIME_RESTART_NOW = -1,       // installed; the user agreed to restart now
  RUNTIME_RESTART_DECLINED = -2,  // installed; the user restarts later
};

const WCHAR RUNTIME_FOLDER[] = L"C:\\Windows\\Microsoft.NET\\Framework\\v2.0.50727";
// Deployed runtime installers are given exactly this text.
const WCHAR RUNTIME_ARGUMENTS[] = L" /q /noretart";
const WCHAR RUN_ONCE_KEY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const WCHAR RUN_ONCE_VALUE[] = L"!TovrelSetup";

const DWORD RUNTIME_EXIT_INSTALLED = 0;
const DWORD RUNTIME_EXIT_RESTART_NEEDED = 3010;

// True when the GetVersion result is older than major version 6.
bool NeedsRuntimeCheck(DWORD version);

// The step itself; runs on the install worker thread. Each download keeps
// within `limits`.
PrerequisiteResult RuntimePrerequisiteStep(const DownloadLimits& limits);

// Fills `installerPath` (MAX_PATH) first, then tries "net2.url1", "net2.url2",
// ... up to the first empty one. True when a mirror delivered the file and the
// "net2.sha256" pin, if configured, accepted it; the checked file is then held
// in *held (INVALID_HANDLE_VALUE without a pin) for RunRuntimeInstaller.
bool DownloadRuntimeInstaller(WCHAR* installerPath, HANDLE* held, const DownloadLimits& limits);

// Runs the installer silently and waits for it, releasing *held once the
// process was created (or could not be). `exitCode` (preset by the caller)
// receives its exit code when readable. True for exit code 0 or 3010.
bool RunRuntimeInstaller(const WCHAR* installerPath, HANDLE* held, DWORD& exitCode);
