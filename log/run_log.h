// The run log: one timestamped text file per run, beside the executable.
#pragma once

#include <windows.h>
#include <stdio.h>

extern WCHAR RunLogPath[MAX_PATH];
extern FILE* RunLogFile;

// Sets the C runtime's locale to Chinese (PRC), code page 936, into which the
// log's wide text is converted. Tries "zh-CN" first, then the older names that
// runtimes without it (Wine's msvcrt, older Windows) know. False if none took.
bool SetLogLocale();

// Names the log after the executable, the date and the process id, and opens it
// for writing while others may read it. Returns the stream, or null.
FILE* OpenRunLog();

// Writes one line: date, time, the text, CR LF; flushed at once. Does nothing
// while no log is open. Lines written by several threads never interleave.
void LogLine(const WCHAR* text);

// As LogLine with a wide printf format in the Microsoft runtime's meaning:
// "%s" takes a wide string and "%S" an 8-bit one.
void LogFormat(const WCHAR* format, ...);

// The same for the log's own English texts, written as 8-bit literals (ASCII
// only; a format of more than LOG_FORMAT_SIZE - 1 characters is cut): half the
// room in the exe, and the same meaning of every conversion as above.
const int LOG_FORMAT_SIZE = 256;
void LogLine(const char* text);
void LogFormat(const char* format, ...);

void CloseRunLog();
void DeleteRunLog();

// Turns the module path in `path` (capacity MAX_PATH) into the log's path:
// extension removed, then "-yyyyMMdd-<pid>" and ".log" (none when the base name
// keeps a dot). `date` null means today. False, and `path` unusable, when the
// result does not fit.
bool BuildRunLogPath(WCHAR* path, const SYSTEMTIME* date, DWORD processId);

// Opens the file named by RunLogPath (used by OpenRunLog; tests open their own).
FILE* OpenRunLogFile();
