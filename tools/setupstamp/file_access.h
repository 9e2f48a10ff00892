// The stamping tool's file work. The reading and replacing of files is the
// system's (file_access_win32.cpp for setupstamp.exe, file_access_posix.cpp for
// the native tool); what is built on it, and the texts of failures, are shared.
// Every failure comes back as one message that names the file, ready to print.
#pragma once

#include <stddef.h>

#include <string>

// The system errors that the tool explains in words, by Windows' numbers; the
// native tool gives the errno values that mean the same these numbers.
const unsigned long FILE_ERROR_NOT_FOUND = 2;
const unsigned long FILE_ERROR_PATH_NOT_FOUND = 3;
const unsigned long FILE_ERROR_ACCESS_DENIED = 5;
const unsigned long FILE_ERROR_SHARING_VIOLATION = 32;
const unsigned long FILE_ERROR_DISK_FULL = 112;
const unsigned long FILE_ERROR_NAME_TOO_LONG = 206;
const unsigned long FILE_ERROR_NOT_A_FOLDER = 267;  // a temporary file's folder that is none

// "error 2: the file does not exist"; "error N: system error" for the others.
std::wstring DescribeFileError(unsigned long code);

// "PATH: error: WHAT (DESCRIPTION)".
std::wstring FileFailure(const std::wstring& path, const std::wstring& what, const std::wstring& description);

// Receives a file's bytes piece by piece, in order.
typedef void (*FilePieceSink)(void* context, const char* data, size_t size);

// Reads the file from start to end. Other programs may hold it open, for
// writing too (an editor with the text still open).
bool ReadFilePieces(const std::wstring& path, FilePieceSink sink, void* context, std::wstring& failure);

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& failure);

// Writes `bytes` to `target` through a temporary file in its folder, moved
// into place only when it is whole: on failure neither a partial target nor
// the temporary file is left, and an existing target stays as it was. A
// read-only target is refused.
bool ReplaceFileWith(const std::wstring& target, const std::string& bytes, std::wstring& failure);

// The folder part of a path ("." when there is none), without a trailing
// separator unless it is a root.
std::wstring FolderOfPath(const std::wstring& path);
