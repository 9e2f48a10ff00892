// A program's resources as plain values: read from its resource directory
// into one list, and a resource section built again from such a list.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// A resource type or name: a number, or a string of UTF-16 code units.
struct ResourceKey {
  bool named;
  std::wstring text;  // when named
  uint16_t id;        // otherwise
};

struct ResourceEntry {
  ResourceKey type;
  ResourceKey name;
  uint16_t language;
  uint32_t codePage;
  std::string data;
};

enum ResourceReadResult {
  RESOURCES_OK,
  RESOURCES_NONE,          // the image has no resource directory
  RESOURCES_NOT_AN_IMAGE,  // its headers are not those of a PE image
  RESOURCES_MALFORMED      // the directory points outside itself or the image, is shared or not three levels deep
};

// Every resource of the image in the order of its directory (types, names in
// each type, languages in each name), each with a copy of its bytes.
ResourceReadResult ReadResources(const std::string& image, std::vector<ResourceEntry>& entries);

// Negative, zero or positive as `a` comes before, with or after `b` in a
// directory: strings before numbers, numbers ascending.
int CompareResourceKeys(const ResourceKey& a, const ResourceKey& b);

// The bytes of a resource section at address `rva` that holds `entries`,
// which come grouped by type and by name (as ReadResources gives them). The
// layout is the GNU linker's: the root, then each type's table followed by its
// names' tables, the data entries, the strings, and each resource's bytes at
// a multiple of 8. Its size is that of the last resource's end.
std::string BuildResourceSection(const std::vector<ResourceEntry>& entries, uint32_t rva);
