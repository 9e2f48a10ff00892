// The exe's own GetTickCount64 import slot (linked into this test as into setup.exe).
#include <gtest/gtest.h>
#include <windows.h>

typedef ULONGLONG(WINAPI* TickCountFunction)();
extern "C" TickCountFunction const GetTickCount64ImportSlot __asm__("__imp__GetTickCount64@0");
// Declared as the thread library declares it (the headers hide it below Vista).
extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();

// A call through the slot is a stdcall function without arguments that agrees
// with the system's own 64-bit tick count where the system has one.
TEST(XpImports, GetTickCount64GoesThroughTheReplacementAndAgreesWithTheSystem) {
  TickCountFunction system = reinterpret_cast<TickCountFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"KERNEL32.DLL"), "GetTickCount64")));
  ASSERT_NE(nullptr, system) << "this Wine has the function";
  EXPECT_NE(system, GetTickCount64ImportSlot) << "the slot is the exe's own, not the import";

  const ULONGLONG before = system();
  const ULONGLONG through = GetTickCount64();  // the compiler calls through the slot
  const ULONGLONG after = system();
  EXPECT_LE(before, through);
  EXPECT_LE(through, after);

  // It moves forward as time passes (bounded wait).
  bool advanced = false;
  for (int i = 0; i < 200 && !advanced; ++i) {
    Sleep(10);
    advanced = GetTickCount64() > through;
  }
  EXPECT_TRUE(advanced);
}
