// The configuration resource of a setup.exe image, as plain bytes: read, and
// replaced in a copy. No system calls: setupstamp.exe and the native
// setupstamp write the same bytes for the same input.
#pragma once

#include <stdint.h>

#include <string>

const uint16_t CONFIG_RESOURCE_LANGUAGE = 0x0804;  // Chinese (PRC)

enum ExeStampResult {
  EXE_STAMP_OK,
  EXE_STAMP_NOT_AN_IMAGE,
  EXE_STAMP_MALFORMED_RESOURCES,
  EXE_STAMP_NO_CONFIG,               // reading only: the image carries none
  EXE_STAMP_MISPLACED_CERTIFICATE,   // the certificate table lies inside the sections or past the end
  EXE_STAMP_SHARED_SECTION,          // the resources share their section with other data
  EXE_STAMP_FIXED_FOLLOWER,          // their section cannot change size: a section behind it cannot move
  EXE_STAMP_NO_HEADER_ROOM,          // no resources, and no room in the headers for a section of them
  EXE_STAMP_READ_BACK_DIFFERS        // the written image does not give the text back: a fault of this code
};

// The bytes of the configuration resource: the Chinese (PRC) one when there
// are several, else the first; `languages` says how many the image carries.
ExeStampResult ReadImageConfig(const std::string& image, std::string& text, int& languages);

// A copy of `source` whose configuration resource is `text`, in the Chinese
// (PRC) language only: every earlier copy of it goes (`removedLanguages` says
// how many), every other resource stays byte for byte. A certificate table (an
// Authenticode signature, which would no longer match) is cut out
// (`removedSignature`), and the checksum is made right for the new bytes.
ExeStampResult StampImage(const std::string& source, const std::string& text, std::string& stamped,
                          int& removedLanguages, bool& removedSignature);
