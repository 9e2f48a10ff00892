// The folder that every download is written, checked and started in, and
// that only the Administrators and SYSTEM can write: "brenvik-setup" in the
// Windows temporary folder (docs/security.md says why there). setup.exe makes
// it with the protected folder descriptor (platform/protected_file.h). Users
// may make folders there too, so one that is already there is used only when
// the rules of platform/folder_rules.h trust it, and never through a link;
// otherwise a fresh folder of a name nobody can guess is made beside it.
// Without the rights to make a folder there (a limited account) the downloads
// go beside setup.exe, where they always went. The log says which, and why.
// The folder is held for the rest of the process (platform/protected_folder.h).
#pragma once

#include <windows.h>

// Chooses DownloadDir on the first run of the process (later runs keep it),
// unless InstallDir is empty; then clears the chosen protected folder of what
// it keeps no longer (install/folder_files.h).
void ChooseDownloadFolder();

// Removes from `folder` what the rules of install/folder_files.h say it no
// longer keeps, through handles, never following a link; a file that cannot be
// removed is logged and left. Looks at the first FOLDER_LISTING_LIMIT of
// setup.exe's own files; the rest wait for a later run.
void RemoveOlderFolderFiles(const WCHAR* folder);
const int FOLDER_LISTING_LIMIT = 16;
