// The files of the download folder, named in one place: what the steps put
// there, and which of them the next run removes (install/download_folder.h).
// The folder keeps at most the last installer of each kind; a kind that
// keeps nothing (a temporary name left behind) is removed whenever it is
// found. A partial download kept for a later run stays under its installer's
// name; its record is a kind of its own.
#pragma once

#include <windows.h>

const WCHAR RUNTIME_FILE_NAME[] = L"brenvik-setup-dotnetv2.exe";
// "vv" stands for the version tag ("v2", "v4").
const WCHAR PRODUCT_FILE_TEMPLATE[] = L"brenvik-setupvv.exe";

enum FolderFileKind {
  NOT_SETUPS_FILE = 0,    // never touched
  RUNTIME_INSTALLER = 1,
  PRODUCT_INSTALLER = 2,  // both builds: one kind, the last one stays
  UNFINISHED_FILE = 3,    // a fresh file's temporary name (platform/fresh_file.h)
  // The record of a partial download (install/kept_record.h): a run keeps at
  // most one download, so the newest record is the one that may be read.
  KEPT_RECORD = 4,
};

// The kind of a file name (case as the file system ignores it).
FolderFileKind KindOfFolderFile(const WCHAR* name);

// One of setup.exe's files in the folder, as a listing gives it.
struct FolderEntry {
  FolderFileKind kind;
  ULONGLONG written;  // last write time, FILETIME units
  DWORD attributes;
};

// Which entries the next run removes, into remove[i] for entries[i]: of each
// kind that keeps its last file, every one but the newest (of those written
// at the same time the first listed stays); every file of a kind that keeps
// nothing. Never a folder, a reparse point or a file of no kind.
void ChooseOlderFolderFiles(const FolderEntry* entries, int count, bool* remove);
