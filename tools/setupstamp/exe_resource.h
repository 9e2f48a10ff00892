// Reading files and the configuration resource of a setup.exe, and writing a
// new configuration into a copy of it. Failures come back as one message that
// names the file, ready to print.
#pragma once

#include <windows.h>

#include <string>

const WORD CONFIG_RESOURCE_LANGUAGE = 0x0804;  // Chinese (PRC)
const int MAX_CONFIG_LANGUAGES = 32;

// A short English description of a Win32 error code, with the code.
std::wstring DescribeWin32Error(DWORD code);

// The folder part of a path ("." when there is none), without a trailing slash
// unless it is a drive root.
std::wstring FolderOfPath(const std::wstring& path);

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& failure);

// The file's SHA-256 as 64 lower-case hexadecimal digits (setup.exe's pin form).
bool PinOfFile(const std::wstring& path, std::wstring& pin, std::wstring& failure);

// The same for bytes read from `path` (named in `failure`).
bool DigestOfBytes(const std::string& bytes, const std::wstring& path, std::wstring& digest, std::wstring& failure);

// The languages in which the exe carries the configuration resource; -1 when
// the file cannot be loaded as a Windows program.
int ListConfigLanguages(const std::wstring& exePath, WORD* languages, int capacity,
                        std::wstring& failure);

// The bytes of the configuration resource (the Chinese one when there are
// several); `languageCount` says how many languages the exe carries.
bool ReadConfigResource(const std::wstring& exePath, std::string& bytes, int& languageCount,
                        std::wstring& failure);

// Writes `sourceExe` with its configuration resource replaced by `text` to
// `targetExe` (which may be the same file). Every language of the old resource
// goes, the new one is added in CONFIG_RESOURCE_LANGUAGE. A certificate table
// (an Authenticode signature, which no longer matches) is left out, and the
// image checksum is made right for the new file. The work is done on a
// temporary file beside the target, moved into place only when all succeeded;
// on failure nothing is left behind. `removedLanguages` receives how many
// copies the source carried, `removedSignature` whether it was signed.
bool StampConfigResource(const std::wstring& sourceExe, const std::wstring& targetExe,
                         const std::string& text, int& removedLanguages, bool& removedSignature,
                         std::wstring& failure);
