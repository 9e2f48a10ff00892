// The install worker: one installation run on a thread of its own.
#pragma once

#include <windows.h>

enum InstallOutcome {
  Succeeded = 0,
  RebootNow = -1,
  RebootDeclined = -2,
  PrerequisiteFailed = 2,
  ProductFailed = 3,
};

HANDLE StartWorker();
DWORD WINAPI InstallWorker(LPVOID unused);
