#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include <sddl.h>

#include "platform/fresh_file.h"
#include "platform/protected_file.h"
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

// The installers' descriptor is valid and, in the system's notation, exactly
// the protected DACL; a file made with it shows it (as Wine shows it: a plain
// file there also grants everyone reading).
TEST_F(FreshFile, ProtectedFileCarriesTheInstallersDacl) {
  SECURITY_ATTRIBUTES* protection = ProtectedFileAttributes();
  ASSERT_TRUE(IsValidSecurityDescriptor(protection->lpSecurityDescriptor));
  LPWSTR text = NULL;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(protection->lpSecurityDescriptor, SDDL_REVISION_1,
                                                                   DACL_SECURITY_INFORMATION, &text, NULL));
  EXPECT_STREQ(PROTECTED_FILE_SDDL, text);
  LocalFree(text);

  HANDLE file = CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, protection);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(ProtectedDaclAsShown(), FileDaclText(name));
  ASSERT_TRUE(WriteFresh("plain"));
  EXPECT_NE(ProtectedDaclAsShown(), FileDaclText(name));

  // The download folder's: the same entries, inherited inside, and the Administrators as its owner.
  protection = ProtectedFolderAttributes();
  ASSERT_TRUE(IsValidSecurityDescriptor(protection->lpSecurityDescriptor));
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      protection->lpSecurityDescriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      NULL));
  EXPECT_STREQ(PROTECTED_FOLDER_SDDL, text);
  LocalFree(text);
  std::wstring folder = TempFilePath(L"fresh-file-folder");
  RemoveDirectoryW(folder.c_str());
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), protection));
  EXPECT_EQ(ProtectedFolderDaclAsShown(), FileDaclText(folder));
  RemoveDirectoryW(folder.c_str());
}

// Whoever made it, a plain file is deleted through a handle; a name with
// another name beside it is left, and so is the other file.
TEST_F(FreshFile, PlainFileIsDeletedOthersAreLeft) {
  ASSERT_TRUE(WriteFileBytes(name, "not ours"));
  FileFailure failure;
  EXPECT_TRUE(DeletePlainFile(name.c_str(), &failure));
  EXPECT_FALSE(FileExists(name));

  ASSERT_TRUE(CreateHardLinkW(name.c_str(), victim.c_str(), NULL));
  EXPECT_FALSE(DeletePlainFile(name.c_str(), &failure));
  EXPECT_STREQ("it has more than one name", failure.reason);
  EXPECT_EQ("system file", ReadFileBytes(name));
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
  // Someone holds the name open without delete sharing: it cannot be replaced.
  ASSERT_TRUE(WriteFileBytes(name, "held"));
  HANDLE holder = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ));
  EXPECT_NE(0u, GetLastError()) << "the failure's code reaches the caller";
  CloseHandle(holder);
  EXPECT_EQ("held", ReadFileBytes(name));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(TempFilePath(L"~setup-*.new").c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "a temporary file was left";
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
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
  // Held without delete sharing: the name cannot be replaced, the old file stays.
  HANDLE holder = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFreshFile(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ));
  CloseHandle(holder);
  ASSERT_EQ("ours", ReadFileBytes(name));
  // Under Wine a new file may get a deleted one's index: an identity kept past
  // an attempt to replace the file could be another file's.
  EXPECT_FALSE(Reopens()) << "still taken for this process's own";
}

TEST_F(FreshFile, NamesMadeAgainAndAgainKeepOthersOwn) {
  // The run log stays this process's own however often the installers are fetched again.
  std::wstring log = TempFilePath(L"fresh-file-log.bin");
  HANDLE file = CreateFreshFile(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(WriteFresh("again")) << i;
  EXPECT_TRUE(DeleteOwnFile(log.c_str()));
  EXPECT_FALSE(FileExists(log));
}

TEST(FreshFilePaths, NativeFormAndTemporaryNameFitOrAreRefused) {
  const struct {
    const WCHAR* path;
    const WCHAR* native;
  } forms[] = {{L"C:\\a\\b.exe", L"\\??\\C:\\a\\b.exe"},
               {L"\\\\server\\share\\b.exe", L"\\??\\UNC\\server\\share\\b.exe"},
               {L"\\\\?\\C:\\a\\b.exe", L"\\??\\C:\\a\\b.exe"}};
  WCHAR native[32];
  for (const auto& form : forms) {
    EXPECT_TRUE(NativePathOf(form.path, native, 32)) << form.native;
    EXPECT_STREQ(form.native, native);
  }
  EXPECT_TRUE(NativePathOf(L"C:\\abcdefgh", native, 16)) << "15 units and the terminator";
  EXPECT_FALSE(NativePathOf(L"C:\\abcdefghi", native, 16));

  WCHAR temp[MAX_PATH];
  ASSERT_TRUE(FreshFileTempPath(L"C:\\dl\\brenvik-setupv4.exe", 0x1c, 3, temp));
  EXPECT_STREQ(L"C:\\dl\\~setup-1c-3.new", temp) << "beside the file";
  std::wstring deep = L"C:\\" + std::wstring(MAX_PATH - 3 - 1 - 15 - 1, L'd') + L"\\a.exe";
  EXPECT_TRUE(FreshFileTempPath(deep.c_str(), 0x1c, 3, temp)) << "a 15-unit name fills the path";
  EXPECT_FALSE(FreshFileTempPath(deep.c_str(), 0x1c, 0x1d, temp)) << "one unit more does not fit";
}

}  // namespace
