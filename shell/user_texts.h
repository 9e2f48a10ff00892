// Every text that the window shows its user, in one table: the status line's
// texts, the messages of the failures with their reference codes, and the
// questions of the message boxes. The folders below hand up codes and numbers
// (download/progress_callback.h, install/install_ui.h); only this file turns
// them into words.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"
#include "install/install_ui.h"

// The status line's text for a download step (STEP_NONE: none, NULL).
const WCHAR* DownloadStepText(DownloadStep step);

// The text of an installation run's message; MESSAGE_RUNTIME_INSTALL_FAILED
// is a format that FormatRuntimeInstallFailure fills.
const WCHAR* InstallMessageText(InstallMessage message);

// The question asked when the window is closed while a run goes on.
extern const WCHAR EXIT_QUESTION[];

const int RUNTIME_FAILURE_TEXT_SIZE = 200;

// The runtime installer's failure with its exit code and last error as signed
// decimals, into `text` (RUNTIME_FAILURE_TEXT_SIZE code units).
void FormatRuntimeInstallFailure(DWORD exitCode, DWORD lastError, WCHAR* text);

// The last failure's message, for the error box.
extern WCHAR LastErrorText[1024];

// InstallUi::recordError: keeps the message in LastErrorText and logs it with
// the thread's last error, read first.
void RecordError(InstallMessage message, DWORD exitCode);
