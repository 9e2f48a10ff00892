// How a download tells its caller what it is doing: codes and numbers only;
// the window turns them into words (shell/user_texts.h).
#pragma once

// The steps of a download, in the order the window shows them.
enum DownloadStep {
  STEP_NONE = -1,  // a report of a percentage alone
  STEP_PREPARING = 0,
  STEP_LOOKING_UP,
  STEP_CONNECTING,
  STEP_SENDING,
  STEP_PARSING,
  STEP_DOWNLOADING,
  STEP_CONTINUING,  // a broken connection, tried again
  STEP_COMPLETE,
  STEP_FAILED,
};
const int DOWNLOAD_STEP_COUNT = STEP_FAILED + 1;

// How a download reports: a step with PROGRESS_HIDDEN, or STEP_NONE with a
// whole percentage from 0 to 100.
typedef void (*ProgressCallback)(DownloadStep step, int percent);

// Called once before a download starts, so that its progress can be shown.
typedef void (*DownloadBeginsCallback)();

// As a callback percentage: leave the percentage alone. Given to SetProgress:
// hide the bar and the percentage.
const int PROGRESS_HIDDEN = -1;
