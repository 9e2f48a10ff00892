// State shared by the installation run.
#pragma once

#include <windows.h>

// Folder of the running executable, no trailing backslash.
extern WCHAR InstallDir[MAX_PATH];
// The last user-facing error message.
extern WCHAR LastErrorText[1024];
// The install worker's thread; main thread only.
extern HANDLE WorkerThread;
// Set by the worker after a successful run; start-up then deletes the run log.
extern volatile bool DeleteRunLogAtExit;

// Keeps the message for the error box and logs it with the thread's last error.
void RecordError(const WCHAR* message);
