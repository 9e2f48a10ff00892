// Payload pins: the SHA-256 digest that a downloaded installer must have before
// it is started, configured as 64 hexadecimal digits (either case). Plain values
// only; setup.exe and the stamping tool read pins the same way.
#pragma once

const int SHA256_SIZE = 32;
const int PIN_DIGITS = 2 * SHA256_SIZE;

// The configuration keys: the product installer for one version tag, and the
// runtime installer whichever mirror served it.
const wchar_t PRODUCT_PIN_KEY_V2[] = L"app.sha256.v2";
const wchar_t PRODUCT_PIN_KEY_V4[] = L"app.sha256.v4";
const wchar_t RUNTIME_PIN_KEY[] = L"net2.sha256";

// The product pin key for a version tag ("v2" or "v4"); null for any other tag.
const wchar_t* ProductPinKey(const wchar_t* tag);

// Reads a pin value into `digest`. True only for exactly 64 hexadecimal digits
// and nothing else (no blanks, no prefix); false leaves `digest` unspecified.
bool ParsePin(const wchar_t* text, unsigned char digest[SHA256_SIZE]);

// The digest as 64 lower-case hexadecimal digits and a terminator.
void FormatDigest(const unsigned char digest[SHA256_SIZE], wchar_t text[PIN_DIGITS + 1]);

// True when both digests hold the same bytes (compared in full, never stopping early).
bool DigestsEqual(const unsigned char a[SHA256_SIZE], const unsigned char b[SHA256_SIZE]);
