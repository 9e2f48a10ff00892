// The product installer step: download the build that suits the Windows
// version into the install folder and start it.
#pragma once

#include <windows.h>

const WCHAR PRODUCT_FILE_TEMPLATE[] = L"brenvik-setupvv.exe";
const WCHAR VERSION_PLACEHOLDER[] = L"vv";

// "v2" or "v4" for a GetVersion result: "v4" from 6.2 on (major 6 or more with
// minor 2 or more), "v2" otherwise.
const WCHAR* ChooseVersionTag(DWORD version);

// The address template with every "vv" replaced by the tag, into `url`
// (URL_BUFFER_SIZE code units: no longer address can be downloaded). False, with
// `url` empty, when it does not fit.
bool ProductInstallerUrl(const WCHAR* urlTemplate, const WCHAR* tag, WCHAR* url);

// The installer's file name with the tag put in, into `fileName` (MAX_PATH).
void ProductInstallerFileName(const WCHAR* tag, WCHAR* fileName);

// Downloads the product installer from "app.url" into InstallDir and starts it
// without waiting. False after recording the cause with RecordError.
bool ProductInstallerStep();
