// A program that imports advapi32's CryptAcquireContextW, which Windows 7 and
// later forward to cryptsp.dll: the file check must name that import.
#include <windows.h>
#include <wincrypt.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HCRYPTPROV provider = 0;
  return CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ? 0 : 1;
}
