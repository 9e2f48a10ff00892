#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/file_digest.h"
#include "test_files.h"

namespace {

std::wstring DigestOfFileWith(const std::string& bytes) {
  std::wstring path = TempFilePath(L"file-digest.bin");
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_NE(INVALID_HANDLE_VALUE, file);
  // Moved away from the start: the digest covers the whole file all the same.
  SetFilePointer(file, 3, NULL, FILE_BEGIN);
  unsigned char digest[SHA256_SIZE];
  DigestResult result = DigestFile(file, digest);
  CloseHandle(file);
  DeleteFileW(path.c_str());
  if (result != DIGEST_OK) return L"failed " + std::to_wstring(result);
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(digest, text);
  return text;
}

TEST(FileDigest, KnownDigestsOfSmallAndMultiChunkFiles) {
  EXPECT_EQ(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", DigestOfFileWith(""));
  EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", DigestOfFileWith("abc"));
  // One million 'a': more than one read of the file.
  EXPECT_EQ(L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            DigestOfFileWith(std::string(1000000, 'a')));
  unsigned char digest[SHA256_SIZE];
  wchar_t text[PIN_DIGITS + 1];
  ASSERT_EQ(DIGEST_OK, DigestBytes(reinterpret_cast<const unsigned char*>("abc"), 3, digest));
  FormatDigest(digest, text);
  EXPECT_STREQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", text) << "bytes in memory";
}

TEST(FileDigest, UnreadableHandleFails) {
  std::wstring path = TempFilePath(L"file-digest-write-only.bin");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  unsigned char digest[SHA256_SIZE];
  EXPECT_EQ(DIGEST_FAILED, DigestFile(file, digest));
  EXPECT_NE(0u, GetLastError()) << "the reason is kept for the log";
  CloseHandle(file);
  DeleteFileW(path.c_str());
}

}  // namespace
