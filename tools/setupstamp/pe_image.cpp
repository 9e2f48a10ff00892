#include "tools/setupstamp/pe_image.h"

// Offsets and sizes from the PE/COFF format.
static const size_t DOS_NEW_HEADER_FIELD = 0x3C;   // e_lfanew
static const size_t FILE_HEADER_SIZE = 20;         // after the 4-byte "PE\0\0"
static const size_t SECTION_HEADER_SIZE = 40;
static const uint16_t PE32_MAGIC = 0x10B;
static const uint16_t PE32_PLUS_MAGIC = 0x20B;
static const size_t CHECKSUM_FIELD = 64;           // within the optional header, both kinds
static const size_t PE32_DIRECTORIES = 96;         // where the data directories begin
static const size_t PE32_PLUS_DIRECTORIES = 112;
static const uint32_t SECURITY_DIRECTORY = 4;      // IMAGE_DIRECTORY_ENTRY_SECURITY
static const size_t DIRECTORY_ENTRY_SIZE = 8;

static uint16_t Read16(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                               static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

static uint32_t Read32(const std::string& bytes, size_t offset) {
  return static_cast<uint32_t>(Read16(bytes, offset)) | static_cast<uint32_t>(Read16(bytes, offset + 2)) << 16;
}

static void Write32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

static bool Fits(const std::string& bytes, size_t offset, size_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

bool ReadPeLayout(const std::string& image, PeLayout& layout) {
  if (!Fits(image, 0, DOS_NEW_HEADER_FIELD + 4) || image[0] != 'M' || image[1] != 'Z') return false;
  size_t pe = Read32(image, DOS_NEW_HEADER_FIELD);
  if (!Fits(image, pe, 4 + FILE_HEADER_SIZE) || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  size_t sectionCount = Read16(image, pe + 6);
  size_t optionalSize = Read16(image, pe + 20);
  size_t optional = pe + 4 + FILE_HEADER_SIZE;
  if (!Fits(image, optional, optionalSize) || optionalSize < 2) return false;
  uint16_t magic = Read16(image, optional);
  size_t directories;
  if (magic == PE32_MAGIC) {
    directories = PE32_DIRECTORIES;
  } else if (magic == PE32_PLUS_MAGIC) {
    directories = PE32_PLUS_DIRECTORIES;
  } else {
    return false;
  }
  // NumberOfRvaAndSizes sits just before the directories in both kinds, within the optional header.
  if (optionalSize < directories) return false;
  uint32_t directoryCount = Read32(image, optional + directories - 4);
  size_t entry = directories + SECURITY_DIRECTORY * DIRECTORY_ENTRY_SIZE;
  if (directoryCount <= SECURITY_DIRECTORY || optionalSize < entry + DIRECTORY_ENTRY_SIZE) return false;
  size_t sections = optional + optionalSize;
  if (!Fits(image, sections, sectionCount * SECTION_HEADER_SIZE)) return false;

  layout.checksumOffset = optional + CHECKSUM_FIELD;
  layout.securityEntryOffset = optional + entry;
  layout.certificateOffset = Read32(image, layout.securityEntryOffset);
  layout.certificateSize = Read32(image, layout.securityEntryOffset + 4);
  layout.sectionDataEnd = sections + sectionCount * SECTION_HEADER_SIZE;
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t header = sections + i * SECTION_HEADER_SIZE;
    uint32_t rawSize = Read32(image, header + 16);
    uint32_t rawOffset = Read32(image, header + 20);
    if (rawSize == 0) continue;
    size_t end = static_cast<size_t>(rawOffset) + rawSize;
    if (end > layout.sectionDataEnd) layout.sectionDataEnd = end;
  }
  return true;
}

CertificateRemoval RemoveCertificateTable(std::string& image) {
  PeLayout layout;
  if (!ReadPeLayout(image, layout)) return CERTIFICATE_NONE;
  if (layout.certificateOffset == 0 && layout.certificateSize == 0) return CERTIFICATE_NONE;
  size_t offset = layout.certificateOffset;
  if (offset < layout.sectionDataEnd || !Fits(image, offset, layout.certificateSize)) return CERTIFICATE_MISPLACED;
  image.erase(offset, layout.certificateSize);
  Write32(image, layout.securityEntryOffset, 0);
  Write32(image, layout.securityEntryOffset + 4, 0);
  return CERTIFICATE_REMOVED;
}

static uint32_t ChecksumByte(const std::string& image, size_t position, size_t checksumOffset) {
  // The field's own bytes count as zero; an odd last byte is the low half of a word.
  if (position >= image.size() || (position >= checksumOffset && position < checksumOffset + 4)) return 0;
  return static_cast<unsigned char>(image[position]);
}

uint32_t ComputePeChecksum(const std::string& image, size_t checksumOffset) {
  uint32_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    sum += ChecksumByte(image, i, checksumOffset) | ChecksumByte(image, i + 1, checksumOffset) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(image.size());
}

bool UpdatePeChecksum(std::string& image) {
  PeLayout layout;
  if (!ReadPeLayout(image, layout)) return false;
  Write32(image, layout.checksumOffset, ComputePeChecksum(image, layout.checksumOffset));
  return true;
}
