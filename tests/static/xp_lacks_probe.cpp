// A console program that imports a function Windows XP lacks: the file check
// must reject it for that reason alone.
#include <windows.h>

// Declared as a program built for Vista and later sees it.
extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();

int main() { return static_cast<int>(GetTickCount64() & 1); }
