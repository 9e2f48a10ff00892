#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "config/setup_config.h"
#include "install/payload_check.h"
#include "platform/fresh_file.h"
#include "test_files.h"

namespace {

// The configuration as it would be read from `text`, key=value lines.
void UseConfig(const std::wstring& text) {
  ASSERT_EQ(CONFIG_PARSED, ParseConfigText(text.c_str(), static_cast<int>(text.size()), &SetupConfig));
}

const std::wstring ABC_DIGEST = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const WCHAR KEY[] = L"app.sha256.v4";

// Written as a download is: made afresh by this process, the only file the check opens again.
bool WriteDownload(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFreshFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ);
  DWORD wrote = 0;
  bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok && wrote == bytes.size();
}

TEST(PinSetting, APresentKeyIsNeverAbsentWhateverItsValue) {
  unsigned char digest[SHA256_SIZE];
  EXPECT_EQ(SETTING_ABSENT, ReadPinSetting(false, L"", digest));
  EXPECT_EQ(SETTING_MALFORMED, ReadPinSetting(true, L"", digest)) << "present and empty: fail closed";
  EXPECT_EQ(SETTING_MALFORMED, ReadPinSetting(true, (ABC_DIGEST + L" ").c_str(), digest));
  EXPECT_EQ(SETTING_VALID, ReadPinSetting(true, L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", digest));
  EXPECT_EQ(0xBA, digest[0]);
  EXPECT_EQ(0xAD, digest[SHA256_SIZE - 1]);
}

class PinnedDownload : public ::testing::Test {
 protected:
  std::wstring path = TempFilePath(L"pinned-download.bin");
  HANDLE held = INVALID_HANDLE_VALUE;

  void SetUp() override {
    SetupConfig.count = 0;
    ASSERT_TRUE(WriteDownload(path, "abc"));
  }
  void TearDown() override {
    ReleasePinnedDownload(&held);
    DeleteFileW(path.c_str());
    SetupConfig.count = 0;
  }
  // The configuration's pins as the run reads them once, then the check.
  PinCheck Check() {
    InstallerPins pins;
    ReadInstallerPins(KEY, L"app.signer", &pins);
    return CheckPinnedDownload(path.c_str(), pins, &held);
  }
};

// With the pin, and with none (another key's does not apply), the file is
// held without write or delete sharing until it is released: the folder's
// owner could otherwise rename an unpinned download away and put another file
// under its name before the installer starts.
TEST_F(PinnedDownload, TheFileIsHeldAgainstWritingRenamingAndDeletingPinnedOrNot) {
  const struct {
    std::wstring config;
    PinCheck result;
  } cases[] = {
      {std::wstring(KEY) + L"=" + ABC_DIGEST + L"\n", PIN_MATCHED},
      {L"app.sha256.v2=0000000000000000000000000000000000000000000000000000000000000000\n", PIN_NOT_CONFIGURED},
  };
  for (const auto& each : cases) {
    ASSERT_TRUE(WriteDownload(path, "abc"));
    UseConfig(each.config);
    ASSERT_EQ(each.result, Check());
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer) << "opened for writing while held";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    std::wstring moved = path + L".moved";
    EXPECT_FALSE(MoveFileW(path.c_str(), moved.c_str()));
    DeleteFileW(moved.c_str());
    // Others may still read it, as the process creation does.
    EXPECT_EQ("abc", ReadFileBytes(path));

    ReleasePinnedDownload(&held);
    EXPECT_EQ(INVALID_HANDLE_VALUE, held);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "released";
  }
}

TEST_F(PinnedDownload, MismatchAndMalformedPinsDeleteTheFile) {
  const std::wstring refused[] = {
      L"0000000000000000000000000000000000000000000000000000000000000000",
      L"",
      ABC_DIGEST.substr(1),
      ABC_DIGEST + L"0",
  };
  for (const std::wstring& pin : refused) {
    ASSERT_TRUE(WriteDownload(path, "abc"));
    UseConfig(std::wstring(KEY) + L"=" + pin + L"\n");
    EXPECT_EQ(PIN_REFUSED, Check()) << "pin \"" << ::testing::PrintToString(pin) << "\"";
    EXPECT_EQ(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(FileExists(path));
  }
}

TEST_F(PinnedDownload, FileThatSomeoneHoldsForWritingIsRefused) {
  UseConfig(std::wstring(KEY) + L"=" + ABC_DIGEST + L"\n");
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ(PIN_REFUSED, Check());
  EXPECT_EQ(INVALID_HANDLE_VALUE, held);
  CloseHandle(writer);
  EXPECT_FALSE(FileExists(path)) << "deleted once the writer let go (delete sharing allowed it)";
}

// With the pin or without one.
TEST_F(PinnedDownload, FileSwappedAfterTheDownloadIsRefusedEvenWithTheRightBytes) {
  for (const std::wstring& config : {std::wstring(KEY) + L"=" + ABC_DIGEST + L"\n", std::wstring()}) {
    ASSERT_TRUE(WriteDownload(path, "abc"));
    UseConfig(config);
    // Ours moved away, another put in its place.
    std::wstring moved = path + L".moved";
    ASSERT_TRUE(MoveFileExW(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(WriteFileBytes(path, "abc"));
    EXPECT_EQ(PIN_REFUSED, Check());
    EXPECT_EQ(INVALID_HANDLE_VALUE, held);
    EXPECT_TRUE(FileExists(path)) << "not this process's file: left alone";
    DeleteFileW(moved.c_str());
  }
}

}  // namespace
