// Reading the Authenticode signer of a downloaded installer through the
// system's WinVerifyTrust (wintrust.dll, loaded from the system folder by its
// full path when first needed, never imported).
#pragma once

#include <windows.h>

#include "install/payload_pin.h"

enum SignerRead {
  // The leaf signer's key digest was read; *trustResult and *chainStatus say what
  // the system thinks of the signature.
  SIGNER_READ = 0,
  // The system found no signer; *trustResult says why.
  SIGNER_NONE = 1,
  // The system lacks what the check needs (wintrust.dll or one of its functions,
  // or SHA-256); GetLastError tells which failure.
  SIGNER_CHECK_UNAVAILABLE = 2,
  // The signer's certificate could not be read.
  SIGNER_UNREADABLE = 3,
};

// Verifies the very file that `file` holds (read access; `path` names it for
// the system) without UI and without revocation checks over the network, and
// takes the SHA-256 of the leaf signer's SubjectPublicKeyInfo into `keyDigest`.
SignerRead ReadFileSigner(HANDLE file, const WCHAR* path, unsigned long* trustResult, unsigned long* chainStatus,
                          unsigned char keyDigest[SHA256_SIZE]);
