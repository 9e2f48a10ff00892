// State shared by the installation run.
#pragma once

#include <windows.h>

// Folder of the running executable, no trailing backslash: the run log's.
extern WCHAR InstallDir[MAX_PATH];
// The folder that the downloads are written, checked and started in, no
// trailing backslash: the protected one (install/download_folder.h), or
// InstallDir without it; empty while none is chosen.
extern WCHAR DownloadDir[MAX_PATH];
// True when DownloadDir is the protected folder: only there does a run take
// up what an earlier one left (install/earlier_download.h).
extern bool DownloadDirProtected;
// The install worker's thread; main thread only.
extern HANDLE WorkerThread;
// Set by the worker after a successful run; start-up then deletes the run log.
extern volatile bool DeleteRunLogAtExit;
// Set by the worker once the run will end with the worker closing the window:
// right before it sends WM_CLOSE after a success, and before it asks the restart
// question (either answer closes the window). Start-up then waits for the worker
// before the process exits, so that whatever the worker does after the close (the
// restart request) still happens, even when the user closed the window first.
extern volatile bool WorkerClosingWindow;

// Sets WorkerClosingWindow with a full barrier: the window's destruction reads
// it after marking the window as closing, and the worker checks the window after
// this, so at least one side sees the other.
void MarkWorkerClosingWindow();
