#include "shell/progress_display.h"

#include <commctrl.h>
#include <stdio.h>

#include "download/progress_callback.h"
#include "shell/setup_window.h"

int LastProgress = -2;

bool FormatPercent(WCHAR* buffer, int value) {
  // msvcrt's _snwprintf: -1 when the text and its terminator do not fit.
  int written = _snwprintf(buffer, PERCENT_TEXT_SIZE, L"%d%%", value);
  if (written < 0 || written >= PERCENT_TEXT_SIZE) {
    buffer[0] = L'\0';
    return false;
  }
  return true;
}

// The calls below come from the worker and download threads; once the window is
// going away they are skipped, so a late caller neither waits on a window whose
// thread has left its loop nor touches handles that may be reused.
void SetStatusText(const WCHAR* text) {
  if (!WindowIsUsable()) return;
  SetWindowTextW(StatusLabel, text);
  UpdateWindow(StatusLabel);
}

void SetProgress(int percent) {
  if (percent == LastProgress) return;
  if (WindowIsUsable()) {
    SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    WCHAR text[PERCENT_TEXT_SIZE];
    FormatPercent(text, percent);
    SetWindowTextW(PercentLabel, text);
    UpdateWindow(PercentLabel);
    if (percent == PROGRESS_HIDDEN) {
      ShowWindow(ProgressBar, SW_HIDE);
      ShowWindow(PercentLabel, SW_HIDE);
    } else if (!IsWindowVisible(ProgressBar)) {
      ShowWindow(ProgressBar, SW_SHOW);
      ShowWindow(PercentLabel, SW_SHOW);
    }
  }
  LastProgress = percent;
}

void BeginProgress() {
  if (!WindowIsUsable()) return;
  ShowWindow(StatusLabel, SW_SHOW);
  ShowWindow(PercentLabel, SW_SHOW);
  ShowWindow(ProgressBar, SW_SHOW);
  SendMessageW(ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

void ReportProgress(const WCHAR* text, int percent) {
  if (text != NULL) SetStatusText(text);
  if (percent != PROGRESS_HIDDEN) SetProgress(percent);
}
