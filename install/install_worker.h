// The install worker: one installation run on a thread of its own.
#pragma once

#include <windows.h>

#include "install/install_ui.h"
#include "install/runtime_step.h"

// The worker's combined result.
enum InstallOutcome {
  INSTALL_SUCCEEDED = 0,
  INSTALL_PREREQUISITE_FAILED = 2,
  INSTALL_PRODUCT_FAILED = 3,
  INSTALL_RESTART_NOW = -1,  // the prerequisite's restart answers, passed on
  INSTALL_RESTART_DECLINED = -2,
};

// The product step runs only when the prerequisite left the machine ready.
bool ShouldRunProductStep(PrerequisiteResult prerequisite);

// Folds the step results into the outcome; `productStarted` counts only after
// RUNTIME_READY.
InstallOutcome CombineOutcome(PrerequisiteResult prerequisite, bool productStarted);

// Turns the module path that GetModuleFileNameW wrote into `path` (MAX_PATH
// units) and its returned `length` into the executable's folder. False, with
// `path` empty, when the path was cut (or not read): no step may use it then.
bool InstallFolderFromModulePath(WCHAR* path, DWORD length);

// The status line's message that reports an outcome.
InstallMessage OutcomeMessage(InstallOutcome outcome);

HANDLE StartWorker();
DWORD WINAPI InstallWorker(LPVOID unused);
