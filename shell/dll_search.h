// Where the process looks for libraries loaded by name. setup.exe runs elevated
// from a folder (Downloads) that holds whatever else was saved there, and that
// folder comes first in the default search: a library planted there under the
// name of one that is loaded later would run as administrator.
#pragma once

#include <windows.h>

#include "platform/system_library.h"

// Libraries that are loaded by name after start-up, by this program or by the
// system libraries it calls: theming (comctl32 version 6), the CryptoAPI
// provider of the payload pins and the libraries that advapi32 forwards its
// CryptoAPI and random-number functions to on Windows 7 and later (its forwards
// are loaded by name when they are first used), what Winsock loads for name resolution and TCP
// on Windows XP, and what the HTTP library (itself loaded by full path) loads
// for TLS, certificate checks and proxy detection. On systems without
// SetDefaultDllDirectories each is loaded from the system folder first: a
// library already loaded is not searched again.
extern const WCHAR* const LATE_LOADED_LIBRARIES[];
const int LATE_LOADED_LIBRARY_COUNT = 14;

enum DllSearchDefence {
  // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) took: every later load
  // by name searches the system folder only.
  DLL_SEARCH_SYSTEM_ONLY = 1,
  // Older systems: SetDllDirectoryW(L"") where it exists (the current directory
  // leaves the search) and the late-loaded libraries loaded by full path.
  DLL_SEARCH_PRELOADED = 2,
};

// Called first thing at start-up. `mayLimitDefaultDirectories` false takes the
// older systems' road even where the newer call exists (a test build does, to
// try that road under Wine).
DllSearchDefence LimitDllSearch(bool mayLimitDefaultDirectories);

// Loads each of LATE_LOADED_LIBRARIES from the system folder and keeps it
// loaded; a library the system does not have is skipped. Returns how many loaded.
int PreloadSystemLibraries();
