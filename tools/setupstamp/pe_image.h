// The parts of a Windows program's headers that stamping must keep right: the
// certificate table that holds an Authenticode signature, the image checksum,
// and the section that holds the resources, which stamping rewrites. Plain
// bytes in, plain values out; PE32 and PE32+ alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// Data directory entries that stamping reads or changes.
const uint32_t PE_RESOURCE_DIRECTORY = 2;
const uint32_t PE_SECURITY_DIRECTORY = 4;     // a file offset, not an address
const uint32_t PE_RELOCATION_DIRECTORY = 5;

// Where the headers are, every offset checked to lie inside the image.
struct PeHeaders {
  size_t fileHeader;        // the COFF file header, just after "PE\0\0"
  size_t optionalHeader;
  size_t optionalSize;      // SizeOfOptionalHeader
  size_t directories;       // file offset of the first data directory entry
  uint32_t directoryCount;  // the entries that NumberOfRvaAndSizes and the header's size both give
  size_t sectionTable;
  size_t sectionCount;
  uint32_t sectionAlignment;
  uint32_t fileAlignment;
};

struct PeSection {
  size_t header;  // file offset of its entry in the section table
  uint32_t virtualSize;
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawOffset;
};

// False when the bytes are not a PE image whose headers, section table
// included, lie inside them.
bool ReadPeHeaders(const std::string& image, PeHeaders& headers);

PeSection ReadPeSection(const std::string& image, const PeHeaders& headers, size_t index);

// A data directory entry; zeros when the headers have no such entry.
void ReadPeDirectory(const std::string& image, const PeHeaders& headers, uint32_t index, uint32_t& address,
                     uint32_t& size);

// How many bytes from address `rva` on the file holds in one section (0 when
// none), and the file offset of the first.
uint32_t MapPeAddress(const std::string& image, const PeHeaders& headers, uint32_t rva, size_t& offset);

struct PeLayout {
  size_t checksumOffset;       // file offset of the optional header's CheckSum
  size_t securityEntryOffset;  // file offset of the certificate table's directory entry
  uint32_t certificateOffset;  // the entry: a file offset (not an address) and a size
  uint32_t certificateSize;
  uint64_t sectionDataEnd;     // end of the last section's raw data in the file
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

enum ResourceSectionResult {
  RESOURCE_SECTION_OK,
  RESOURCE_SECTION_NOT_AN_IMAGE,    // headers cut short, or alignments no linker writes
  RESOURCE_SECTION_SHARED,          // the resources do not begin a section that holds nothing else
  RESOURCE_SECTION_FIXED_FOLLOWER,  // a section behind it, which code may address, would have to move
  RESOURCE_SECTION_NO_HEADER_ROOM   // no resource section yet, and no room for one more section header
};

// The address at which PutResourceSection places the resources: that of the
// section holding them, or for an image without any, of the section it adds.
ResourceSectionResult LocateResourceSection(const std::string& image, uint32_t& rva);

// Makes `content` (built for the address LocateResourceSection gives) the
// resource section: the section grows or shrinks to fit, the sections behind
// it move in the file and, when its size in memory changes, in memory too,
// which only the base relocation table may do (code addresses the others).
// Data directories, SizeOfImage and SizeOfInitializedData follow; every other
// byte of the image, and anything appended behind its sections, stays.
// The checksum is left for UpdatePeChecksum.
ResourceSectionResult PutResourceSection(std::string& image, const std::string& content);
