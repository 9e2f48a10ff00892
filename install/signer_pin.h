// Publisher pins: the SHA-256 digests of the signing certificate's public key
// (its SubjectPublicKeyInfo, DER) that a downloaded installer's Authenticode
// signer must have, and which answers of the system's signature check let the
// pinned key decide. Plain values only; setup.exe and the stamping tool read
// these values the same way.
#pragma once

#include "install/payload_pin.h"

// The keys: the product installer (both version tags) and the runtime installer.
const wchar_t PRODUCT_SIGNER_KEY[] = L"app.signer";
const wchar_t RUNTIME_SIGNER_KEY[] = L"net2.signer";

// A maker rotating keys lists two; room for a few more.
const int MAX_SIGNER_PINS = 8;
// The longest value that can be read, its terminator, and one unit more, so
// that a longer value stays longer, and so malformed.
const int SIGNER_VALUE_UNITS = MAX_SIGNER_PINS * (PIN_DIGITS + 1) + 1;

struct SignerPins {
  int count;
  unsigned char keys[MAX_SIGNER_PINS][SHA256_SIZE];
};

// Reads "DIGEST[,DIGEST]..." (each 64 hexadecimal digits, either case; no
// blanks, no empty entry) into `pins`. False for anything else, empty included.
bool ParseSignerPins(const wchar_t* text, SignerPins* pins);

// True when `key` is one of the pinned digests.
bool SignerPinsMatch(const SignerPins& pins, const unsigned char key[SHA256_SIZE]);

enum SignatureVerdict {
  // The signature verified, and nothing was said against the signer.
  SIGNATURE_VALID = 0,
  // The signature covers the file, and the only complaint is about the chain
  // (root not trusted, chain not built, expired without a time stamp): the pinned
  // key is the trust anchor, so a maker's own CA works.
  SIGNATURE_CHAIN_COMPLAINT = 1,
  // Refused whatever the key: no signature, a bad digest, an explicitly
  // distrusted or revoked signer, and every answer not known to be about the chain.
  SIGNATURE_REFUSED = 2,
};

// Judges WinVerifyTrust's answer (an HRESULT) and the signer's chain error
// status (CERT_TRUST_*), which may name a distrust that the answer does not.
SignatureVerdict JudgeSignature(unsigned long trustResult, unsigned long chainErrorStatus);

// A few words for the log about an answer of WinVerifyTrust.
const char* DescribeTrustResult(unsigned long trustResult);
