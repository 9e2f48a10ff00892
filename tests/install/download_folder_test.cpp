// What the download folder keeps: the kinds of its files, the choice of the
// older ones, and their removal from a real folder, in-process. (Under Wine a
// whole run never finds a folder that it may use again: Wine shows the Unix
// user as the owner of every folder, so the next run makes a fresh one.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "install/download_folder.h"
#include "install/folder_files.h"
#include "install/kept_record.h"
#include "install/product_step.h"
#include "platform/fresh_file.h"
#include "test_files.h"

namespace {

TEST(FolderFiles, KindsOfTheNamesTheStepsAndFreshFilesUse) {
  WCHAR name[MAX_PATH];
  for (DWORD version : {0x0105u, 0x0106u, 0x0206u, 0x000Au}) {
    ProductInstallerFileName(ChooseVersionTag(version), name);
    EXPECT_EQ(PRODUCT_INSTALLER, KindOfFolderFile(name)) << ::testing::PrintToString(std::wstring(name));
  }
  EXPECT_EQ(RUNTIME_INSTALLER, KindOfFolderFile(RUNTIME_FILE_NAME));
  EXPECT_EQ(PRODUCT_INSTALLER, KindOfFolderFile(L"BRENVIK-SETUPV4.EXE")) << "names in any case";
  ASSERT_TRUE(FreshFileTempPath(L"C:\\f\\brenvik-setupv4.exe", 0xfffffff0, 7, name));
  EXPECT_EQ(UNFINISHED_FILE, KindOfFolderFile(name + 5));
  EXPECT_EQ(KEPT_RECORD, KindOfFolderFile((std::wstring(L"brenvik-setupv4.exe") + KEPT_RECORD_SUFFIX).c_str()));
  EXPECT_EQ(KEPT_RECORD, KindOfFolderFile((std::wstring(RUNTIME_FILE_NAME) + KEPT_RECORD_SUFFIX).c_str()));
  for (const WCHAR* other : {L"brenvik-setupv2.exe.ran", L"brenvik-setupv42.exe", L"~setup-1.new",
                             L"brenvik-setupv2.partial", L"brenvik-setupv2.exe.partial.new"})
    EXPECT_EQ(NOT_SETUPS_FILE, KindOfFolderFile(other)) << ::testing::PrintToString(std::wstring(other));
}

TEST(FolderFiles, TheNextRunKeepsTheLastOfEachKind) {
  const DWORD FOLDER = FILE_ATTRIBUTE_DIRECTORY;
  const DWORD LINK = FILE_ATTRIBUTE_REPARSE_POINT;
  const struct {
    const char* what;
    std::vector<FolderEntry> entries;
    std::vector<bool> removed;
  } cases[] = {
      {"one of each", {{RUNTIME_INSTALLER, 5, 0}, {PRODUCT_INSTALLER, 1, 0}}, {false, false}},
      {"the older build goes, whichever is listed first",
       {{PRODUCT_INSTALLER, 9, 0}, {RUNTIME_INSTALLER, 1, 0}, {PRODUCT_INSTALLER, 8, 0}}, {false, false, true}},
      {"written at the same time: the first listed stays",
       {{PRODUCT_INSTALLER, 4, 0}, {PRODUCT_INSTALLER, 4, 0}}, {false, true}},
      {"an unfinished file always goes", {{UNFINISHED_FILE, 9, 0}, {UNFINISHED_FILE, 1, 0}}, {true, true}},
      {"a folder or a link under such a name is never touched, nor does it count as newer",
       {{PRODUCT_INSTALLER, 9, FOLDER}, {PRODUCT_INSTALLER, 9, LINK}, {UNFINISHED_FILE, 9, LINK}, {PRODUCT_INSTALLER, 1, 0}},
       {false, false, false, false}},
      {"a file of no kind is never touched", {{NOT_SETUPS_FILE, 1, 0}, {NOT_SETUPS_FILE, 2, 0}}, {false, false}},
  };
  for (const auto& c : cases) {
    bool removed[8];
    ChooseOlderFolderFiles(c.entries.data(), static_cast<int>(c.entries.size()), removed);
    EXPECT_EQ(c.removed, std::vector<bool>(removed, removed + c.entries.size())) << c.what;
  }
}

// A record is read back whole with its texts ended inside their buffers, or
// not at all: cut, of another layout, or keeping nothing to continue.
TEST(KeptRecord, ReadBackWholeOrNotAtAll) {
  static KeptDownload kept, read;
  static KeptRecord record;
  const WCHAR* path = L"C:\\folder\\brenvik-setupv2.exe";
  lstrcpyA(kept.url, "http://127.0.0.1:8/brenvik-setupv2.exe");
  lstrcpyW(kept.path, L"C:\\elsewhere\\x.exe");
  BeginResumePoint(&kept.point);
  kept.point.validator.kind = VALIDATOR_ETAG;
  kept.point.kept = 1;
  kept.point.total = 2;
  const struct {
    const char* what;
    void (*change)(KeptRecord*);
    bool read;
  } cases[] = {
      {"whole", [](KeptRecord*) {}, true},
      {"texts that fill their buffers",
       [](KeptRecord* r) { FillMemory(r->kept.url, URL_BUFFER_SIZE, 'a'), FillMemory(r->kept.point.etag, VALIDATOR_SIZE, 'e'); },
       true},
      {"another layout", [](KeptRecord* r) { r->magic[5] = '2'; }, false},
      {"every byte kept", [](KeptRecord* r) { r->kept.point.kept = 2; }, false},
      {"no byte kept", [](KeptRecord* r) { r->kept.point.kept = 0; }, false},
      {"no validator", [](KeptRecord* r) { r->kept.point.validator.kind = VALIDATOR_NONE; }, false},
  };
  for (const auto& c : cases) {
    FillKeptRecord(kept, &record);
    c.change(&record);
    ASSERT_EQ(c.read, ReadKeptRecord(&record, sizeof record, path, &read)) << c.what;
    if (!c.read) continue;
    EXPECT_STREQ(path, read.path) << "the file beside the record, not the path written";
    EXPECT_TRUE(lstrlenA(read.url) < URL_BUFFER_SIZE && lstrlenA(read.point.etag) < VALIDATOR_SIZE) << c.what;
  }
  EXPECT_FALSE(ReadKeptRecord(&record, sizeof record - 1, path, &read)) << "cut";
}

// A folder as an earlier run left it, and what the next run takes out of it.
TEST(FolderFiles, OlderFilesAreRemovedThroughHandlesAndWhatCannotGoStays) {
  const std::wstring folder = TempFilePath(L"download-folder-files");
  CreateDirectoryW(folder.c_str(), NULL);
  auto in = [&](const std::wstring& name) { return folder + L"\\" + name; };
  auto writtenAt = [&](const std::wstring& name, ULONGLONG written) {
    ASSERT_TRUE(WriteFileBytes(in(name), "bytes of " + std::string(name.begin(), name.end())));
    HANDLE file = CreateFileW(in(name).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME time = {static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};
    ASSERT_TRUE(SetFileTime(file, NULL, NULL, &time));
    CloseHandle(file);
  };
  const ULONGLONG DAY = 864000000000ULL;
  const ULONGLONG NOW = 134000000000000000ULL;
  writtenAt(RUNTIME_FILE_NAME, NOW - 30 * DAY);
  writtenAt(L"brenvik-setupv2.exe", NOW - 2 * DAY);
  writtenAt(L"brenvik-setupv4.exe", NOW - DAY);
  writtenAt(L"~setup-1c-3.new", NOW);
  writtenAt(L"~setup-1c-4.new", NOW);
  writtenAt(L"brenvik-setupv2.exe.ran", NOW - 3 * DAY);
  writtenAt(L"notes.txt", NOW - 3 * DAY);
  // Held by another program without delete sharing: it cannot go now.
  HANDLE holder = CreateFileW(in(L"~setup-1c-4.new").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);

  RemoveOlderFolderFiles(folder.c_str());
  CloseHandle(holder);
  EXPECT_TRUE(FileExists(in(RUNTIME_FILE_NAME))) << "the last of its kind, however old";
  EXPECT_FALSE(FileExists(in(L"brenvik-setupv2.exe")));
  EXPECT_TRUE(FileExists(in(L"brenvik-setupv4.exe")));
  EXPECT_FALSE(FileExists(in(L"~setup-1c-3.new")));
  EXPECT_TRUE(FileExists(in(L"~setup-1c-4.new"))) << "held: logged and left";
  EXPECT_TRUE(FileExists(in(L"brenvik-setupv2.exe.ran")));
  EXPECT_TRUE(FileExists(in(L"notes.txt")));

  for (const WCHAR* name : {RUNTIME_FILE_NAME, L"brenvik-setupv4.exe", L"~setup-1c-4.new",
                            L"brenvik-setupv2.exe.ran", L"notes.txt"})
    DeleteFileW(in(name).c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
