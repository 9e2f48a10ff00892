// Loading a system library by its full path in the system folder, never by a
// bare name that the search would look for beside setup.exe first, and looking
// up a library's function with its own type.
#pragma once

#include <windows.h>

// `systemFolder` joined with `name` into `path` (MAX_PATH units). False, with
// `path` empty, when the folder is empty or the result does not fit.
bool SystemLibraryPath(const WCHAR* systemFolder, const WCHAR* name, WCHAR* path);

// Loads `name` from the system folder, and what it imports from the system
// folder too: with LOAD_LIBRARY_SEARCH_SYSTEM32 where the loader knows it
// (Windows 8, and Vista and 7 with the loader update of 2011), otherwise with
// the altered search path, which looks in the library's own folder first.
// Null when the system has no such library; GetLastError says why.
HMODULE LoadSystemLibrary(const WCHAR* name);

// Looks `name` up in `library` into `*function`, typed as the function is
// (through void*, so that -Wextra accepts the cast). False when it is missing.
template <typename Function>
bool LookUpFunction(HMODULE library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return *function != NULL;
}
