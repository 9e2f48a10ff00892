#pragma once

#include <windows.h>

// How a download reports: a step text with PROGRESS_HIDDEN, or a null text with
// a whole percentage from 0 to 100. The text is borrowed for the call only.
typedef void (*ProgressCallback)(const WCHAR* text, int percent);

// As a callback percentage: leave the percentage alone. Given to SetProgress:
// hide the bar and the percentage.
const int PROGRESS_HIDDEN = -1;
