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
// The DACL of the file or folder at `path`, read back through an open handle with
// GetSecurityInfo, in the system's notation ("D:P(A;;FA;;;BA)..."); "(error N)"
// when it cannot be read.
std::wstring FileDaclText(const std::wstring& path);
// The DACL that FileDaclText shows for a file made with the installers'
// protected DACL (platform/protected_file.h): that DACL itself on Windows.
// Wine keeps no DACL given at a file's creation: it makes the file's Unix
// permissions from it (here: nothing for others) and shows a DACL made from
// those, SYSTEM and the process's user with full control and no one else.
std::wstring ProtectedDaclAsShown();
// The same for a folder made with the download folder's protected descriptor
// (its entries inherited by what is made inside it).
std::wstring ProtectedFolderDaclAsShown();
// The SID of the account this process runs as ("S-1-5-21-..."), in the system's notation.
std::wstring ProcessUserSid();
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
