// The status line, progress bar and percentage of the installer window.
#pragma once

#include <windows.h>

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
void ReportProgress(const WCHAR* text, int percent);
