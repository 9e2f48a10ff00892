// SHA-256 through the system's own CryptoAPI provider (present from Windows XP
// SP3 on), its functions looked up at run time.
#pragma once

#include <windows.h>

#include "install/payload_pin.h"

enum DigestResult {
  DIGEST_OK = 0,
  // The system has no provider that computes SHA-256 (XP before SP3), or lacks
  // one of the functions.
  DIGEST_NO_PROVIDER = 1,
  // The provider failed, or the file could not be read to its end.
  DIGEST_FAILED = 2,
};

// Reads `file` from its start to its end and hashes every byte. On a result
// other than DIGEST_OK, GetLastError tells why.
DigestResult DigestFile(HANDLE file, unsigned char digest[SHA256_SIZE]);

// The same for `size` bytes in memory.
DigestResult DigestBytes(const unsigned char* bytes, DWORD size, unsigned char digest[SHA256_SIZE]);
