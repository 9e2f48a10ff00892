// The status line, progress bar and percentage of the installer window.
#pragma once

#include <windows.h>

#include "download/progress_callback.h"

// The controls the display drives, handed in by the window that made them.
struct ProgressControls {
  HWND status;
  HWND bar;
  HWND percent;
  // False once the window is going away: the calls below come from the worker
  // and download threads, which then leave the controls alone.
  bool (*usable)();
};

// Until this is called the display shows nothing.
void UseProgressControls(const ProgressControls& controls);

// The last value SetProgress applied; -2 at start, a value no caller passes.
extern int LastProgress;

// Wide characters of the percentage text, terminator included.
const int PERCENT_TEXT_SIZE = 5;

// "<value>%" into a buffer of PERCENT_TEXT_SIZE characters. False, and the
// buffer empty, when the text does not fit.
bool FormatPercent(WCHAR* buffer, int value);

void SetStatusText(const WCHAR* text);
void SetProgress(int percent);
void BeginProgress();
void ReportProgress(DownloadStep step, int percent);
