// The tool's output. Under Wine standard output is a Unix pipe or terminal that
// expects UTF-8 bytes; a Windows console gets the text as UTF-16 instead, since
// it would show UTF-8 bytes in its own code page.
#pragma once

#include <windows.h>

#include <string>

void WriteText(DWORD standardHandle, const std::wstring& text);
void WriteBytes(DWORD standardHandle, const std::string& bytes);

inline void WriteOutput(const std::wstring& text) { WriteText(STD_OUTPUT_HANDLE, text); }
inline void WriteError(const std::wstring& text) { WriteText(STD_ERROR_HANDLE, text); }
