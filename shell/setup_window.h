// The installer window and its controls.
#pragma once

#include <windows.h>

#include "shell/window_layout.h"

const COLORREF BACKGROUND_COLOR = RGB(45, 45, 48);
const COLORREF BRIGHT_TEXT_COLOR = RGB(255, 255, 255);
const COLORREF MUTED_TEXT_COLOR = RGB(153, 153, 153);

extern HWND MainWindow;
extern HWND StartButton, StatusLabel, PercentLabel, ProgressBar, TitleLabel, SummaryLabel, CorpLabel;
extern HFONT TitleFont, ButtonFont, TextFont;
extern WCHAR HeadingFace[FACE_NAME_SIZE];
extern WCHAR BodyFace[FACE_NAME_SIZE];
extern HBRUSH BackgroundBrush;
// Screen resolution / 96, read once by ScaleDpi.
extern float DpiScale;
// Set when the window starts being destroyed; other threads then leave it alone.
extern volatile bool WindowClosing;
// The worker's handle, kept past the window's end when the worker itself closed
// the window; start-up waits for it before the process exits.
extern HANDLE ExitingWorker;

// How long the program's end waits for a worker that closed the window itself;
// it only has its restart request left to make.
const DWORD EXITING_WORKER_WAIT_MS = 30000;

void RegisterWindowClass(HINSTANCE instance);
BOOL CreateSetupWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ScaleDpi(int length);

// The font enumeration callback: lParam names the candidate list.
int CALLBACK FontEnumProc(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD fontType,
                          LPARAM list);

// Waits for ExitingWorker to end (at most the time-out) and closes it, while
// answering messages that other threads send to this one.
void WaitForExitingWorker(DWORD timeoutMs);

// How long the program's end waits for a download to stop (every connection
// closed, a download in ranges cut to its complete prefix).
const DWORD STOPPED_DOWNLOAD_WAIT_MS = 3000;

// Stops the downloads, waits for the one under way to end (at most
// STOPPED_DOWNLOAD_WAIT_MS, answering messages that other threads send to
// this one), and keeps what it has for the next run.
void EndDownloadsForExit();

// True while MainWindow exists and is not being destroyed; for calls from other threads.
bool WindowIsUsable();

// Message boxes owned by the window, captioned with the product name.
int ShowMessage(const WCHAR* text, UINT type);
void ShowLastError();
