#include "install/payload_check.h"

#include "config/setup_config.h"
#include "install/file_digest.h"
#include "install/signer_check.h"
#include "install/signer_pin.h"
#include "log/platform_log.h"
#include "log/run_log.h"
#include "platform/fresh_file.h"

SettingRead ReadPinSetting(bool present, const WCHAR* value, unsigned char digest[SHA256_SIZE]) {
  if (!present) return SETTING_ABSENT;
  return ParsePin(value, digest) ? SETTING_VALID : SETTING_MALFORMED;
}

// The signer of the file that `file` holds against the publisher pins: true
// when it is accepted; otherwise the run log says why.
static bool CheckSigner(HANDLE file, const WCHAR* path, const InstallerPins& installer) {
  const WCHAR* signerKey = installer.signerKey;
  unsigned long trustResult = 0;
  unsigned long chainStatus = 0;
  unsigned char key[SHA256_SIZE];
  WCHAR keyText[PIN_DIGITS + 1];
  SignerRead read = ReadFileSigner(file, path, &trustResult, &chainStatus, key);
  if (read == SIGNER_CHECK_UNAVAILABLE) {
    LogFormat("no signature check on this system, signer %s cannot be checked, download refused. %d", signerKey,
              static_cast<int>(GetLastError()));
    return false;
  }
  if (JudgeSignature(trustResult, chainStatus) == SIGNATURE_REFUSED) {
    LogFormat("signer %s refused: %S (0x%08X, chain 0x%08X)", signerKey, DescribeTrustResult(trustResult),
              static_cast<unsigned>(trustResult), static_cast<unsigned>(chainStatus));
    return false;
  }
  if (read != SIGNER_READ) {
    LogFormat("signer %s refused: no signer certificate read (0x%08X). %d", signerKey,
              static_cast<unsigned>(trustResult), static_cast<int>(GetLastError()));
    return false;
  }
  FormatDigest(key, keyText);
  if (!SignerPinsMatch(installer.signers, key)) {
    LogFormat("signer %s mismatch: expected %s, received %s (chain 0x%08X)", signerKey, installer.signerValue, keyText,
              static_cast<unsigned>(chainStatus));
    return false;
  }
  LogFormat("signer %s matched: %s (%S)", signerKey, keyText, DescribeTrustResult(trustResult));
  return true;
}

// The file that `file` holds against the SHA-256 pin `expected` under
// `pinKey`: true when it matches; otherwise the run log says why.
static bool CheckDigest(HANDLE file, const WCHAR* pinKey, const unsigned char expected[SHA256_SIZE]) {
  unsigned char received[SHA256_SIZE];
  WCHAR expectedText[PIN_DIGITS + 1];
  WCHAR receivedText[PIN_DIGITS + 1];
  DigestResult digested = DigestFile(file, received);
  if (digested == DIGEST_NO_PROVIDER) {
    LogFormat("no sha-256 on this system, pin %s cannot be checked, download refused. %d", pinKey,
              static_cast<int>(GetLastError()));
    return false;
  }
  if (digested != DIGEST_OK) {
    LogFormat("sha-256 of the download failed. %d", static_cast<int>(GetLastError()));
    return false;
  }
  FormatDigest(expected, expectedText);
  FormatDigest(received, receivedText);
  if (!DigestsEqual(expected, received)) {
    LogFormat("pin %s mismatch: expected %s, received %s", pinKey, expectedText, receivedText);
    return false;
  }
  LogFormat("pin %s matched", pinKey);
  return true;
}

void ReadInstallerPins(const WCHAR* pinKey, const WCHAR* signerKey, InstallerPins* pins) {
  // One unit more than a pin: a longer value stays longer, and so malformed.
  WCHAR value[PIN_DIGITS + 2];
  pins->pinKey = pinKey;
  pins->signerKey = signerKey;
  pins->digest = ReadPinSetting(FindConfigValue(pinKey, value, PIN_DIGITS + 2), value, pins->expected);
  pins->signer = SETTING_ABSENT;
  if (FindConfigValue(signerKey, pins->signerValue, SIGNER_VALUE_UNITS))
    pins->signer = ParseSignerPins(pins->signerValue, &pins->signers) ? SETTING_VALID : SETTING_MALFORMED;
}

PinCheck CheckPinnedDownload(const WCHAR* path, const InstallerPins& pins, HANDLE* held) {
  FileFailure failure;
  HANDLE file = INVALID_HANDLE_VALUE;
  PinCheck result = PIN_REFUSED;

  *held = INVALID_HANDLE_VALUE;
  if (pins.digest == SETTING_MALFORMED) {
    LogFormat("pin %s is not 64 hexadecimal digits, download refused", pins.pinKey);
    goto done;
  }
  if (pins.signer == SETTING_MALFORMED) {
    LogFormat("signer %s is not a comma-separated list of key digests (64 hexadecimal digits each), download refused",
              pins.signerKey);
    goto done;
  }
  // Read sharing only, pins or none: from here until the process exists nobody
  // may write, rename or delete the file. An open write handle makes this
  // open fail, and so does another file put under the name since the download.
  file = OpenOwnFile(path, GENERIC_READ, FILE_SHARE_READ, &failure);
  if (file == INVALID_HANDLE_VALUE) {
    LogFileFailure(failure, path);
    LogFormat("download not opened for its check. %d", static_cast<int>(failure.code));
    goto done;
  }
  if (pins.digest == SETTING_VALID && !CheckDigest(file, pins.pinKey, pins.expected)) goto done;
  if (pins.signer == SETTING_VALID && !CheckSigner(file, path, pins)) goto done;
  *held = file;
  file = INVALID_HANDLE_VALUE;
  result = pins.digest == SETTING_ABSENT && pins.signer == SETTING_ABSENT ? PIN_NOT_CONFIGURED : PIN_MATCHED;

done:
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  // Only while the name holds the file this process downloaded: a file put in
  // its place is someone else's, and a deletion by name follows links under Wine.
  if (result == PIN_REFUSED && !DeleteOwnFile(path, &failure)) LogFileFailure(failure, path);
  return result;
}

void ReleasePinnedDownload(HANDLE* held) {
  if (*held != INVALID_HANDLE_VALUE) CloseHandle(*held);
  *held = INVALID_HANDLE_VALUE;
}
