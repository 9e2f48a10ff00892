// The resource writer on small images laid out as the GNU linker lays out
// setup.exe (code, resources, base relocations). Plain code: this file runs
// natively and under Wine alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/setupstamp/exe_stamp.h"
#include "tools/setupstamp/little_endian.h"
#include "tools/setupstamp/pe_image.h"
#include "tools/setupstamp/resource_section.h"

namespace {

const uint32_t PE_AT = 0x80;
const uint32_t OPTIONAL_AT = PE_AT + 24;
const uint32_t SECTIONS_AT = OPTIONAL_AT + 224;
const uint32_t PAGE = 0x1000;
const uint32_t FILE_ALIGNMENT = 0x200;
const std::string TEXT_BYTES(FILE_ALIGNMENT, 'T');
const std::string RELOCATIONS = std::string("\x00\x10\x00\x00\x0C\x00\x00\x00\x04\x30\x00\x00", 12);

ResourceKey Id(uint16_t id) { return ResourceKey{false, std::wstring(), id}; }
ResourceKey Named(const wchar_t* text) { return ResourceKey{true, text, 0}; }

// A named type and name, two languages of one resource, and the configuration.
std::vector<ResourceEntry> SampleEntries(const std::string& config) {
  return {{Named(L"MYTYPE"), Named(L"FIRST"), 0x0409, 0, std::string(37, 'n')},
          {Id(3), Id(1), 0x0409, 0, std::string(700, 'i')},
          {Id(3), Id(1), 0x0804, 1252, "icon in Chinese"},
          {Id(1600), Id(1601), 0x0804, 0, config}};
}

void AddSection(std::string& image, int index, const char* name, uint32_t address, const std::string& data,
                uint32_t memorySize) {
  uint32_t header = SECTIONS_AT + 40 * index;
  image.replace(header, 8, std::string(name) + std::string(8 - std::string(name).size(), '\0'));
  WriteLe32(image, header + 8, memorySize);
  WriteLe32(image, header + 12, address);
  WriteLe32(image, header + 16, static_cast<uint32_t>(data.size()));
  WriteLe32(image, header + 20, static_cast<uint32_t>(image.size()));
  image += data;
}

std::string Padded(std::string bytes) {
  bytes.resize((bytes.size() + FILE_ALIGNMENT - 1) / FILE_ALIGNMENT * FILE_ALIGNMENT, '\0');
  return bytes;
}

// Headers, .text at 0x1000, the resources (when `resources`) at 0x2000, and
// behind them `follower`: ".reloc" holding the base relocations, or ".data",
// which code would address.
std::string MakeImage(bool resources, const char* follower, const std::string& config = "app.name=x\r\n") {
  std::string image(0x400, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  WriteLe32(image, 0x3C, PE_AT);
  image.replace(PE_AT, 4, std::string("PE\0\0", 4));
  WriteLe16(image, PE_AT + 4, 0x14C);
  WriteLe16(image, PE_AT + 6, resources ? 3 : 2);
  WriteLe16(image, PE_AT + 20, 224);
  WriteLe16(image, OPTIONAL_AT, 0x10B);
  WriteLe32(image, OPTIONAL_AT + 32, PAGE);
  WriteLe32(image, OPTIONAL_AT + 36, FILE_ALIGNMENT);
  WriteLe32(image, OPTIONAL_AT + 60, 0x400);
  WriteLe32(image, OPTIONAL_AT + 92, 16);
  AddSection(image, 0, ".text", PAGE, TEXT_BYTES, 0x10);
  uint32_t next = 2 * PAGE;
  if (resources) {
    std::string section = BuildResourceSection(SampleEntries(config), next);
    AddSection(image, 1, ".rsrc", next, Padded(section), static_cast<uint32_t>(section.size()));
    WriteLe32(image, OPTIONAL_AT + 96 + 8 * PE_RESOURCE_DIRECTORY, next);
    WriteLe32(image, OPTIONAL_AT + 96 + 8 * PE_RESOURCE_DIRECTORY + 4, static_cast<uint32_t>(section.size()));
    next += (static_cast<uint32_t>(section.size()) + PAGE - 1) / PAGE * PAGE;
  }
  AddSection(image, resources ? 2 : 1, follower, next, Padded(RELOCATIONS), 12);
  if (std::string(follower) == ".reloc") {
    WriteLe32(image, OPTIONAL_AT + 96 + 8 * PE_RELOCATION_DIRECTORY, next);
    WriteLe32(image, OPTIONAL_AT + 96 + 8 * PE_RELOCATION_DIRECTORY + 4, 12);
  }
  WriteLe32(image, OPTIONAL_AT + 56, next + PAGE);
  return image;
}

// Everything a stamped image must hold: the text once, every other resource
// as it was, the follower's bytes where its header says, the directories, the
// image size and the checksum right.
void ExpectStampedWell(const std::string& source, const std::string& stamped, const std::string& text) {
  std::string read;
  int languages = 0;
  ASSERT_EQ(EXE_STAMP_OK, ReadImageConfig(stamped, read, languages));
  EXPECT_EQ(text, read);
  EXPECT_EQ(1, languages);
  std::vector<ResourceEntry> before, after;
  ReadResources(source, before);
  ASSERT_EQ(RESOURCES_OK, ReadResources(stamped, after));
  ASSERT_EQ(before.size() + (languages == 1 && before.size() == 0 ? 1 : 0), after.size());
  for (size_t i = 0; i + 1 < after.size(); ++i) {
    EXPECT_EQ(before[i].data, after[i].data) << i;
    EXPECT_EQ(before[i].codePage, after[i].codePage) << i;
    EXPECT_EQ(0, CompareResourceKeys(before[i].type, after[i].type)) << i;
    EXPECT_EQ(0, CompareResourceKeys(before[i].name, after[i].name)) << i;
  }
  PeHeaders headers;
  ASSERT_TRUE(ReadPeHeaders(stamped, headers));
  PeSection last = ReadPeSection(stamped, headers, headers.sectionCount - 1);
  PeSection follower = last;
  for (size_t i = 0; i < headers.sectionCount; ++i)
    if (stamped.compare(SECTIONS_AT + 40 * i, 6, ".reloc") == 0) follower = ReadPeSection(stamped, headers, i);
  EXPECT_EQ(RELOCATIONS, stamped.substr(follower.rawOffset, 12));
  uint32_t address = 0, size = 0;
  ReadPeDirectory(stamped, headers, PE_RELOCATION_DIRECTORY, address, size);
  if (size != 0) {
    EXPECT_EQ(follower.virtualAddress, address);
  }
  EXPECT_EQ(last.virtualAddress + (last.virtualSize + PAGE - 1) / PAGE * PAGE, ReadLe32(stamped, OPTIONAL_AT + 56));
  EXPECT_EQ(static_cast<size_t>(last.rawOffset) + last.rawSize, stamped.size());
  EXPECT_EQ(ComputePeChecksum(stamped, OPTIONAL_AT + 64), ReadLe32(stamped, OPTIONAL_AT + 64));
}

TEST(ResourceWriter, GrowsAndShrinksWithTheSectionsBehind) {
  const std::string source = MakeImage(true, ".reloc", std::string(2000, 'c'));
  // The keys read back are the ones written, a named one's text whole.
  std::vector<ResourceEntry> written = SampleEntries(std::string(2000, 'c')), read;
  ASSERT_EQ(RESOURCES_OK, ReadResources(source, read));
  ASSERT_EQ(written.size(), read.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(0, CompareResourceKeys(written[i].type, read[i].type)) << i;
    EXPECT_EQ(0, CompareResourceKeys(written[i].name, read[i].name)) << i;
  }
  // The same size, within the last page, onto the next pages, smaller.
  const size_t sizes[] = {2000, 2100, 9000, 100, 0};
  for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
    SCOPED_TRACE(sizes[i]);
    std::string text(sizes[i], 'x'), stamped;
    int removed = 0;
    bool signature = true;
    ASSERT_EQ(EXE_STAMP_OK, StampImage(source, text, stamped, removed, signature));
    EXPECT_EQ(1, removed);
    EXPECT_FALSE(signature);
    ExpectStampedWell(source, stamped, text);
  }
  // Stamping the text it already has gives the same image: the layout it was built with.
  std::string same;
  int removed = 0;
  bool signature = false;
  ASSERT_EQ(EXE_STAMP_OK, StampImage(source, std::string(2000, 'c'), same, removed, signature));
  std::string expected = source;
  UpdatePeChecksum(expected);
  EXPECT_EQ(expected, same);
}

TEST(ResourceWriter, SectionsThatCodeAddressesDoNotMove) {
  const std::string source = MakeImage(true, ".data");
  std::string stamped;
  int removed = 0;
  bool signature = false;
  EXPECT_EQ(EXE_STAMP_OK, StampImage(source, "app.name=y\r\n", stamped, removed, signature));
  EXPECT_EQ(EXE_STAMP_FIXED_FOLLOWER, StampImage(source, std::string(5000, 'x'), stamped, removed, signature));
}

TEST(ResourceWriter, AnImageWithoutResourcesGetsASection) {
  const std::string source = MakeImage(false, ".reloc");
  std::string stamped;
  int removed = 7;
  bool signature = false;
  ASSERT_EQ(EXE_STAMP_OK, StampImage(source, "app.name=z\r\n", stamped, removed, signature));
  EXPECT_EQ(0, removed);
  ExpectStampedWell(source, stamped, "app.name=z\r\n");
  EXPECT_EQ(".rsrc", stamped.substr(SECTIONS_AT + 80, 5));
}

TEST(ResourceWriter, BrokenImagesAreRefused) {
  // The review's image: "MZ", e_lfanew 0x40, "PE\0\0", a 2-byte optional
  // header (PE32 magic), and the file ends there.
  std::string shortHeader(90, '\0');
  shortHeader[0] = 'M';
  shortHeader[1] = 'Z';
  WriteLe32(shortHeader, 0x3C, 0x40);
  shortHeader.replace(0x40, 4, std::string("PE\0\0", 4));
  WriteLe16(shortHeader, 0x40 + 20, 2);
  WriteLe16(shortHeader, 0x40 + 24, 0x10B);
  PeHeaders headers;
  std::string text, stamped;
  int count = 0;
  bool signature = false;
  EXPECT_FALSE(ReadPeHeaders(shortHeader, headers));
  EXPECT_EQ(CERTIFICATE_NONE, RemoveCertificateTable(shortHeader));
  EXPECT_EQ(EXE_STAMP_NOT_AN_IMAGE, ReadImageConfig(shortHeader, text, count));
  EXPECT_EQ(EXE_STAMP_NOT_AN_IMAGE, StampImage(shortHeader, "a=b\r\n", stamped, count, signature));

  // A table that holds itself would be read without end.
  std::string loop = MakeImage(true, ".reloc");
  WriteLe32(loop, 0x600 + 16 + 4, 0x80000000u);
  EXPECT_EQ(EXE_STAMP_MALFORMED_RESOURCES, ReadImageConfig(loop, text, count));
  EXPECT_EQ(EXE_STAMP_MALFORMED_RESOURCES, StampImage(loop, "a=b\r\n", stamped, count, signature));

  // Cut anywhere, an image is refused or stamped whole.
  const std::string whole = MakeImage(true, ".reloc");
  for (size_t size = 0; size < whole.size(); size += 61) {
    if (StampImage(whole.substr(0, size), "a=b\r\n", stamped, count, signature) != EXE_STAMP_OK) continue;
    EXPECT_EQ(EXE_STAMP_OK, ReadImageConfig(stamped, text, count)) << size;
    EXPECT_EQ("a=b\r\n", text) << size;
  }
}

}  // namespace
