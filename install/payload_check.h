// Checking a downloaded installer against its configured pins (its SHA-256,
// its signer's key), and keeping the file unchanged, pins or none, until the
// installer's process has been created.
#pragma once

#include <windows.h>

#include "install/payload_pin.h"

// What a configuration says about one pin key.
typedef int PinSetting;
const PinSetting PIN_ABSENT = 0;     // no key: the download is started as before
const PinSetting PIN_MALFORMED = 1;  // present but not 64 hexadecimal digits, empty included
const PinSetting PIN_VALID = 2;      // `digest` holds the pin

// A present key never counts as absent, whatever its value: a pin that cannot
// be read refuses the download rather than letting it through unchecked.
PinSetting ReadPinSetting(bool present, const WCHAR* value, unsigned char digest[SHA256_SIZE]);

typedef int PinCheck;
const PinCheck PIN_NOT_CONFIGURED = 0;  // neither key given; *held is open without write or delete sharing
const PinCheck PIN_MATCHED = 1;         // every pin given holds; *held is open without write or delete sharing
const PinCheck PIN_REFUSED = 2;         // the file was deleted (when still setup.exe's); the run log says why

// Opens the file at `path` again, only while it is still the one the download
// made, and checks it against the SHA-256 pin under `pinKey` and the
// publisher pin under `signerKey`: each that is given must hold. Unless
// PIN_REFUSED, the caller owns *held and closes it once the installer's
// process exists (or its start failed); otherwise *held is INVALID_HANDLE_VALUE.
PinCheck CheckPinnedDownload(const WCHAR* path, const WCHAR* pinKey, const WCHAR* signerKey, HANDLE* held);

// Closes a handle from CheckPinnedDownload, if any, and resets it.
void ReleasePinnedDownload(HANDLE* held);
