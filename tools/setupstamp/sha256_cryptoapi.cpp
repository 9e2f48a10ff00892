// SHA-256 through the system's CryptoAPI provider (present from Windows XP SP3
// on), for setupstamp.exe.
#include <windows.h>
#include <wincrypt.h>

#include "tools/setupstamp/sha256.h"

// Present from XP SP3 on (algorithm id 12); the headers show it only to builds
// for later systems.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

struct CryptoState {
  HCRYPTPROV provider;
  HCRYPTHASH hash;
};

static void Release(CryptoState* state) {
  if (state->hash != 0) CryptDestroyHash(state->hash);
  if (state->provider != 0) CryptReleaseContext(state->provider, 0);
  delete state;
}

Sha256Result Sha256Begin(Sha256& hash) {
  hash.state = NULL;
  CryptoState* state = new CryptoState();
  if (!CryptAcquireContextW(&state->provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    state->provider = 0;
    Release(state);
    return SHA256_UNAVAILABLE;
  }
  if (!CryptCreateHash(state->provider, CALG_SHA_256, 0, 0, &state->hash)) {
    // An AES provider without SHA-256 (XP SP2's prototype) reports the algorithm as unknown.
    Sha256Result result = GetLastError() == static_cast<DWORD>(NTE_BAD_ALGID) ? SHA256_UNAVAILABLE : SHA256_FAILED;
    state->hash = 0;
    Release(state);
    return result;
  }
  hash.state = state;
  return SHA256_OK;
}

Sha256Result Sha256Add(Sha256& hash, const void* data, size_t size) {
  CryptoState* state = static_cast<CryptoState*>(hash.state);
  const BYTE* bytes = static_cast<const BYTE*>(data);
  while (state != NULL && size > 0) {
    // CryptHashData takes a DWORD length.
    DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!CryptHashData(state->hash, bytes, piece, 0)) return SHA256_FAILED;
    bytes += piece;
    size -= piece;
  }
  return state != NULL ? SHA256_OK : SHA256_FAILED;
}

Sha256Result Sha256End(Sha256& hash, unsigned char* digest) {
  CryptoState* state = static_cast<CryptoState*>(hash.state);
  hash.state = NULL;
  if (state == NULL) return SHA256_FAILED;
  BYTE value[SHA256_SIZE];
  DWORD size = SHA256_SIZE;
  Sha256Result result = SHA256_OK;
  if (!CryptGetHashParam(state->hash, HP_HASHVAL, value, &size, 0) || size != SHA256_SIZE)
    result = SHA256_FAILED;
  else if (digest != NULL)
    memcpy(digest, value, SHA256_SIZE);
  Release(state);
  return result;
}
