// What an installation run shows the user. The window hands its own operations
// over before any run can start; the install code reaches the window only
// through them, and hands it codes and numbers: the window's table
// (shell/user_texts.h) holds the words. Until then each does nothing and a
// question counts as not answered, so the steps also run without a window.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"

// What a run tells the user: the status line's texts, the messages of the
// failures that end it (each with its reference code), and its question.
enum InstallMessage {
  MESSAGE_RUN_STARTING = 0,
  MESSAGE_RUNTIME_PREPARING,
  MESSAGE_RUN_ENDED,
  MESSAGE_SUCCEEDED,
  MESSAGE_RESTART_NEEDED,
  MESSAGE_FAILED,
  MESSAGE_RUNTIME_DOWNLOAD_FAILED,
  MESSAGE_RUNTIME_START_FAILED,
  MESSAGE_PRODUCT_DOWNLOAD_FAILED,
  MESSAGE_PRODUCT_START_FAILED,
  MESSAGE_RUNTIME_INSTALL_FAILED,  // with the installer's exit code and the last error
  MESSAGE_RESTART_QUESTION,
};
const int INSTALL_MESSAGE_COUNT = MESSAGE_RESTART_QUESTION + 1;

struct InstallUi {
  void (*setStatus)(InstallMessage message);
  void (*setProgress)(int percent);  // PROGRESS_HIDDEN hides the bar and the percentage
  void (*showStartButton)(bool shown);
  DownloadBeginsCallback beginDownload;
  ProgressCallback reportProgress;
  int (*askUser)(InstallMessage question, UINT type);  // the button pressed; 0 when no box could be shown
  // Keeps the failure's message for the error box and logs it with the
  // thread's last error, which it reads first. `exitCode`: the runtime
  // installer's, for MESSAGE_RUNTIME_INSTALL_FAILED only.
  void (*recordError)(InstallMessage message, DWORD exitCode);
  void (*showLastError)();  // returns when the user has closed the box
  void (*closeWindow)();    // returns once the window has handled it
};

// Written by the window's thread before it starts the first worker; read by workers.
extern InstallUi WorkerUi;

void UseInstallUi(const InstallUi& ui);
