// The status line, progress bar and percentage of the installer window.
#pragma once

#include <windows.h>

extern int LastProgress;

void SetStatusText(const WCHAR* text);
void SetProgress(int percent);
void BeginProgress();
void ReportProgress(const WCHAR* text, int percent);
