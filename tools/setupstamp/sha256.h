// SHA-256 for the stamping tool, one interface with the system's own
// implementation behind it: CryptoAPI in setupstamp.exe (sha256_cryptoapi.cpp),
// libcrypto in the native tool (sha256_libcrypto.cpp). Pins of installer files
// use it, and so may anything else the tool has to hash.
#pragma once

#include <stddef.h>

#include <string>

#include "install/payload_pin.h"

enum Sha256Result {
  SHA256_OK,
  SHA256_UNAVAILABLE,  // the system computes no SHA-256 (Windows XP before SP3)
  SHA256_FAILED
};

// One computation: Sha256Begin, any number of Sha256Add, then Sha256End, which
// also releases what Begin took (call it on every path once Begin succeeded).
struct Sha256 {
  void* state;
};

Sha256Result Sha256Begin(Sha256& hash);
Sha256Result Sha256Add(Sha256& hash, const void* data, size_t size);
// With `digest` null the result is dropped.
Sha256Result Sha256End(Sha256& hash, unsigned char* digest);

// The digest of `bytes` in one call.
inline Sha256Result Sha256OfBytes(const std::string& bytes, unsigned char digest[SHA256_SIZE]) {
  Sha256 hash;
  Sha256Result result = Sha256Begin(hash);
  if (result != SHA256_OK) return result;
  result = Sha256Add(hash, bytes.data(), bytes.size());
  Sha256Result end = Sha256End(hash, result == SHA256_OK ? digest : NULL);
  return result != SHA256_OK ? result : end;
}
