// The security that a downloaded installer and its folder are made with.
// setup.exe runs as administrator and starts what it downloads: the user's own
// programs must not be able to change those bytes in between. So the file gets
// an explicit DACL, protected against the folder's inheritable entries now and
// later: full control for the Administrators and SYSTEM, read and execute for
// the interactive users (the one logged on, whichever account elevated
// setup.exe). Renaming it away needs only the folder's rights: the download
// code holds the file open without delete sharing, and checks that a name
// still holds the same file, for that. The download folder that setup.exe
// makes (install/download_folder.h) gets the same entries, inherited by
// whatever is made in it, and the Administrators as its owner.
#pragma once

#include <windows.h>

// The rights the DACL gives: FILE_ALL_ACCESS, and FILE_GENERIC_READ with FILE_GENERIC_EXECUTE.
const DWORD PROTECTED_OWNER_RIGHTS = 0x001F01FF;
const DWORD PROTECTED_USER_RIGHTS = 0x001200A9;

// The descriptors in the system's own notation, for the tests that read them back.
const WCHAR PROTECTED_FILE_SDDL[] = L"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;IU)";
const WCHAR PROTECTED_FOLDER_SDDL[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;IU)";

// Attributes for CreateFileW and CreateDirectoryW that carry those
// descriptors: fixed self-relative ones, which nothing needs to build or free.
SECURITY_ATTRIBUTES* ProtectedFileAttributes();
SECURITY_ATTRIBUTES* ProtectedFolderAttributes();
