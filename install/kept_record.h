// The record that keeps a broken download for the next run, beside its file
// in the protected download folder (install/earlier_download.h): the address,
// the whole length, the bytes kept and the validators that the continuation
// sends and must see again. Read back whole or not at all. Plain values.
#pragma once

#include "download/download_file.h"

// The record's name: the file's with this behind it.
const WCHAR KEPT_RECORD_SUFFIX[] = L".partial";

const char KEPT_RECORD_MAGIC[8] = "kept 1\n";

struct KeptRecord {
  char magic[8];
  KeptDownload kept;  // its path is not read back: the file is the one beside the record
};

void FillKeptRecord(const KeptDownload& kept, KeptRecord* record);

// The download that the `size` bytes read from the record of the file at
// `path` (shorter than MAX_PATH) keep, into *kept, each text ended inside its buffer: only a whole
// record of this layout, with a strong validator and some but not all of the
// bytes kept. False otherwise.
bool ReadKeptRecord(const void* bytes, unsigned size, const WCHAR* path, KeptDownload* kept);
