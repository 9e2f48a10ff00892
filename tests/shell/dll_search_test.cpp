#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "shell/dll_search.h"

namespace {

TEST(SystemLibraryPath, JoinsWithOneBackslashAndRefusesWhatDoesNotFit) {
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(SystemLibraryPath(L"C:\\WINDOWS\\system32", L"uxtheme.dll", path));
  EXPECT_STREQ(L"C:\\WINDOWS\\system32\\uxtheme.dll", path);
  ASSERT_TRUE(SystemLibraryPath(L"C:\\", L"uxtheme.dll", path));
  EXPECT_STREQ(L"C:\\uxtheme.dll", path);

  // No folder: a bare name would be searched for, the very thing to avoid.
  EXPECT_FALSE(SystemLibraryPath(L"", L"uxtheme.dll", path));
  EXPECT_STREQ(L"", path);

  std::wstring folder = L"C:\\" + std::wstring(MAX_PATH - 1 - 3 - 1 - 11, L's');
  ASSERT_TRUE(SystemLibraryPath(folder.c_str(), L"uxtheme.dll", path));
  EXPECT_EQ(MAX_PATH - 1, lstrlenW(path));
  folder += L"s";
  EXPECT_FALSE(SystemLibraryPath(folder.c_str(), L"uxtheme.dll", path));
  EXPECT_STREQ(L"", path);
}

// Every late-loaded library that the system has is in the process afterwards,
// loaded from the system folder, so that a later load by name finds it there.
TEST(PreloadSystemLibraries, EachLibraryTheSystemHasComesFromTheSystemFolder) {
  WCHAR system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
  int present = 0;
  for (int i = 0; i < LATE_LOADED_LIBRARY_COUNT; ++i) {
    std::wstring file = std::wstring(system) + L"\\" + LATE_LOADED_LIBRARIES[i];
    if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) ++present;
  }
  ASSERT_GT(present, 0);
  EXPECT_EQ(present, PreloadSystemLibraries());
  for (int i = 0; i < LATE_LOADED_LIBRARY_COUNT; ++i) {
    std::wstring file = std::wstring(system) + L"\\" + LATE_LOADED_LIBRARIES[i];
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    HMODULE module = GetModuleHandleW(LATE_LOADED_LIBRARIES[i]);
    ASSERT_NE(static_cast<HMODULE>(NULL), module) << LATE_LOADED_LIBRARIES[i];
    WCHAR loaded[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(module, loaded, MAX_PATH));
    EXPECT_EQ(0, lstrcmpiW(file.c_str(), loaded)) << LATE_LOADED_LIBRARIES[i];
  }
}

}  // namespace
