// The product installer step: download the build that suits the Windows
// version into the install folder and start it.
#pragma once

#include <windows.h>

#include <string>

const WCHAR PRODUCT_FILE_TEMPLATE[] = L"brenvik-setupvv.exe";
const WCHAR VERSION_PLACEHOLDER[] = L"vv";

// "v2" or "v4" for a GetVersion result: "v4" from 6.2 on (major 6 or more with
// minor 2 or more), "v2" otherwise.
const WCHAR* ChooseVersionTag(DWORD version);

// The address template with every "vv" replaced by the tag.
std::wstring ProductInstallerUrl(const std::wstring& urlTemplate, const WCHAR* tag);

// The installer's file name with the tag put in.
std::wstring ProductInstallerFileName(const WCHAR* tag);

// Downloads the product installer from "app.url" into InstallDir and starts it
// without waiting. False after recording the cause with RecordError.
bool ProductInstallerStep();
