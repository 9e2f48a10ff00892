#include "shell/dll_search.h"

// Only in the headers for later systems.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

const WCHAR* const LATE_LOADED_LIBRARIES[] = {
    L"uxtheme.dll",                                                  // comctl32 version 6 theming
    L"rsaenh.dll",                                                   // the PROV_RSA_AES provider
    L"cryptsp.dll",  L"cryptbase.dll",                               // what advapi32 forwards to (7 and later)
    L"mswsock.dll",  L"wshtcpip.dll", L"dnsapi.dll", L"winrnr.dll",  // Winsock on XP
    L"rasadhlp.dll", L"iphlpapi.dll",
    L"schannel.dll", L"cryptnet.dll",                                // TLS, certificate revocation
    L"jsproxy.dll",  L"dhcpcsvc.dll",                                // proxy scripts and their detection
};
static_assert(sizeof LATE_LOADED_LIBRARIES / sizeof LATE_LOADED_LIBRARIES[0] == LATE_LOADED_LIBRARY_COUNT,
              "the count matches the list");

int PreloadSystemLibraries() {
  int loaded = 0;
  // Kept loaded for the whole process: that is the point.
  for (int i = 0; i < LATE_LOADED_LIBRARY_COUNT; ++i) {
    if (LoadSystemLibrary(LATE_LOADED_LIBRARIES[i]) != NULL) ++loaded;
  }
  return loaded;
}

DllSearchDefence LimitDllSearch(bool mayLimitDefaultDirectories) {
  // kernel32 is loaded already (an import): looking it up loads nothing.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  BOOL(WINAPI * limitDefault)(DWORD) = NULL;
  BOOL(WINAPI * setDirectory)(LPCWSTR) = NULL;
  if (kernel32 != NULL) {
    LookUpFunction(kernel32, "SetDefaultDllDirectories", &limitDefault);
    LookUpFunction(kernel32, "SetDllDirectoryW", &setDirectory);
  }
  // Windows 8, and 7 and Vista with the loader update of 2011.
  if (mayLimitDefaultDirectories && limitDefault != NULL && limitDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
    return DLL_SEARCH_SYSTEM_ONLY;
  // XP SP1 and later; the program's own folder stays first in the search, so the
  // libraries that would be looked for there are loaded now, by full path.
  if (setDirectory != NULL) setDirectory(L"");
  PreloadSystemLibraries();
  return DLL_SEARCH_PRELOADED;
}
