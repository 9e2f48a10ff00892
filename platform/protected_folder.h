// The Win32 side of the download folder (install/download_folder.h): making it
// with its protected descriptor, opening one that is already there without
// following a link, reading its security for the rules of
// platform/folder_rules.h, and the random bytes of a fresh name. A folder is
// held open from here on: with listing access (which counts in the sharing
// rules) and without delete sharing, so that nobody renames or deletes it, and
// so puts a link in its place, while setup.exe uses it.
#pragma once

#include <windows.h>

#include "platform/folder_rules.h"

// Makes `path` exclusively (CreateDirectoryW fails when anything has the
// name) with the protected folder descriptor, and holds it in *held. 0, or
// the error code (ERROR_ALREADY_EXISTS when the name is taken); *held is then
// INVALID_HANDLE_VALUE.
DWORD MakeProtectedFolder(const WCHAR* path, HANDLE* held);

// Opens what is already at `path`, a link as the link, and judges it:
// FOLDER_TRUSTED with the folder held in *held; otherwise *held is
// INVALID_HANDLE_VALUE and *objection says why.
FolderVerdict OpenExistingFolder(const WCHAR* path, HANDLE* held, FolderObjection* objection);

// `count` random bytes from the system (RtlGenRandom, looked up in advapi32).
// 0, or an error code when it has none to give.
DWORD SystemRandomBytes(BYTE* bytes, ULONG count);
