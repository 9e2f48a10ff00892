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
// Set by the worker right before it sends WM_CLOSE to end the program (success or
// a restart outcome): start-up then waits for the worker to finish before the
// process exits, so that whatever the worker does after the close still happens.
extern volatile bool WorkerClosingWindow;

// Keeps the message for the error box and logs it with the thread's last error.
void RecordError(const WCHAR* message);
