// The installer window and its controls.
#pragma once

#include <windows.h>

extern HWND MainWindow;
extern HWND StartButton, StatusLabel, PercentLabel, ProgressBar, TitleLabel, SummaryLabel, CorpLabel;

void RegisterWindowClass(HINSTANCE instance);
BOOL CreateSetupWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ScaleDpi(int length);

// Message boxes owned by the window, captioned with the product name.
int ShowMessage(const WCHAR* text, UINT type);
void ShowLastError();
