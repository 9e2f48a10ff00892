// How a download tells its caller what it is doing. Plain values only.
#pragma once

// How a download reports: a step text with PROGRESS_HIDDEN, or a null text with
// a whole percentage from 0 to 100. The text is borrowed for the call only.
typedef void (*ProgressCallback)(const wchar_t* text, int percent);

// Called once before a download starts, so that its progress can be shown.
typedef void (*DownloadBeginsCallback)();

// As a callback percentage: leave the percentage alone. Given to SetProgress:
// hide the bar and the percentage.
const int PROGRESS_HIDDEN = -1;
