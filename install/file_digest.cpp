#include "install/file_digest.h"

#include <wincrypt.h>

#include "platform/function_table.h"

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

static const FunctionSlot SLOTS[] = {
    Slot(&Functions.acquireContext, "CryptAcquireContextW"),
    Slot(&Functions.createHash, "CryptCreateHash"),
    Slot(&Functions.hashData, "CryptHashData"),
    Slot(&Functions.getHashParam, "CryptGetHashParam"),
    Slot(&Functions.destroyHash, "CryptDestroyHash"),
    Slot(&Functions.releaseContext, "CryptReleaseContext"),
};
// Where they live since Windows 7, by full path; before that in advapi32.
static const WCHAR* const LIBRARIES[] = {L"cryptsp.dll", L"advapi32.dll", NULL};
static FunctionTable Table = {LIBRARIES, SLOTS, sizeof SLOTS / sizeof SLOTS[0], 0};

// Hashes the whole of `file` into `hash`, from its start. False, with *failure,
// when the file could not be read to its end or the provider failed.
static bool HashFile(HCRYPTHASH hash, HANDLE file, DWORD* failure) {
  // On the heap: the worker's stack is left for the calls below it.
  BYTE* chunk = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, DIGEST_READ_SIZE));
  *failure = 0;
  if (chunk == NULL) {
    *failure = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
    *failure = GetLastError();
  for (DWORD got = 1; *failure == 0 && got > 0;) {
    if (!ReadFile(file, chunk, DIGEST_READ_SIZE, &got, NULL) || (got > 0 && !Functions.hashData(hash, chunk, got, 0)))
      *failure = GetLastError();
  }
  HeapFree(GetProcessHeap(), 0, chunk);
  return *failure == 0;
}

// Hashes the whole of `file`, or else `size` bytes at `bytes`.
static DigestResult Digest(HANDLE file, const unsigned char* bytes, DWORD size, unsigned char digest[SHA256_SIZE]) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  DigestResult result = DIGEST_NO_PROVIDER;
  DWORD failure = 0;
  DWORD digestSize = SHA256_SIZE;
  static_assert(SHA256_SIZE == 32, "SHA-256 gives 32 bytes");

  if (!FillFunctionTable(&Table, NULL) ||
      !Functions.acquireContext(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    failure = GetLastError();
    goto done;
  }
  if (!Functions.createHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    failure = GetLastError();
    // An AES provider without SHA-256 (XP SP2's prototype) reports the algorithm as unknown.
    if (failure != static_cast<DWORD>(NTE_BAD_ALGID)) result = DIGEST_FAILED;
    goto done;
  }
  result = DIGEST_FAILED;
  if (file != INVALID_HANDLE_VALUE ? !HashFile(hash, file, &failure) : !Functions.hashData(hash, bytes, size, 0)) {
    if (failure == 0) failure = GetLastError();
    goto done;
  }
  if (!Functions.getHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) || digestSize != SHA256_SIZE) {
    failure = GetLastError();
    goto done;
  }
  result = DIGEST_OK;

done:
  if (hash != 0) Functions.destroyHash(hash);
  if (provider != 0) Functions.releaseContext(provider, 0);
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
