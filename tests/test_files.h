// Whole-file and text helpers shared by the test programs.
#pragma once

#include <string>
#include <vector>

bool FileExists(const std::wstring& path);
// The file's bytes; empty when it cannot be opened. Others may hold it open.
std::string ReadFileBytes(const std::wstring& path);
// The run log's lines without their 20-character date and time; a line too
// short to have them is kept whole, marked "(short line) ".
std::vector<std::string> RunLogTexts(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// `name` in the user's temporary folder.
std::wstring TempFilePath(const wchar_t* name);

// A wait bound written for native speed, times the whole number in
// SETUP_TEST_WAIT_SCALE (1 when unset or not a number from 1 to 100). Only the
// emulated i686 guest sets it (tests/harness/guest/): there every program runs
// about twenty times slower.
unsigned long ScaledWaitMs(unsigned long nativeMs);

// setupcore's ReplaceAll on whole strings, for building test texts.
std::wstring ReplaceAll(const std::wstring& source, const std::wstring& pattern,
                        const std::wstring& replacement);
