// The parts of a Windows program's headers that stamping must keep right: the
// certificate table that holds an Authenticode signature, and the image
// checksum. Plain bytes in, plain values out; PE32 and PE32+ alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

struct PeLayout {
  size_t checksumOffset;       // file offset of the optional header's CheckSum
  size_t securityEntryOffset;  // file offset of the certificate table's directory entry
  uint32_t certificateOffset;  // the entry: a file offset (not an address) and a size
  uint32_t certificateSize;
  size_t sectionDataEnd;       // end of the last section's raw data in the file
};

// False when the bytes are not a PE image whose headers hold a certificate
// table entry.
bool ReadPeLayout(const std::string& image, PeLayout& layout);

enum CertificateRemoval {
  CERTIFICATE_NONE,      // the image carries no certificate table
  CERTIFICATE_REMOVED,   // the table's bytes were cut out and its entry zeroed
  CERTIFICATE_MISPLACED  // the entry points into the sections or past the end: left as it was
};

// Removes the certificate table from a PE image: its bytes (Authenticode puts
// them behind the sections, usually at the very end) and its directory entry.
// Anything appended behind the table moves up to close the gap.
CertificateRemoval RemoveCertificateTable(std::string& image);

// The image checksum as Windows computes it: 16-bit words summed with the carry
// folded back, the CheckSum field itself counted as zero, plus the file length.
uint32_t ComputePeChecksum(const std::string& image, size_t checksumOffset);

// Writes the correct checksum into the image; false when it is no PE image.
bool UpdatePeChecksum(std::string& image);
