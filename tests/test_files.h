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

// setupcore's ReplaceAll on whole strings, for building test texts.
std::wstring ReplaceAll(const std::wstring& source, const std::wstring& pattern,
                        const std::wstring& replacement);
