#include "install/kept_record.h"

static bool EndsInside(const char* text, int size) {
  for (int i = 0; i < size; ++i)
    if (text[i] == '\0') return true;
  return false;
}

void FillKeptRecord(const KeptDownload& kept, KeptRecord* record) {
  ZeroMemory(record, sizeof *record);
  CopyMemory(record->magic, KEPT_RECORD_MAGIC, sizeof record->magic);
  record->kept = kept;
}

bool ReadKeptRecord(const void* bytes, unsigned size, const WCHAR* path, KeptDownload* kept) {
  if (size != sizeof(KeptRecord) || lstrlenW(path) >= MAX_PATH) return false;
  const KeptRecord* record = static_cast<const KeptRecord*>(bytes);
  const ResumePoint& point = record->kept.point;
  for (int i = 0; i < 8; ++i)
    if (record->magic[i] != KEPT_RECORD_MAGIC[i]) return false;
  if (record->kept.url[0] == '\0' || !EndsInside(record->kept.url, URL_BUFFER_SIZE) ||
      !EndsInside(point.validator.text, VALIDATOR_SIZE) || !EndsInside(point.etag, VALIDATOR_SIZE) ||
      !EndsInside(point.lastModified, VALIDATOR_SIZE) ||
      (point.validator.kind != VALIDATOR_ETAG && point.validator.kind != VALIDATOR_LAST_MODIFIED) ||
      !CanContinue(point))
    return false;
  *kept = record->kept;
  lstrcpyW(kept->path, path);
  return true;
}
