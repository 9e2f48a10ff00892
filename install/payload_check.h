// Checking a downloaded installer against its configured pins (its SHA-256,
// its signer's key), and keeping the file unchanged, pins or none, until the
// installer's process has been created.
#pragma once

#include <windows.h>

#include "config/config_table.h"
#include "install/payload_pin.h"
#include "install/signer_pin.h"

// One pin key: absent (the download is started as before), malformed (not 64
// hexadecimal digits: the download is refused rather than let through
// unchecked) or valid (`digest` holds the pin).
SettingRead ReadPinSetting(bool present, const WCHAR* value, unsigned char digest[SHA256_SIZE]);

enum PinCheck {
  PIN_NOT_CONFIGURED = 0,  // neither key given; *held is open without write or delete sharing
  PIN_MATCHED = 1,         // every pin given holds; *held is open without write or delete sharing
  PIN_REFUSED = 2,         // the file was deleted (when still setup.exe's); the run log says why
};

// One installer's pins, read from the configuration once for all its
// downloads, whichever mirror serves them.
struct InstallerPins {
  const WCHAR* pinKey;  // the SHA-256 pin's key, for the run log
  const WCHAR* signerKey;
  SettingRead digest;
  unsigned char expected[SHA256_SIZE];
  SettingRead signer;  // the publisher pins'
  SignerPins signers;
  WCHAR signerValue[SIGNER_VALUE_UNITS];  // as configured, for the run log
};

void ReadInstallerPins(const WCHAR* pinKey, const WCHAR* signerKey, InstallerPins* pins);

// Opens the file at `path` again, only while it is still the one the download
// made, and checks it against the SHA-256 pin and the publisher pin: each that
// is given must hold, and a malformed one refuses every file. Unless
// PIN_REFUSED, the caller owns *held and closes it once the installer's
// process exists (or its start failed); otherwise *held is INVALID_HANDLE_VALUE.
PinCheck CheckPinnedDownload(const WCHAR* path, const InstallerPins& pins, HANDLE* held);

// Closes a handle from CheckPinnedDownload, if any, and resets it.
void ReleasePinnedDownload(HANDLE* held);
