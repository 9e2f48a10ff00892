// What an installation run shows the user. The window hands its own operations
// over before any run can start; the install code reaches the window only
// through them. Until then each does nothing and a question counts as not
// answered, so the steps also run without a window.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"

struct InstallUi {
  void (*setStatusText)(const WCHAR* text);
  void (*setProgress)(int percent);  // PROGRESS_HIDDEN hides the bar and the percentage
  void (*showStartButton)(bool shown);
  DownloadBeginsCallback beginDownload;
  ProgressCallback reportProgress;
  int (*askUser)(const WCHAR* text, UINT type);  // the button pressed; 0 when no box could be shown
  void (*showLastError)();                        // returns when the user has closed the box
  void (*closeWindow)();                          // returns once the window has handled it
};

// Written by the window's thread before it starts the first worker; read by workers.
extern InstallUi WorkerUi;

void UseInstallUi(const InstallUi& ui);
