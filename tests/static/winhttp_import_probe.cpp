// A console program that imports the HTTP library, which Windows XP before
// SP1 lacks: the file check must reject it for that.
#include <windows.h>
#include <winhttp.h>

int main() { return WinHttpCheckPlatform() ? 0 : 1; }
