// The files that setup.exe writes in its own folder (the installers, the run
// log). The folder is one that the logged-on user can write, while setup.exe
// runs elevated: a hard or symbolic link planted under one of these names would
// redirect an elevated write into any file the link names. So every such file
// is made afresh, and a file is opened again only while it is still the one
// that this process made.
#pragma once

#include <windows.h>

// Why an opened file must not be used, from what GetFileInformationByHandle
// says of it; null when it may be used.
const char* RefusalOfOpenedFile(DWORD attributes, DWORD numberOfLinks);

// Removes whatever has the name `path` (removing a link never touches what it
// names), creates the file exclusively, never through a link, and refuses it
// when it has another name or is a reparse point. The new file is remembered
// as this process's own. INVALID_HANDLE_VALUE, with a run-log line and the
// failure's code as the thread's last error, when any of that fails.
HANDLE CreateFreshFile(const WCHAR* path, DWORD access, DWORD share);

// Opens the file at `path` again, only when CreateFreshFile made it in this
// process and it is still that file (same volume and index) with no other name.
// INVALID_HANDLE_VALUE otherwise, with a run-log line.
HANDLE OpenOwnFile(const WCHAR* path, DWORD access, DWORD share);
