#include "install/file_digest.h"

#include <wincrypt.h>

#include "download/system_library.h"

// Present from XP SP3 on (algorithm id 12); the headers show it only to builds
// for later systems.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

static const DWORD DIGEST_READ_SIZE = 64 * 1024;

// Looked up, never imported: Windows 7 and later forward advapi32's Crypt*
// functions to cryptsp.dll, which is no KnownDLL, so an import would have the
// loader look for cryptsp.dll beside setup.exe before wWinMain limits the search.
struct CryptoFunctions {
  decltype(&CryptAcquireContextW) acquireContext;
  decltype(&CryptCreateHash) createHash;
  decltype(&CryptHashData) hashData;
  decltype(&CryptGetHashParam) getHashParam;
  decltype(&CryptDestroyHash) destroyHash;
  decltype(&CryptReleaseContext) releaseContext;
};

static CryptoFunctions Functions;
static volatile LONG FunctionsReady;

// Null, with ERROR_PROC_NOT_FOUND or the loader's error, when a function is missing.
static const CryptoFunctions* LoadCryptoFunctions() {
  if (FunctionsReady != 0) return &Functions;
  // Where they live since Windows 7, by full path; before that in advapi32.
  HMODULE library = LoadSystemLibrary(L"cryptsp.dll");
  if (library == NULL) library = LoadSystemLibrary(L"advapi32.dll");
  if (library == NULL) return NULL;
  // Kept loaded; two threads racing here would store the same addresses.
  CryptoFunctions* f = &Functions;
  bool found = LookUpFunction(library, NULL, "CryptAcquireContextW", &f->acquireContext) &&
               LookUpFunction(library, NULL, "CryptCreateHash", &f->createHash) &&
               LookUpFunction(library, NULL, "CryptHashData", &f->hashData) &&
               LookUpFunction(library, NULL, "CryptGetHashParam", &f->getHashParam) &&
               LookUpFunction(library, NULL, "CryptDestroyHash", &f->destroyHash) &&
               LookUpFunction(library, NULL, "CryptReleaseContext", &f->releaseContext);
  if (!found) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
  }
  InterlockedExchange(&FunctionsReady, 1);
  return &Functions;
}

// Hashes the whole of `file`, or else `size` bytes at `bytes`.
static DigestResult Digest(HANDLE file, const unsigned char* bytes, DWORD size, unsigned char digest[SHA256_SIZE]) {
  const CryptoFunctions* crypto = LoadCryptoFunctions();
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  DigestResult result = DIGEST_FAILED;
  DWORD failure = 0;
  DWORD digestSize = SHA256_SIZE;
  static_assert(SHA256_SIZE == 32, "SHA-256 gives 32 bytes");
  BYTE* chunk = NULL;

  if (crypto == NULL) {
    failure = GetLastError();
    result = DIGEST_NO_PROVIDER;
    goto done;
  }
  if (!crypto->acquireContext(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    failure = GetLastError();
    result = DIGEST_NO_PROVIDER;
    goto done;
  }
  if (!crypto->createHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    failure = GetLastError();
    // An AES provider without SHA-256 (XP SP2's prototype) reports the algorithm as unknown.
    if (failure == static_cast<DWORD>(NTE_BAD_ALGID)) result = DIGEST_NO_PROVIDER;
    goto done;
  }
  if (file == INVALID_HANDLE_VALUE) {
    if (!crypto->hashData(hash, bytes, size, 0)) {
      failure = GetLastError();
      goto done;
    }
  } else {
    // On the heap: the worker's stack is left for the calls below it.
    chunk = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, DIGEST_READ_SIZE));
    if (chunk == NULL) {
      failure = ERROR_NOT_ENOUGH_MEMORY;
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
      if (!crypto->hashData(hash, chunk, got, 0)) {
        failure = GetLastError();
        goto done;
      }
    }
  }
  if (!crypto->getHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) || digestSize != SHA256_SIZE) {
    failure = GetLastError();
    goto done;
  }
  result = DIGEST_OK;

done:
  if (chunk != NULL) HeapFree(GetProcessHeap(), 0, chunk);
  if (hash != 0) crypto->destroyHash(hash);
  if (provider != 0) crypto->releaseContext(provider, 0);
  if (result != DIGEST_OK) SetLastError(failure);
  return result;
}

DigestResult DigestFile(HANDLE file, unsigned char digest[SHA256_SIZE]) {
  if (file == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return DIGEST_FAILED;
  }
  return Digest(file, NULL, 0, digest);
}

DigestResult DigestBytes(const unsigned char* bytes, DWORD size, unsigned char digest[SHA256_SIZE]) {
  return Digest(INVALID_HANDLE_VALUE, bytes, size, digest);
}
