#include "install/folder_files.h"

#include <shlwapi.h>

#include "platform/fresh_file.h"

struct FolderFileName {
  const WCHAR* pattern;  // PathMatchSpecW's: "?" one character, "*" any run
  FolderFileKind kind;
};

static const FolderFileName FOLDER_FILES[] = {
    {RUNTIME_FILE_NAME, RUNTIME_INSTALLER},
    {L"brenvik-setup??.exe", PRODUCT_INSTALLER},  // PRODUCT_FILE_TEMPLATE with its tag
    {FRESH_FILE_TEMP_PATTERN, UNFINISHED_FILE},
    {L"brenvik-setup*.exe.partial", KEPT_RECORD},  // an installer's name and KEPT_RECORD_SUFFIX
};

FolderFileKind KindOfFolderFile(const WCHAR* name) {
  for (const FolderFileName& file : FOLDER_FILES)
    if (PathMatchSpecW(name, file.pattern)) return file.kind;
  return NOT_SETUPS_FILE;
}

// A plain file of a kind, not a folder or a reparse point.
static bool IsPlainFile(const FolderEntry& entry) {
  return entry.kind != NOT_SETUPS_FILE &&
         (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

void ChooseOlderFolderFiles(const FolderEntry* entries, int count, bool* remove) {
  for (int i = 0; i < count; ++i) {
    const FolderEntry& entry = entries[i];
    // A temporary name left behind is never the last of anything.
    remove[i] = IsPlainFile(entry) && entry.kind == UNFINISHED_FILE;
    for (int j = 0; IsPlainFile(entry) && !remove[i] && j < count; ++j)
      // A newer file of the kind, or one as new listed first, is the one that stays.
      remove[i] = j != i && IsPlainFile(entries[j]) && entries[j].kind == entry.kind &&
                  (entries[j].written > entry.written || (entries[j].written == entry.written && j < i));
  }
}
