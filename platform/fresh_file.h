// The files that setup.exe writes (the installers, the run log). Its own
// folder, where the log always goes and the installers when it has no
// protected download folder, is one that the logged-on user can write, while
// setup.exe runs elevated: a hard or symbolic link planted under one of these
// names would redirect an elevated write into any file the link names. So
// every such file is made afresh, a file is opened again only while it is
// still the one that this process made, and removed only then.
#pragma once

#include <windows.h>

// Why a file operation failed, for the caller's run-log line: the operation's
// words, then either the reason or the system's error code.
struct FileFailure {
  const char* what;    // "file not created afresh", "file not reopened", ...
  const char* reason;  // "its name is too long", "it has more than one name", ...; null when `code` says it
  DWORD code;          // also the thread's last error after the failure
};

// Why an opened file must not be used, from what GetFileInformationByHandle
// says of it; null when it may be used.
const char* RefusalOfOpenedFile(DWORD attributes, DWORD numberOfLinks);

// The name of the temporary file beside `path` (MAX_PATH units) in which a file
// is made before it takes the name; `serial` makes it unique in the process.
// False when the result does not fit.
bool FreshFileTempPath(const WCHAR* path, DWORD processId, DWORD serial, WCHAR* temp);
// Every such temporary name matches this pattern (one that a crash left behind too).
const WCHAR FRESH_FILE_TEMP_PATTERN[] = L"~setup-*-*.new";

// The native form of an absolute `path` ("\??\C:\...", "\??\UNC\server\...")
// into `native` (`capacity` units). False when it does not fit.
bool NativePathOf(const WCHAR* path, WCHAR* native, int capacity);

// Makes a new file under a temporary name beside `path` (exclusively: nothing
// there is ever opened) and renames it, by its handle, over `path`: whatever
// had the name (a file, a hard or symbolic link) is replaced as a name, and
// what a link named is never touched. The file is refused when it has another
// name or is a reparse point, and remembered as this process's own.
// INVALID_HANDLE_VALUE, with *failure (when given) and the failure's code as
// the thread's last error, when any of that fails; no temporary file is left.
// The handle also has DELETE access, for DeleteOpenFile. With `security`,
// the file is made with it (its DACL goes with the file under its new name).
HANDLE CreateFreshFile(const WCHAR* path, DWORD access, DWORD share, FileFailure* failure = NULL,
                       SECURITY_ATTRIBUTES* security = NULL);

// The bytes that CreateFreshFile frees on `path`'s volume when its new file
// takes the place of what has the name: a plain file's, where it has no other
// name (its allocation, where that is smaller: a sparse or compressed file);
// nothing for a link (what it names stays), a reparse point, a folder, or no
// file at all.
long long BytesFreedByReplacing(const WCHAR* path);

// Opens the file at `path` again, only when CreateFreshFile made it in this
// process and it is still that file (same volume and index) with no other name.
// INVALID_HANDLE_VALUE otherwise, with *failure when given.
HANDLE OpenOwnFile(const WCHAR* path, DWORD access, DWORD share, FileFailure* failure = NULL);

// Takes the file at `path`, left by an earlier run, as this process's own
// (OpenOwnFile and DeleteOwnFile reach it from then on): only a plain file
// with one name, no reparse point, owned by the Administrators or SYSTEM and
// writable by nobody else (the rules of platform/folder_rules.h). Its handle
// with `access` (and DELETE, for DeleteOpenFile), or INVALID_HANDLE_VALUE
// with *failure.
HANDLE AdoptEarlierFile(const WCHAR* path, DWORD access, FileFailure* failure);

// Marks an open file (a handle with DELETE access) to go when its last handle
// closes: a name is never looked up again, so nothing else can be hit.
bool DeleteOpenFile(HANDLE file);

// Deletes the file at `path` only while it is the one this process made;
// otherwise leaves the name alone, with *failure when given.
bool DeleteOwnFile(const WCHAR* path, FileFailure* failure = NULL);

// Deletes the file at `path`, whoever made it, through a handle, unless it is
// a reparse point or has another name (the name is then left, and what it
// leads to untouched) or someone holds it without delete sharing; *failure
// when given says why.
bool DeletePlainFile(const WCHAR* path, FileFailure* failure = NULL);
