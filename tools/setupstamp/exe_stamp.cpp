#include "tools/setupstamp/exe_stamp.h"

#include <vector>

#include "config/setup_config.h"
#include "tools/setupstamp/pe_image.h"
#include "tools/setupstamp/resource_section.h"

static bool IsConfig(const ResourceEntry& entry) {
  return !entry.type.named && entry.type.id == CONFIG_RESOURCE_TYPE && !entry.name.named &&
         entry.name.id == CONFIG_RESOURCE_ID;
}

static ExeStampResult FromReadResult(ResourceReadResult result) {
  if (result == RESOURCES_NOT_AN_IMAGE) return EXE_STAMP_NOT_AN_IMAGE;
  return result == RESOURCES_MALFORMED ? EXE_STAMP_MALFORMED_RESOURCES : EXE_STAMP_OK;
}

ExeStampResult ReadImageConfig(const std::string& image, std::string& text, int& languages) {
  text.clear();
  languages = 0;
  std::vector<ResourceEntry> entries;
  ExeStampResult result = FromReadResult(ReadResources(image, entries));
  if (result != EXE_STAMP_OK) return result;
  const ResourceEntry* chosen = NULL;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!IsConfig(entries[i])) continue;
    ++languages;
    if (chosen == NULL || (entries[i].language == CONFIG_RESOURCE_LANGUAGE &&
                           chosen->language != CONFIG_RESOURCE_LANGUAGE))
      chosen = &entries[i];
  }
  if (chosen == NULL) return EXE_STAMP_NO_CONFIG;
  text = chosen->data;
  return EXE_STAMP_OK;
}

static int CompareEntries(const ResourceEntry& a, const ResourceEntry& b) {
  int order = CompareResourceKeys(a.type, b.type);
  if (order == 0) order = CompareResourceKeys(a.name, b.name);
  return order != 0 ? order : static_cast<int>(a.language) - static_cast<int>(b.language);
}

static ExeStampResult FromSectionResult(ResourceSectionResult result) {
  switch (result) {
    case RESOURCE_SECTION_OK: return EXE_STAMP_OK;
    case RESOURCE_SECTION_SHARED: return EXE_STAMP_SHARED_SECTION;
    case RESOURCE_SECTION_FIXED_FOLLOWER: return EXE_STAMP_FIXED_FOLLOWER;
    case RESOURCE_SECTION_NO_HEADER_ROOM: return EXE_STAMP_NO_HEADER_ROOM;
    default: return EXE_STAMP_NOT_AN_IMAGE;
  }
}

ExeStampResult StampImage(const std::string& source, const std::string& text, std::string& stamped,
                          int& removedLanguages, bool& removedSignature) {
  removedLanguages = 0;
  removedSignature = false;
  stamped = source;
  CertificateRemoval removal = RemoveCertificateTable(stamped);
  if (removal == CERTIFICATE_MISPLACED) return EXE_STAMP_MISPLACED_CERTIFICATE;
  removedSignature = removal == CERTIFICATE_REMOVED;

  std::vector<ResourceEntry> entries;
  ResourceReadResult read = ReadResources(stamped, entries);
  if (read != RESOURCES_OK && read != RESOURCES_NONE) return FromReadResult(read);
  std::vector<ResourceEntry> kept;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (IsConfig(entries[i])) ++removedLanguages;
    else kept.push_back(entries[i]);
  }
  ResourceEntry config;
  config.type.named = false;
  config.type.id = CONFIG_RESOURCE_TYPE;
  config.name.named = false;
  config.name.id = CONFIG_RESOURCE_ID;
  config.language = CONFIG_RESOURCE_LANGUAGE;
  config.codePage = 0;
  config.data = text;
  // In its place in the directory's order, which the others already keep.
  size_t position = 0;
  while (position < kept.size() && CompareEntries(kept[position], config) < 0) ++position;
  kept.insert(kept.begin() + position, config);

  uint32_t rva = 0;
  ExeStampResult result = FromSectionResult(LocateResourceSection(stamped, rva));
  if (result == EXE_STAMP_OK) result = FromSectionResult(PutResourceSection(stamped, BuildResourceSection(kept, rva)));
  if (result != EXE_STAMP_OK) return result;
  UpdatePeChecksum(stamped);

  std::string written;
  int languages = 0;
  if (ReadImageConfig(stamped, written, languages) != EXE_STAMP_OK || written != text || languages != 1)
    return EXE_STAMP_READ_BACK_DIFFERS;
  return EXE_STAMP_OK;
}
