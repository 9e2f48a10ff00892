// Loads the library named on its command line by name, as a program without
// any defence does: shows that a library planted beside a program is loaded
// in the test's setting, so that its absence in setup.exe means something.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR name, int) {
  HMODULE module = LoadLibraryW(name);
  if (module != NULL) FreeLibrary(module);
  return 0;
}
