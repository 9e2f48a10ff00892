// The rules of the download folder on plain values: whether a folder that is
// already there may hold what setup.exe downloads and starts as administrator,
// and the name of a fresh folder when it may not.
#pragma once

#include <windows.h>

// Any right that lets one add, change, delete or re-permission a file or a
// folder: write data (add a file), append (add a folder), write attributes or
// extended attributes, delete a child, delete, WRITE_DAC, WRITE_OWNER, and
// the generic ones that include them.
const DWORD FOLDER_WRITE_RIGHTS = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                  FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                  GENERIC_ALL | MAXIMUM_ALLOWED;

enum FolderVerdict {
  FOLDER_TRUSTED = 0,        // owned by the Administrators or SYSTEM, writable by them only
  FOLDER_FOREIGN_OWNER = 1,  // `sid`: the owner (who may always rewrite the DACL)
  FOLDER_OTHERS_WRITE = 2,   // `sid` may write with `rights`
  FOLDER_NO_DACL = 3,        // no DACL: everyone may do everything
  FOLDER_UNREAD_ENTRY = 4,   // an allowing entry of a kind not read here (`rights`: its type)
  FOLDER_MALFORMED = 5,      // the descriptor does not hold together
  FOLDER_LINK = 6,           // a link or junction: never followed
  FOLDER_NOT_A_FOLDER = 7,   // a file has the name
  FOLDER_NOT_READ = 8,       // not opened, or its security not read (`rights`: the error code)
};

// Who and what a verdict other than FOLDER_TRUSTED is about, for the run log.
struct FolderObjection {
  FolderVerdict verdict;
  DWORD rights;
  BYTE sid[SECURITY_MAX_SID_SIZE];  // a copy; empty (revision 0) when the verdict names nobody
};

// Fills *objection; returns `verdict`. `sid` (may be null) is copied.
FolderVerdict ObjectToFolder(FolderObjection* objection, FolderVerdict verdict, const SID* sid, DWORD rights);

// One more SID that a test build of setup.exe trusts as it trusts the
// Administrators, as owner and in the DACL (its process user's: under Wine
// every file and folder reads back as owned and writable by the Unix user's
// SID, whoever made it). Never set in setup.exe itself.
extern const SID* TestTrustedSid;

// Judges a self-relative security descriptor of `size` bytes holding at
// least the owner and the DACL. Deny entries, audit entries and labels grant
// nothing and are passed over; every allowing entry counts, inherit-only ones
// too.
FolderVerdict JudgeFolderDescriptor(const void* descriptor, DWORD size, FolderObjection* objection);

// Random bytes in the name of a fresh folder: 128 bits, nothing to guess.
const int FRESH_FOLDER_BYTES = 16;

// `folder`, a hyphen and the bytes in lower-case hexadecimal, into `fresh`
// (MAX_PATH units). False, with `fresh` empty, when that does not fit.
bool FreshFolderName(const WCHAR* folder, const BYTE bytes[FRESH_FOLDER_BYTES], WCHAR* fresh);
