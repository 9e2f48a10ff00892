// The product installer step: download the build that suits the Windows
// version into the download folder and start it from there.
#pragma once

#include <windows.h>

#include "download/download_tuning.h"
#include "install/folder_files.h"
#include "install/mirror_list.h"

// "v2" or "v4" for a GetVersion result: "v4" from 6.2 on (major 6 or more with
// minor 2 or more), "v2" otherwise.
const WCHAR* ChooseVersionTag(DWORD version);

// The installer's file name with the tag put in, into `fileName` (MAX_PATH).
void ProductInstallerFileName(const WCHAR* tag, WCHAR* fileName);

// Downloads the product installer from "app.url" (then "app.url2", ... while
// each fails) into DownloadDir, each download within `limits`, and starts it
// without waiting. False after recording the cause with WorkerUi.recordError.
bool ProductInstallerStep(const DownloadLimits& limits);
