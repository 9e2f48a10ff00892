#include "install/signer_pin.h"

// WinVerifyTrust's answers, as the Windows headers name them.
const unsigned long TRUST_E_NOSIGNATURE = 0x800B0100;
const unsigned long TRUST_E_BAD_DIGEST = 0x80096010;
const unsigned long TRUST_E_EXPLICIT_DISTRUST = 0x800B0111;
const unsigned long CERT_E_EXPIRED = 0x800B0101;
const unsigned long CERT_E_VALIDITYPERIODNESTING = 0x800B0102;
const unsigned long CERT_E_UNTRUSTEDROOT = 0x800B0109;
const unsigned long CERT_E_CHAINING = 0x800B010A;
const unsigned long CERT_E_REVOKED = 0x800B010C;
const unsigned long CERT_E_UNTRUSTEDTESTROOT = 0x800B010D;
const unsigned long CERT_E_UNTRUSTEDCA = 0x800B0112;
// CERT_TRUST_* error bits of a chain.
const unsigned long CERT_TRUST_IS_REVOKED = 0x00000004;
const unsigned long CERT_TRUST_IS_EXPLICIT_DISTRUST = 0x04000000;

bool ParseSignerPins(const wchar_t* text, SignerPins* pins) {
  pins->count = 0;
  for (const wchar_t* at = text;; at += PIN_DIGITS + 1) {
    if (pins->count == MAX_SIGNER_PINS) return false;
    // ParsePin wants the digest alone: copy it out, terminated.
    wchar_t one[PIN_DIGITS + 1];
    int length = 0;
    while (length < PIN_DIGITS && at[length] != L'\0' && at[length] != L',') {
      one[length] = at[length];
      ++length;
    }
    one[length] = L'\0';
    if (length != PIN_DIGITS || !ParsePin(one, pins->keys[pins->count])) return false;
    ++pins->count;
    if (at[PIN_DIGITS] == L'\0') return true;
    if (at[PIN_DIGITS] != L',') return false;
  }
}

bool SignerPinsMatch(const SignerPins& pins, const unsigned char key[SHA256_SIZE]) {
  bool matched = false;
  for (int i = 0; i < pins.count; ++i) matched = DigestsEqual(pins.keys[i], key) || matched;
  return matched;
}

SignatureVerdict JudgeSignature(unsigned long trustResult, unsigned long chainErrorStatus) {
  if ((chainErrorStatus & (CERT_TRUST_IS_EXPLICIT_DISTRUST | CERT_TRUST_IS_REVOKED)) != 0) return SIGNATURE_REFUSED;
  switch (trustResult) {
    case 0:
      return SIGNATURE_VALID;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_UNTRUSTEDCA:
    case CERT_E_CHAINING:
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
      return SIGNATURE_CHAIN_COMPLAINT;
    default:
      return SIGNATURE_REFUSED;
  }
}

const char* DescribeTrustResult(unsigned long trustResult) {
  switch (trustResult) {
    case 0:
      return "signature verified";
    case TRUST_E_NOSIGNATURE:
      return "no signature";
    case TRUST_E_BAD_DIGEST:
      return "the file does not match its signature";
    case TRUST_E_EXPLICIT_DISTRUST:
      return "the signer is explicitly distrusted";
    case CERT_E_REVOKED:
      return "the signer's certificate is revoked";
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_UNTRUSTEDCA:
      return "root not trusted";
    case CERT_E_CHAINING:
      return "chain not built";
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
      return "certificate expired";
    default:
      return "signature not verified";
  }
}
