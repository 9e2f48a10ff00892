#include "shell/progress_display.h"

#include <commctrl.h>
#include <stdio.h>

#include "download/progress_callback.h"
#include "shell/user_texts.h"

static bool NoWindow() {
  return false;
}

static ProgressControls Controls = {NULL, NULL, NULL, NoWindow};
int LastProgress = -2;

void UseProgressControls(const ProgressControls& controls) {
  Controls = controls;
}

bool FormatPercent(WCHAR* buffer, int value) {
  // msvcrt's _snwprintf: -1 when the text and its terminator do not fit.
  int written = _snwprintf(buffer, PERCENT_TEXT_SIZE, L"%d%%", value);
  if (written < 0 || written >= PERCENT_TEXT_SIZE) {
    buffer[0] = L'\0';
    return false;
  }
  return true;
}

// Once the window is going away the calls below are skipped, so a late caller
// neither waits on a window whose thread has left its loop nor touches handles
// that may be reused.
void SetStatusText(const WCHAR* text) {
  if (!Controls.usable()) return;
  SetWindowTextW(Controls.status, text);
  UpdateWindow(Controls.status);
}

void SetProgress(int percent) {
  if (percent == LastProgress) return;
  if (Controls.usable()) {
    SendMessageW(Controls.bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    WCHAR text[PERCENT_TEXT_SIZE];
    FormatPercent(text, percent);
    SetWindowTextW(Controls.percent, text);
    UpdateWindow(Controls.percent);
    if (percent == PROGRESS_HIDDEN) {
      ShowWindow(Controls.bar, SW_HIDE);
      ShowWindow(Controls.percent, SW_HIDE);
    } else if (!IsWindowVisible(Controls.bar)) {
      ShowWindow(Controls.bar, SW_SHOW);
      ShowWindow(Controls.percent, SW_SHOW);
    }
  }
  LastProgress = percent;
}

void BeginProgress() {
  if (!Controls.usable()) return;
  ShowWindow(Controls.status, SW_SHOW);
  ShowWindow(Controls.percent, SW_SHOW);
  ShowWindow(Controls.bar, SW_SHOW);
  SendMessageW(Controls.bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

void ReportProgress(DownloadStep step, int percent) {
  if (step != STEP_NONE) SetStatusText(DownloadStepText(step));
  if (percent != PROGRESS_HIDDEN) SetProgress(percent);
}
