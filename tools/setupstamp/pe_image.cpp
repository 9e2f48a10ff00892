#include "tools/setupstamp/pe_image.h"

#include "tools/setupstamp/little_endian.h"

// Offsets and sizes from the PE/COFF format.
static const size_t DOS_NEW_HEADER_FIELD = 0x3C;   // e_lfanew
static const size_t FILE_HEADER_SIZE = 20;         // after the 4-byte "PE\0\0"
static const size_t SECTION_COUNT_FIELD = 2;       // within the file header
static const size_t SYMBOL_TABLE_FIELD = 8;
static const size_t OPTIONAL_SIZE_FIELD = 16;
static const size_t SECTION_HEADER_SIZE = 40;
static const uint16_t PE32_MAGIC = 0x10B;
static const uint16_t PE32_PLUS_MAGIC = 0x20B;
// Within the optional header, the same in both kinds.
static const size_t INITIALIZED_DATA_FIELD = 8;
static const size_t SECTION_ALIGNMENT_FIELD = 32;
static const size_t FILE_ALIGNMENT_FIELD = 36;
static const size_t IMAGE_SIZE_FIELD = 56;
static const size_t HEADERS_SIZE_FIELD = 60;
static const size_t CHECKSUM_FIELD = 64;
static const size_t PE32_DIRECTORIES = 96;         // where the data directories begin
static const size_t PE32_PLUS_DIRECTORIES = 112;
static const size_t DIRECTORY_ENTRY_SIZE = 8;
// Within a section header.
static const size_t VIRTUAL_SIZE_FIELD = 8;
static const size_t VIRTUAL_ADDRESS_FIELD = 12;
static const size_t RAW_SIZE_FIELD = 16;
static const size_t RAW_OFFSET_FIELD = 20;
static const size_t SECTION_FLAGS_FIELD = 36;
static const uint32_t RESOURCE_SECTION_FLAGS = 0x40000040;  // initialized data, readable
static const uint32_t LARGEST_ALIGNMENT = 0x10000;

static bool Fits(const std::string& bytes, uint64_t offset, uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

static uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  return (value + alignment - 1) & ~static_cast<uint64_t>(alignment - 1);
}

bool ReadPeHeaders(const std::string& image, PeHeaders& headers) {
  if (!Fits(image, 0, DOS_NEW_HEADER_FIELD + 4) || image[0] != 'M' || image[1] != 'Z') return false;
  size_t pe = ReadLe32(image, DOS_NEW_HEADER_FIELD);
  if (!Fits(image, pe, 4 + FILE_HEADER_SIZE) || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  headers.fileHeader = pe + 4;
  headers.sectionCount = ReadLe16(image, headers.fileHeader + SECTION_COUNT_FIELD);
  headers.optionalSize = ReadLe16(image, headers.fileHeader + OPTIONAL_SIZE_FIELD);
  headers.optionalHeader = headers.fileHeader + FILE_HEADER_SIZE;
  if (!Fits(image, headers.optionalHeader, headers.optionalSize) || headers.optionalSize < 2) return false;
  uint16_t magic = ReadLe16(image, headers.optionalHeader);
  size_t directories;
  if (magic == PE32_MAGIC) {
    directories = PE32_DIRECTORIES;
  } else if (magic == PE32_PLUS_MAGIC) {
    directories = PE32_PLUS_DIRECTORIES;
  } else {
    return false;
  }
  // Every field up to the directories, NumberOfRvaAndSizes (just before them)
  // included, must lie inside the header the file says it has.
  if (headers.optionalSize < directories) return false;
  uint32_t declared = ReadLe32(image, headers.optionalHeader + directories - 4);
  uint32_t room = static_cast<uint32_t>((headers.optionalSize - directories) / DIRECTORY_ENTRY_SIZE);
  headers.directoryCount = declared < room ? declared : room;
  headers.directories = headers.optionalHeader + directories;
  headers.sectionAlignment = ReadLe32(image, headers.optionalHeader + SECTION_ALIGNMENT_FIELD);
  headers.fileAlignment = ReadLe32(image, headers.optionalHeader + FILE_ALIGNMENT_FIELD);
  headers.sectionTable = headers.optionalHeader + headers.optionalSize;
  return Fits(image, headers.sectionTable, headers.sectionCount * SECTION_HEADER_SIZE);
}

PeSection ReadPeSection(const std::string& image, const PeHeaders& headers, size_t index) {
  PeSection section;
  section.header = headers.sectionTable + index * SECTION_HEADER_SIZE;
  section.virtualSize = ReadLe32(image, section.header + VIRTUAL_SIZE_FIELD);
  section.virtualAddress = ReadLe32(image, section.header + VIRTUAL_ADDRESS_FIELD);
  section.rawSize = ReadLe32(image, section.header + RAW_SIZE_FIELD);
  section.rawOffset = ReadLe32(image, section.header + RAW_OFFSET_FIELD);
  return section;
}

void ReadPeDirectory(const std::string& image, const PeHeaders& headers, uint32_t index, uint32_t& address,
                     uint32_t& size) {
  address = 0;
  size = 0;
  if (index >= headers.directoryCount) return;
  address = ReadLe32(image, headers.directories + index * DIRECTORY_ENTRY_SIZE);
  size = ReadLe32(image, headers.directories + index * DIRECTORY_ENTRY_SIZE + 4);
}

// The section's size in memory; a zero VirtualSize means its file data's size.
static uint32_t MemorySize(const PeSection& section) {
  return section.virtualSize != 0 ? section.virtualSize : section.rawSize;
}

uint32_t MapPeAddress(const std::string& image, const PeHeaders& headers, uint32_t rva, size_t& offset) {
  for (size_t i = 0; i < headers.sectionCount; ++i) {
    PeSection section = ReadPeSection(image, headers, i);
    // Only the bytes the file holds for the section, and only those the loader
    // maps: its size in memory rounded up to whole sections. (Wine's resource
    // update leaves VirtualSize short of resources it adds in the last page.)
    uint64_t span = AlignUp(MemorySize(section), headers.sectionAlignment != 0 ? headers.sectionAlignment : 1);
    uint32_t mapped = section.rawSize < span ? section.rawSize : static_cast<uint32_t>(span);
    if (rva < section.virtualAddress || rva - section.virtualAddress >= mapped) continue;
    uint64_t start = static_cast<uint64_t>(section.rawOffset) + (rva - section.virtualAddress);
    if (start >= image.size()) return 0;
    uint64_t inFile = image.size() - start;
    uint64_t inSection = mapped - (rva - section.virtualAddress);
    offset = static_cast<size_t>(start);
    return static_cast<uint32_t>(inFile < inSection ? inFile : inSection);
  }
  return 0;
}

// The end of the data the sections have in the file; at least the headers'.
static uint64_t SectionDataEnd(const std::string& image, const PeHeaders& headers) {
  uint64_t end = headers.sectionTable + headers.sectionCount * SECTION_HEADER_SIZE;
  for (size_t i = 0; i < headers.sectionCount; ++i) {
    PeSection section = ReadPeSection(image, headers, i);
    if (section.rawSize == 0) continue;
    // 64 bits: offset and size may each be near 4 GiB in a crafted file.
    uint64_t sectionEnd = static_cast<uint64_t>(section.rawOffset) + section.rawSize;
    if (sectionEnd > end) end = sectionEnd;
  }
  return end;
}

bool ReadPeLayout(const std::string& image, PeLayout& layout) {
  PeHeaders headers;
  if (!ReadPeHeaders(image, headers) || headers.directoryCount <= PE_SECURITY_DIRECTORY) return false;
  layout.checksumOffset = headers.optionalHeader + CHECKSUM_FIELD;
  layout.securityEntryOffset = headers.directories + PE_SECURITY_DIRECTORY * DIRECTORY_ENTRY_SIZE;
  layout.certificateOffset = ReadLe32(image, layout.securityEntryOffset);
  layout.certificateSize = ReadLe32(image, layout.securityEntryOffset + 4);
  layout.sectionDataEnd = SectionDataEnd(image, headers);
  return true;
}

CertificateRemoval RemoveCertificateTable(std::string& image) {
  PeLayout layout;
  if (!ReadPeLayout(image, layout)) return CERTIFICATE_NONE;
  if (layout.certificateOffset == 0 && layout.certificateSize == 0) return CERTIFICATE_NONE;
  size_t offset = layout.certificateOffset;
  if (offset < layout.sectionDataEnd || !Fits(image, offset, layout.certificateSize)) return CERTIFICATE_MISPLACED;
  image.erase(offset, layout.certificateSize);
  WriteLe32(image, layout.securityEntryOffset, 0);
  WriteLe32(image, layout.securityEntryOffset + 4, 0);
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
  PeHeaders headers;
  if (!ReadPeHeaders(image, headers)) return false;
  size_t checksumOffset = headers.optionalHeader + CHECKSUM_FIELD;
  WriteLe32(image, checksumOffset, ComputePeChecksum(image, checksumOffset));
  return true;
}

static bool IsAlignment(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Where the resources go: the index of their section (sectionCount when one
// is to be added) and its address.
struct ResourcePlace {
  PeHeaders headers;
  size_t index;
  uint32_t rva;
};

static ResourceSectionResult FindResourcePlace(const std::string& image, ResourcePlace& place) {
  PeHeaders& headers = place.headers;
  if (!ReadPeHeaders(image, headers)) return RESOURCE_SECTION_NOT_AN_IMAGE;
  if (!IsAlignment(headers.fileAlignment) || !IsAlignment(headers.sectionAlignment) ||
      headers.sectionAlignment > LARGEST_ALIGNMENT || headers.fileAlignment > headers.sectionAlignment)
    return RESOURCE_SECTION_NOT_AN_IMAGE;
  if (headers.directoryCount <= PE_RESOURCE_DIRECTORY) return RESOURCE_SECTION_NO_HEADER_ROOM;
  uint32_t address = 0, size = 0;
  ReadPeDirectory(image, headers, PE_RESOURCE_DIRECTORY, address, size);
  if (address == 0 && size == 0) {
    // A new section behind the last one in memory; its header must fit before
    // the first section's data.
    uint64_t tableEnd = headers.sectionTable + (headers.sectionCount + 1) * SECTION_HEADER_SIZE;
    uint64_t memoryEnd = 0;
    for (size_t i = 0; i < headers.sectionCount; ++i) {
      PeSection section = ReadPeSection(image, headers, i);
      if (section.rawSize != 0 && section.rawOffset < tableEnd) return RESOURCE_SECTION_NO_HEADER_ROOM;
      uint64_t end = static_cast<uint64_t>(section.virtualAddress) + MemorySize(section);
      if (end > memoryEnd) memoryEnd = end;
    }
    if (tableEnd > ReadLe32(image, headers.optionalHeader + HEADERS_SIZE_FIELD) || !Fits(image, 0, tableEnd) ||
        headers.sectionCount >= 0xFFFF)
      return RESOURCE_SECTION_NO_HEADER_ROOM;
    // The new section's data goes behind the others', which must all be there.
    if (SectionDataEnd(image, headers) > image.size()) return RESOURCE_SECTION_NOT_AN_IMAGE;
    uint64_t rva = AlignUp(memoryEnd, headers.sectionAlignment);
    if (rva > 0xFFFFFFFFu - LARGEST_ALIGNMENT) return RESOURCE_SECTION_NOT_AN_IMAGE;
    place.index = headers.sectionCount;
    place.rva = static_cast<uint32_t>(rva);
    return RESOURCE_SECTION_OK;
  }
  for (size_t i = 0; i < headers.sectionCount; ++i) {
    PeSection section = ReadPeSection(image, headers, i);
    if (section.virtualAddress != address) continue;
    // Another directory inside it would be overwritten by the new resources.
    for (uint32_t d = 0; d < headers.directoryCount; ++d) {
      uint32_t other = 0, otherSize = 0;
      ReadPeDirectory(image, headers, d, other, otherSize);
      if (d == PE_RESOURCE_DIRECTORY || d == PE_SECURITY_DIRECTORY || (other == 0 && otherSize == 0)) continue;
      if (other >= address && other - address < MemorySize(section)) return RESOURCE_SECTION_SHARED;
    }
    if (!Fits(image, section.rawOffset, section.rawSize)) return RESOURCE_SECTION_NOT_AN_IMAGE;
    place.index = i;
    place.rva = address;
    return RESOURCE_SECTION_OK;
  }
  return RESOURCE_SECTION_SHARED;
}

ResourceSectionResult LocateResourceSection(const std::string& image, uint32_t& rva) {
  ResourcePlace place;
  ResourceSectionResult result = FindResourcePlace(image, place);
  if (result == RESOURCE_SECTION_OK) rva = place.rva;
  return result;
}

// Adds an empty resource section at the place found; PutResourceSection then
// grows it like an existing one.
static void AddEmptySection(std::string& image, ResourcePlace& place) {
  PeHeaders& headers = place.headers;
  uint64_t dataEnd = AlignUp(SectionDataEnd(image, headers), headers.fileAlignment);
  if (image.size() < dataEnd) image.resize(static_cast<size_t>(dataEnd), '\0');
  size_t header = headers.sectionTable + headers.sectionCount * SECTION_HEADER_SIZE;
  image.replace(header, SECTION_HEADER_SIZE, std::string(".rsrc\0\0\0", 8) + std::string(32, '\0'));
  WriteLe32(image, header + VIRTUAL_ADDRESS_FIELD, place.rva);
  WriteLe32(image, header + RAW_OFFSET_FIELD, static_cast<uint32_t>(dataEnd));
  WriteLe32(image, header + SECTION_FLAGS_FIELD, RESOURCE_SECTION_FLAGS);
  ++headers.sectionCount;
  WriteLe16(image, headers.fileHeader + SECTION_COUNT_FIELD, static_cast<uint16_t>(headers.sectionCount));
  // The new section begins where the image ended in memory.
  WriteLe32(image, headers.optionalHeader + IMAGE_SIZE_FIELD, place.rva);
}

// A section behind the resources in memory may move there only when nothing
// but the base relocation table lies in it: code and data refer to the others
// by address.
static bool MayMove(const std::string& image, const PeHeaders& headers, const PeSection& section) {
  bool relocations = false;
  for (uint32_t d = 0; d < headers.directoryCount; ++d) {
    uint32_t address = 0, size = 0;
    ReadPeDirectory(image, headers, d, address, size);
    if (d == PE_SECURITY_DIRECTORY || (address == 0 && size == 0)) continue;
    if (address < section.virtualAddress || address - section.virtualAddress >= MemorySize(section)) continue;
    if (d != PE_RELOCATION_DIRECTORY) return false;
    relocations = true;
  }
  return relocations;
}

// The directory entries inside a section that moves in memory (its relocation
// table's) move with it.
static void MoveDirectoriesIn(std::string& work, const PeHeaders& headers, const PeSection& section,
                              uint32_t memoryShift) {
  for (uint32_t d = 0; d < headers.directoryCount; ++d) {
    uint32_t address = 0, size = 0;
    ReadPeDirectory(work, headers, d, address, size);
    if (d == PE_SECURITY_DIRECTORY || (address == 0 && size == 0)) continue;
    if (address >= section.virtualAddress && address - section.virtualAddress < MemorySize(section))
      WriteLe32(work, headers.directories + d * DIRECTORY_ENTRY_SIZE, address + memoryShift);
  }
}

// File offsets into what lies behind the sections: the COFF symbol table of an
// unstripped image, and a certificate table.
static void MoveTrailingOffsets(std::string& work, const PeHeaders& headers, uint64_t oldRawEnd, uint32_t fileShift) {
  uint32_t symbols = ReadLe32(work, headers.fileHeader + SYMBOL_TABLE_FIELD);
  if (symbols != 0 && symbols >= oldRawEnd) WriteLe32(work, headers.fileHeader + SYMBOL_TABLE_FIELD, symbols + fileShift);
  uint32_t certificates = 0, certificatesSize = 0;
  ReadPeDirectory(work, headers, PE_SECURITY_DIRECTORY, certificates, certificatesSize);
  if (certificates != 0 && certificates >= oldRawEnd)
    WriteLe32(work, headers.directories + PE_SECURITY_DIRECTORY * DIRECTORY_ENTRY_SIZE, certificates + fileShift);
}

ResourceSectionResult PutResourceSection(std::string& image, const std::string& content) {
  ResourcePlace place;
  ResourceSectionResult result = FindResourcePlace(image, place);
  if (result != RESOURCE_SECTION_OK) return result;
  PeHeaders& headers = place.headers;
  std::string work = image;
  if (place.index == headers.sectionCount) AddEmptySection(work, place);
  PeSection resources = ReadPeSection(work, headers, place.index);
  uint64_t newRaw = AlignUp(content.size(), headers.fileAlignment);
  uint64_t oldSpan = AlignUp(MemorySize(resources), headers.sectionAlignment);
  uint64_t newSpan = AlignUp(content.size(), headers.sectionAlignment);
  uint64_t oldRawEnd = static_cast<uint64_t>(resources.rawOffset) + resources.rawSize;
  // Offsets move by these amounts (two's complement: shrinking wraps below zero).
  uint32_t fileShift = static_cast<uint32_t>(newRaw - resources.rawSize);
  uint32_t memoryShift = static_cast<uint32_t>(newSpan - oldSpan);
  uint64_t imageSize = ReadLe32(work, headers.optionalHeader + IMAGE_SIZE_FIELD);
  if (static_cast<uint64_t>(resources.virtualAddress) + newSpan > 0xFFFFFFFFu ||
      imageSize + newSpan > 0xFFFFFFFFu + oldSpan || oldRawEnd + newRaw > 0xFFFFFFFFu + static_cast<uint64_t>(resources.rawSize))
    return RESOURCE_SECTION_NOT_AN_IMAGE;

  for (size_t i = 0; i < headers.sectionCount; ++i) {
    if (i == place.index) continue;
    PeSection section = ReadPeSection(work, headers, i);
    bool behindInMemory = section.virtualAddress > resources.virtualAddress;
    if (behindInMemory && section.rawSize != 0 && section.rawOffset < oldRawEnd)
      return RESOURCE_SECTION_FIXED_FOLLOWER;
    if (behindInMemory && memoryShift != 0) {
      if (!MayMove(work, headers, section)) return RESOURCE_SECTION_FIXED_FOLLOWER;
      MoveDirectoriesIn(work, headers, section, memoryShift);
      WriteLe32(work, section.header + VIRTUAL_ADDRESS_FIELD, section.virtualAddress + memoryShift);
    }
    if (section.rawSize != 0 && section.rawOffset >= oldRawEnd)
      WriteLe32(work, section.header + RAW_OFFSET_FIELD, section.rawOffset + fileShift);
  }
  MoveTrailingOffsets(work, headers, oldRawEnd, fileShift);

  WriteLe32(work, resources.header + VIRTUAL_SIZE_FIELD, static_cast<uint32_t>(content.size()));
  WriteLe32(work, resources.header + RAW_SIZE_FIELD, static_cast<uint32_t>(newRaw));
  size_t resourceEntry = headers.directories + PE_RESOURCE_DIRECTORY * DIRECTORY_ENTRY_SIZE;
  WriteLe32(work, resourceEntry, resources.virtualAddress);
  WriteLe32(work, resourceEntry + 4, static_cast<uint32_t>(content.size()));
  WriteLe32(work, headers.optionalHeader + IMAGE_SIZE_FIELD, static_cast<uint32_t>(imageSize) + memoryShift);
  uint32_t initialized = ReadLe32(work, headers.optionalHeader + INITIALIZED_DATA_FIELD);
  WriteLe32(work, headers.optionalHeader + INITIALIZED_DATA_FIELD, initialized + fileShift);

  std::string padded = content;
  padded.resize(static_cast<size_t>(newRaw), '\0');
  image = work.substr(0, resources.rawOffset) + padded + work.substr(static_cast<size_t>(oldRawEnd));
  return RESOURCE_SECTION_OK;
}
