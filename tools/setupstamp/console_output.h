// The tool's output. A pipe or file gets UTF-8 bytes (under Wine a pipe is a
// Unix pipe, read by scripts and tests). A console gets UTF-16: a Windows
// console would show UTF-8 bytes in its own code page, and Wine's console
// turns bytes written to a terminal into the console code page's characters,
// but UTF-16 into the Unix locale's encoding, which is what the terminal shows.
#pragma once

#include <windows.h>

#include <string>

void WriteText(DWORD standardHandle, const std::wstring& text);
void WriteBytes(DWORD standardHandle, const std::string& bytes);

inline void WriteOutput(const std::wstring& text) { WriteText(STD_OUTPUT_HANDLE, text); }
inline void WriteError(const std::wstring& text) { WriteText(STD_ERROR_HANDLE, text); }
