// Fetching an installer from a numbered list of addresses: each in turn from
// byte 0, until one delivers a file that the pins accept.
#pragma once

#include <windows.h>

#include "download/download_tuning.h"
#include "install/mirror_list.h"

struct MirrorDownload {
  const MirrorList* list;
  const WCHAR* name;       // "runtime" or "product", for the run log
  const WCHAR* tag;        // replaces every "vv" of an address; null: addresses as configured
  const WCHAR* pinKey;     // read once; the pins hold for the file whichever mirror served it
  const WCHAR* signerKey;
  const DownloadLimits* limits;  // handed to every download as it is
};

// Tries the list's mirrors in order into `path`: a failed download, an address
// too long to fetch and a file that a pin refuses each move on to the next.
// True when a mirror delivered and the pins accepted the file, which is then
// held in *held as CheckPinnedDownload leaves it. Records no error: the caller
// has its own message for the end of the list.
bool DownloadFromMirrors(const MirrorDownload& download, const WCHAR* path, HANDLE* held);
