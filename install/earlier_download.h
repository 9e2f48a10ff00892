// What one run of setup.exe leaves in the protected download folder for the
// next, and what the next takes up: a broken download, kept with a record
// beside it (install/kept_record.h), is continued; an earlier whole installer
// that its pins accept is started without being fetched again. Only the
// protected folder is trusted so: a file beside setup.exe may be anyone's.
#pragma once

#include <windows.h>

#include "install/payload_check.h"

// At exit, once the downloads have stopped: the download kept for a later
// start, if any, gets its record beside its file when DownloadDir is the
// protected folder; otherwise (or when the record cannot be written) its
// file is deleted.
void KeepDownloadForNextRun();

// Before the download of `path` from its first address, in the protected
// folder only: a record beside the file is read once and deleted, and its
// file, taken when it is a plain file of the administrators', is continued
// by the download of the address recorded. Without a record, an earlier file
// at `path` that every one of `pins` accepts (a pin given) is held in *held
// as CheckPinnedDownload leaves it: true, and it is started without being fetched. False otherwise, *held INVALID_HANDLE_VALUE.
bool TakeUpEarlierDownload(const WCHAR* path, const InstallerPins& pins, HANDLE* held);
