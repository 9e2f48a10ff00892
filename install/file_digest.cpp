#include "install/file_digest.h"

#include <wincrypt.h>

// Present from XP SP3 on (algorithm id 12); the headers show it only to builds
// for later systems.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

static const DWORD DIGEST_READ_SIZE = 64 * 1024;

DigestResult DigestFile(HANDLE file, unsigned char digest[SHA256_SIZE]) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  DigestResult result = DIGEST_FAILED;
  DWORD failure = 0;
  DWORD digestSize = SHA256_SIZE;
  static_assert(SHA256_SIZE == 32, "SHA-256 gives 32 bytes");
  // On the heap: the worker's stack is left for the calls below it.
  BYTE* chunk = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, DIGEST_READ_SIZE));

  if (chunk == NULL) {
    failure = ERROR_NOT_ENOUGH_MEMORY;
    goto done;
  }
  if (!CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    failure = GetLastError();
    result = DIGEST_NO_PROVIDER;
    goto done;
  }
  if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    failure = GetLastError();
    // An AES provider without SHA-256 (XP SP2's prototype) reports the algorithm as unknown.
    if (failure == static_cast<DWORD>(NTE_BAD_ALGID)) result = DIGEST_NO_PROVIDER;
    goto done;
  }
  if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    failure = GetLastError();
    goto done;
  }
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, DIGEST_READ_SIZE, &got, NULL)) {
      failure = GetLastError();
      goto done;
    }
    if (got == 0) break;
    if (!CryptHashData(hash, chunk, got, 0)) {
      failure = GetLastError();
      goto done;
    }
  }
  if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) || digestSize != SHA256_SIZE) {
    failure = GetLastError();
    goto done;
  }
  result = DIGEST_OK;

done:
  if (hash != 0) CryptDestroyHash(hash);
  if (provider != 0) CryptReleaseContext(provider, 0);
  if (chunk != NULL) HeapFree(GetProcessHeap(), 0, chunk);
  if (result != DIGEST_OK) SetLastError(failure);
  return result;
}
