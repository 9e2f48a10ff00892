// A file that needs the Windows headers: the native build check of the
// plain-value code must fail on it.
#include <windows.h>

int ProbeWidth() { return static_cast<int>(sizeof(DWORD)); }
