#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "log/fresh_file.h"
#include "test_files.h"

namespace {

// A file outside setup.exe's folder that a planted link names, and the name
// that setup.exe writes in its folder.
class FreshFile : public ::testing::Test {
 protected:
  std::wstring victim = TempFilePath(L"fresh-file-victim.bin");
  std::wstring name = TempFilePath(L"fresh-file-name.bin");

  void SetUp() override {
    DeleteFileW(name.c_str());
    ASSERT_TRUE(WriteFileBytes(victim, "system file"));
  }
  void TearDown() override {
    DeleteFileW(name.c_str());
    DeleteFileW(victim.c_str());
  }
  // Makes `name` afresh and writes `bytes` into it.
  bool WriteFresh(const std::string& bytes) {
    HANDLE file = CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, NULL) && wrote == bytes.size();
    CloseHandle(file);
    return ok;
  }
  bool Reopens() {
    HANDLE file = OpenOwnFile(name.c_str(), GENERIC_READ, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }
};

TEST(RefusalOfOpenedFile, OnlyAPlainFileWithOneNameIsUsed) {
  EXPECT_EQ(nullptr, RefusalOfOpenedFile(FILE_ATTRIBUTE_NORMAL, 1));
  EXPECT_EQ(nullptr, RefusalOfOpenedFile(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 1));
  EXPECT_NE(nullptr, RefusalOfOpenedFile(FILE_ATTRIBUTE_NORMAL, 2));
  EXPECT_NE(nullptr, RefusalOfOpenedFile(FILE_ATTRIBUTE_REPARSE_POINT, 1));
  EXPECT_NE(nullptr, RefusalOfOpenedFile(FILE_ATTRIBUTE_NORMAL, 0));
}

TEST_F(FreshFile, PlantedHardLinkIsReplacedAndWhatItNamesStaysUntouched) {
  ASSERT_TRUE(CreateHardLinkW(name.c_str(), victim.c_str(), NULL));
  ASSERT_TRUE(WriteFresh("downloaded"));
  EXPECT_EQ("system file", ReadFileBytes(victim));
  EXPECT_EQ("downloaded", ReadFileBytes(name));
  // An existing file of our own is replaced the same way: a later run overwrites.
  ASSERT_TRUE(WriteFresh("again"));
  EXPECT_EQ("again", ReadFileBytes(name));
}

TEST_F(FreshFile, NameThatCannotBeRemovedFailsWithoutWriting) {
  // Someone holds the name open without delete sharing: it can be neither removed nor replaced.
  ASSERT_TRUE(WriteFileBytes(name, "held"));
  HANDLE holder = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ));
  EXPECT_NE(0u, GetLastError()) << "the failure's code reaches the caller";
  CloseHandle(holder);
  EXPECT_EQ("held", ReadFileBytes(name));
}

TEST_F(FreshFile, OnlyTheFileThisProcessMadeIsOpenedAgain) {
  ASSERT_TRUE(WriteFileBytes(name, "not ours"));
  EXPECT_FALSE(Reopens()) << "made by someone else";

  ASSERT_TRUE(WriteFresh("ours"));
  EXPECT_TRUE(Reopens());

  // Another name for the same file: refused while it exists.
  std::wstring alias = TempFilePath(L"fresh-file-alias.bin");
  DeleteFileW(alias.c_str());
  ASSERT_TRUE(CreateHardLinkW(alias.c_str(), name.c_str(), NULL));
  EXPECT_FALSE(Reopens()) << "a second name";
  ASSERT_TRUE(DeleteFileW(alias.c_str()));
  EXPECT_TRUE(Reopens());

  // Swapped for another file under the same name (ours moved away, so that
  // the file system cannot hand its index to the newcomer).
  ASSERT_TRUE(MoveFileW(name.c_str(), alias.c_str()));
  ASSERT_TRUE(CreateHardLinkW(name.c_str(), victim.c_str(), NULL));
  EXPECT_FALSE(Reopens()) << "a link to another file";
  ASSERT_TRUE(DeleteFileW(name.c_str()));
  ASSERT_TRUE(WriteFileBytes(name, "ours"));
  EXPECT_FALSE(Reopens()) << "a new file with the same bytes";
  EXPECT_EQ("system file", ReadFileBytes(victim));
  DeleteFileW(alias.c_str());
}

TEST_F(FreshFile, FileMadeAgainIsNoLongerOursWhenTheNewOneFails) {
  ASSERT_TRUE(WriteFresh("ours"));
  // The file lives on under a second name, as a file with its index could.
  std::wstring alias = TempFilePath(L"fresh-file-alias.bin");
  DeleteFileW(alias.c_str());
  ASSERT_TRUE(CreateHardLinkW(alias.c_str(), name.c_str(), NULL));
  // Held with delete sharing: the name is removed, yet stays taken until closed.
  HANDLE holder = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ));
  CloseHandle(holder);
  ASSERT_FALSE(FileExists(name));
  ASSERT_TRUE(MoveFileW(alias.c_str(), name.c_str()));
  EXPECT_FALSE(Reopens()) << "the old file came back under the name";
}

}  // namespace
