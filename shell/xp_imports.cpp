// Windows XP has no GetTickCount64, yet the static thread library of the C++
// runtime imports it (built for Vista and later). This object defines the import
// slot itself, ahead of the system library, so the exe does not import it and
// XP can load it: the system's function is used where it exists, the 32-bit
// tick count elsewhere (it wraps after 49.7 days; the library only takes
// differences over short waits). Only the 32-bit build runs on XP; the 64-bit
// test build imports the function as it is.
#if defined(__i386__)
#include <windows.h>

typedef ULONGLONG(WINAPI* TickCountFunction)();

static TickCountFunction volatile SystemTickCount64;
static volatile LONG SystemTickCountLooked;

static ULONGLONG WINAPI TickCount64() {
  // Looked up once; two threads racing here store the same value.
  if (SystemTickCountLooked == 0) {
    HMODULE kernel32 = GetModuleHandleW(L"KERNEL32.DLL");
    if (kernel32 != NULL)
      SystemTickCount64 = reinterpret_cast<TickCountFunction>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTickCount64")));
    InterlockedExchange(&SystemTickCountLooked, 1);
  }
  if (SystemTickCount64 != NULL) return SystemTickCount64();
  return GetTickCount();
}

extern "C" {
extern TickCountFunction const GetTickCount64ImportSlot __asm__("__imp__GetTickCount64@0");
TickCountFunction const GetTickCount64ImportSlot = TickCount64;
}
#endif
