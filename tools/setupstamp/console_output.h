// The tool's output, standard output and standard error. setupstamp.exe
// (console_output.cpp): a pipe or file gets UTF-8 bytes (under Wine a pipe is
// a Unix pipe, read by scripts and tests); a console gets UTF-16: a Windows
// console would show UTF-8 bytes in its own code page, and Wine's console
// turns bytes written to a terminal into the console code page's characters,
// but UTF-16 into the Unix locale's encoding, which is what the terminal shows.
// The native tool (console_output_posix.cpp) writes UTF-8 to both.
#pragma once

#include <string>

void WriteOutput(const std::wstring& text);
void WriteError(const std::wstring& text);
