// The certificate table and checksum code on images laid out with Windows' own
// header structures (both kinds), and on the real programs beside this test,
// with imagehlp's checksum as the reference.
#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>
#include <stddef.h>

#include <string>

#include "tools/setupstamp/file_access.h"
#include "tools/setupstamp/pe_image.h"

namespace {

const DWORD SECTION_OFFSET = 0x400;
const DWORD SECTION_SIZE = 0x200;

// A minimal image: headers, one section of SECTION_SIZE bytes at SECTION_OFFSET.
template <typename NtHeaders>
std::string MinimalImage(WORD magic) {
  std::string image(SECTION_OFFSET + SECTION_SIZE, '\x5A');
  IMAGE_DOS_HEADER dos = {};
  dos.e_magic = IMAGE_DOS_SIGNATURE;
  dos.e_lfanew = 0x80;
  NtHeaders nt = {};
  nt.Signature = IMAGE_NT_SIGNATURE;
  nt.FileHeader.NumberOfSections = 1;
  nt.FileHeader.SizeOfOptionalHeader = sizeof(nt.OptionalHeader);
  nt.OptionalHeader.Magic = magic;
  nt.OptionalHeader.CheckSum = 0x12345678;
  nt.OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  IMAGE_SECTION_HEADER section = {};
  section.SizeOfRawData = SECTION_SIZE;
  section.PointerToRawData = SECTION_OFFSET;
  image.replace(0, sizeof(dos), reinterpret_cast<const char*>(&dos), sizeof(dos));
  image.replace(dos.e_lfanew, sizeof(nt), reinterpret_cast<const char*>(&nt), sizeof(nt));
  image.replace(dos.e_lfanew + sizeof(nt), sizeof(section), reinterpret_cast<const char*>(&section), sizeof(section));
  return image;
}

template <typename NtHeaders>
size_t SecurityEntry() {
  return 0x80 + offsetof(NtHeaders, OptionalHeader.DataDirectory) +
         IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
}

void SetSecurityEntry(std::string& image, size_t entry, DWORD offset, DWORD size) {
  IMAGE_DATA_DIRECTORY directory = {offset, size};
  image.replace(entry, sizeof(directory), reinterpret_cast<const char*>(&directory), sizeof(directory));
}

// imagehlp's checksum of the bytes, or 0 when it fails.
DWORD ReferenceChecksum(const std::string& image) {
  std::string copy = image;
  DWORD stored = 0, computed = 0;
  if (CheckSumMappedFile(&copy[0], static_cast<DWORD>(copy.size()), &stored, &computed) == NULL) return 0;
  return computed;
}

template <typename NtHeaders>
void CheckLayoutAndRemoval(WORD magic) {
  std::string image = MinimalImage<NtHeaders>(magic);
  const std::string plain = image;
  PeLayout layout;
  ASSERT_TRUE(ReadPeLayout(image, layout));
  EXPECT_EQ(0x80 + offsetof(NtHeaders, OptionalHeader.CheckSum), layout.checksumOffset);
  EXPECT_EQ(SecurityEntry<NtHeaders>(), layout.securityEntryOffset);
  EXPECT_EQ(SECTION_OFFSET + SECTION_SIZE, layout.sectionDataEnd);
  EXPECT_EQ(CERTIFICATE_NONE, RemoveCertificateTable(image));
  EXPECT_EQ(plain, image);

  // A table at the end, as Authenticode puts it.
  image += std::string(24, 'C');
  SetSecurityEntry(image, SecurityEntry<NtHeaders>(), static_cast<DWORD>(plain.size()), 24);
  EXPECT_EQ(CERTIFICATE_REMOVED, RemoveCertificateTable(image));
  EXPECT_EQ(plain, image) << "table cut, entry zeroed, nothing else changed";

  // Data appended behind the table moves up.
  image += std::string(16, 'C') + "tail";
  SetSecurityEntry(image, SecurityEntry<NtHeaders>(), static_cast<DWORD>(plain.size()), 16);
  EXPECT_EQ(CERTIFICATE_REMOVED, RemoveCertificateTable(image));
  EXPECT_EQ(plain + "tail", image);

  // An entry into the section data, or one past the end, is not followed.
  image = plain + std::string(16, 'C');
  std::string inside = image;
  SetSecurityEntry(inside, SecurityEntry<NtHeaders>(), SECTION_OFFSET + SECTION_SIZE - 8, 16);
  std::string before = inside;
  EXPECT_EQ(CERTIFICATE_MISPLACED, RemoveCertificateTable(inside));
  EXPECT_EQ(before, inside);
  std::string beyond = image;
  SetSecurityEntry(beyond, SecurityEntry<NtHeaders>(), static_cast<DWORD>(plain.size()), 17);
  EXPECT_EQ(CERTIFICATE_MISPLACED, RemoveCertificateTable(beyond));

  EXPECT_TRUE(UpdatePeChecksum(image));
  DWORD stored = 0;
  memcpy(&stored, image.data() + layout.checksumOffset, sizeof(stored));
  EXPECT_EQ(ReferenceChecksum(image), stored);
}

TEST(PeImage, Pe32LayoutAndCertificateRemoval) {
  CheckLayoutAndRemoval<IMAGE_NT_HEADERS32>(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
}

TEST(PeImage, Pe32PlusLayoutAndCertificateRemoval) {
  CheckLayoutAndRemoval<IMAGE_NT_HEADERS64>(IMAGE_NT_OPTIONAL_HDR64_MAGIC);
}

TEST(PeImage, NotAnImage) {
  PeLayout layout;
  std::string text = "MZ but nothing else";
  EXPECT_FALSE(ReadPeLayout(text, layout));
  EXPECT_EQ(CERTIFICATE_NONE, RemoveCertificateTable(text));
  EXPECT_FALSE(UpdatePeChecksum(text));
  std::string image = MinimalImage<IMAGE_NT_HEADERS32>(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  image[0x80 + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Magic)] = 0x0C;
  EXPECT_FALSE(ReadPeLayout(image, layout)) << "unknown optional header kind";
  image = MinimalImage<IMAGE_NT_HEADERS32>(IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  image.resize(0x80 + 40);
  EXPECT_FALSE(ReadPeLayout(image, layout)) << "headers cut short";
}

TEST(PeImage, ChecksumOfTheRealProgramsAsImagehlpComputesIt) {
  WCHAR path[MAX_PATH];
  GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring folder = FolderOfPath(path);
  const wchar_t* names[] = {L"setup.exe", L"setupstamp.exe"};
  for (size_t i = 0; i < 2; ++i) {
    std::string image;
    std::wstring failure;
    ASSERT_TRUE(ReadWholeFile(folder + L"\\" + names[i], image, failure));
    PeLayout layout;
    ASSERT_TRUE(ReadPeLayout(image, layout));
    EXPECT_EQ(ReferenceChecksum(image), ComputePeChecksum(image, layout.checksumOffset));
    // An odd length: the last byte is a word of its own.
    image += '\x7F';
    EXPECT_EQ(ReferenceChecksum(image), ComputePeChecksum(image, layout.checksumOffset));
  }
}

}  // namespace
