// The path of an open file or folder as the file system resolves it, every
// link and junction on the way replaced by where it leads: a process started
// through that path is created from the file that the handle holds, not from
// whatever a link somewhere on a path given by name leads to by then.
#pragma once

#include <windows.h>

// The plain form of a final path, as a program reads its own path: "\\?\C:\..."
// becomes "C:\...", "\\?\UNC\server\share\..." becomes "\\server\share\...",
// into `plain` (MAX_PATH units). False, with `plain` empty, for any other form
// (a volume GUID, a path without the prefix) or a result that does not fit.
bool PlainFromFinalPath(const WCHAR* final, WCHAR* plain);

enum FinalPathRead {
  FINAL_PATH_READ = 0,
  FINAL_PATH_UNAVAILABLE = 1,  // no GetFinalPathNameByHandleW: Windows XP
  FINAL_PATH_FAILED = 2,       // the thread's last error says why
};

// The plain final path of what `handle` holds, into `path` (MAX_PATH units);
// GetFinalPathNameByHandleW is looked up at run time.
FinalPathRead FinalPathOf(HANDLE handle, WCHAR* path);
