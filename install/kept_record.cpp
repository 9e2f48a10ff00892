#include "install/kept_record.h"

void FillKeptRecord(const KeptDownload& kept, KeptRecord* record) {
  ZeroMemory(record, sizeof *record);
  CopyMemory(record->magic, KEPT_RECORD_MAGIC, sizeof record->magic);
  record->kept = kept;
}

bool ReadKeptRecord(const void* bytes, unsigned size, const WCHAR* path, KeptDownload* kept) {
  const KeptRecord* record = static_cast<const KeptRecord*>(bytes);
  if (size != sizeof(KeptRecord) || !RtlEqualMemory(record->magic, KEPT_RECORD_MAGIC, sizeof record->magic)) return false;
  *kept = record->kept;
  ResumePoint* point = &kept->point;
  // Each text ends inside its buffer: one cut there matches no address, and no validator the server gives.
  kept->url[URL_BUFFER_SIZE - 1] = '\0';
  point->validator.text[VALIDATOR_SIZE - 1] = '\0';
  point->etag[VALIDATOR_SIZE - 1] = '\0';
  point->lastModified[VALIDATOR_SIZE - 1] = '\0';
  lstrcpyW(kept->path, path);
  return (point->validator.kind == VALIDATOR_ETAG || point->validator.kind == VALIDATOR_LAST_MODIFIED) &&
         CanContinue(*point);
}
