#include "tools/setupstamp/resource_section.h"

#include <algorithm>
#include <set>

#include "tools/setupstamp/little_endian.h"
#include "tools/setupstamp/pe_image.h"

// Sizes and flags of the resource directory's records.
static const size_t DIRECTORY_SIZE = 16;  // followed by its entries
static const size_t ENTRY_SIZE = 8;
static const size_t DATA_ENTRY_SIZE = 16;
static const size_t NAMED_COUNT_FIELD = 12;
static const size_t ID_COUNT_FIELD = 14;
static const uint32_t HIGH_BIT = 0x80000000u;
static const int DIRECTORY_LEVELS = 3;  // type, name, language
static const size_t DATA_ALIGNMENT = 8;

// The directory's bytes: from its start to the end of what its section maps.
struct DirectoryView {
  const std::string* image;
  const PeHeaders* headers;
  size_t base;
  uint32_t size;
  std::set<uint32_t> tables;  // tables read so far: each may be reached once
  uint64_t dataTotal;         // bytes copied so far, bounded by the image's size
};

static bool ViewHolds(const DirectoryView& view, uint32_t offset, uint64_t length) {
  return offset <= view.size && length <= view.size - offset;
}

static bool ReadKey(const DirectoryView& view, uint32_t field, bool named, ResourceKey& key) {
  key.named = named;
  key.text.clear();
  key.id = 0;
  if (!named) {
    key.id = static_cast<uint16_t>(field);
    return (field & 0xFFFF0000u) == 0;
  }
  if ((field & HIGH_BIT) == 0) return false;
  uint32_t offset = field & ~HIGH_BIT;
  if (!ViewHolds(view, offset, 2)) return false;
  uint16_t length = ReadLe16(*view.image, view.base + offset);
  if (!ViewHolds(view, offset + 2, static_cast<uint64_t>(length) * 2)) return false;
  for (uint16_t i = 0; i < length; ++i)
    key.text += static_cast<wchar_t>(ReadLe16(*view.image, view.base + offset + 2 + 2 * i));
  return true;
}

static bool ReadData(DirectoryView& view, uint32_t offset, ResourceEntry& entry) {
  if (!ViewHolds(view, offset, DATA_ENTRY_SIZE)) return false;
  uint32_t rva = ReadLe32(*view.image, view.base + offset);
  uint32_t size = ReadLe32(*view.image, view.base + offset + 4);
  entry.codePage = ReadLe32(*view.image, view.base + offset + 8);
  entry.data.clear();
  if (size == 0) return true;
  view.dataTotal += size;
  size_t start = 0;
  if (view.dataTotal > view.image->size() || MapPeAddress(*view.image, *view.headers, rva, start) < size) return false;
  entry.data.assign(*view.image, start, size);
  return true;
}

// One table and, below it, the rest of its branch; `entry` carries the keys
// of the levels above.
static bool ReadTable(DirectoryView& view, uint32_t offset, int level, ResourceEntry& entry,
                      std::vector<ResourceEntry>& entries) {
  if (!ViewHolds(view, offset, DIRECTORY_SIZE) || !view.tables.insert(offset).second) return false;
  const std::string& image = *view.image;
  size_t named = ReadLe16(image, view.base + offset + NAMED_COUNT_FIELD);
  size_t count = named + ReadLe16(image, view.base + offset + ID_COUNT_FIELD);
  if (!ViewHolds(view, offset + DIRECTORY_SIZE, static_cast<uint64_t>(count) * ENTRY_SIZE)) return false;
  bool leaves = level == DIRECTORY_LEVELS - 1;
  for (size_t i = 0; i < count; ++i) {
    size_t at = view.base + offset + DIRECTORY_SIZE + i * ENTRY_SIZE;
    uint32_t keyField = ReadLe32(image, at);
    uint32_t target = ReadLe32(image, at + 4);
    ResourceKey key;
    // Languages are numbers; a table's strings come before its numbers.
    if (!ReadKey(view, keyField, i < named, key) || (leaves && key.named)) return false;
    if (((target & HIGH_BIT) != 0) == leaves) return false;
    if (level == 0) entry.type = key;
    if (level == 1) entry.name = key;
    if (leaves) {
      entry.language = key.id;
      if (!ReadData(view, target, entry)) return false;
      entries.push_back(entry);
    } else if (!ReadTable(view, target & ~HIGH_BIT, level + 1, entry, entries)) {
      return false;
    }
  }
  return true;
}

ResourceReadResult ReadResources(const std::string& image, std::vector<ResourceEntry>& entries) {
  entries.clear();
  PeHeaders headers;
  if (!ReadPeHeaders(image, headers)) return RESOURCES_NOT_AN_IMAGE;
  uint32_t rva = 0, size = 0;
  ReadPeDirectory(image, headers, PE_RESOURCE_DIRECTORY, rva, size);
  if (rva == 0 && size == 0) return RESOURCES_NONE;
  DirectoryView view;
  view.image = &image;
  view.headers = &headers;
  view.base = 0;
  view.size = MapPeAddress(image, headers, rva, view.base);
  view.dataTotal = 0;
  ResourceEntry entry;
  entry.language = 0;
  entry.codePage = 0;
  if (!ReadTable(view, 0, 0, entry, entries)) {
    entries.clear();
    return RESOURCES_MALFORMED;
  }
  return RESOURCES_OK;
}

int CompareResourceKeys(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named ? -1 : 1;
  if (a.named) return a.text.compare(b.text);
  return static_cast<int>(a.id) - static_cast<int>(b.id);
}

static bool SameKey(const ResourceKey& a, const ResourceKey& b) { return CompareResourceKeys(a, b) == 0; }

// The tree of the entries, each table's strings first.
struct NameNode {
  ResourceKey key;
  std::vector<size_t> entries;
};

struct TypeNode {
  ResourceKey key;
  std::vector<NameNode> names;
};

static bool IsNamedName(const NameNode& node) { return node.key.named; }
static bool IsNamedType(const TypeNode& node) { return node.key.named; }

static std::vector<TypeNode> GroupEntries(const std::vector<ResourceEntry>& entries) {
  std::vector<TypeNode> types;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (types.empty() || !SameKey(types.back().key, entries[i].type)) {
      TypeNode type;
      type.key = entries[i].type;
      types.push_back(type);
    }
    std::vector<NameNode>& names = types.back().names;
    if (names.empty() || !SameKey(names.back().key, entries[i].name)) {
      NameNode name;
      name.key = entries[i].name;
      names.push_back(name);
    }
    names.back().entries.push_back(i);
  }
  std::stable_partition(types.begin(), types.end(), IsNamedType);
  for (size_t t = 0; t < types.size(); ++t)
    std::stable_partition(types[t].names.begin(), types[t].names.end(), IsNamedName);
  return types;
}

static size_t TableSize(size_t count) { return DIRECTORY_SIZE + count * ENTRY_SIZE; }

static size_t AlignData(size_t offset) { return (offset + DATA_ALIGNMENT - 1) & ~(DATA_ALIGNMENT - 1); }

// Writes a table's header; its entries follow at `offset` + 16.
static void WriteTable(std::string& section, size_t offset, size_t named, size_t count) {
  WriteLe16(section, offset + NAMED_COUNT_FIELD, static_cast<uint16_t>(named));
  WriteLe16(section, offset + ID_COUNT_FIELD, static_cast<uint16_t>(count - named));
}

static void WriteEntry(std::string& section, size_t table, size_t index, uint32_t key, uint32_t target) {
  WriteLe32(section, table + DIRECTORY_SIZE + index * ENTRY_SIZE, key);
  WriteLe32(section, table + DIRECTORY_SIZE + index * ENTRY_SIZE + 4, target);
}

// Places a key's string (when it has one) at `strings` and gives the entry's key field.
static uint32_t KeyField(std::string& section, const ResourceKey& key, size_t& strings) {
  if (!key.named) return key.id;
  uint32_t field = HIGH_BIT | static_cast<uint32_t>(strings);
  WriteLe16(section, strings, static_cast<uint16_t>(key.text.size()));
  for (size_t i = 0; i < key.text.size(); ++i)
    WriteLe16(section, strings + 2 + 2 * i, static_cast<uint16_t>(key.text[i]));
  strings += 2 + 2 * key.text.size();
  return field;
}

static size_t StringSize(const ResourceKey& key) { return key.named ? 2 + 2 * key.text.size() : 0; }

std::string BuildResourceSection(const std::vector<ResourceEntry>& entries, uint32_t rva) {
  std::vector<TypeNode> types = GroupEntries(entries);
  // First pass: where everything goes.
  size_t tables = TableSize(types.size());
  size_t stringBytes = 0;
  for (size_t t = 0; t < types.size(); ++t) {
    tables += TableSize(types[t].names.size());
    stringBytes += StringSize(types[t].key);
    for (size_t n = 0; n < types[t].names.size(); ++n) {
      tables += TableSize(types[t].names[n].entries.size());
      stringBytes += StringSize(types[t].names[n].key);
    }
  }
  size_t dataEntries = tables;
  size_t strings = dataEntries + entries.size() * DATA_ENTRY_SIZE;
  size_t end = strings + stringBytes;
  for (size_t t = 0; t < types.size(); ++t)
    for (size_t n = 0; n < types[t].names.size(); ++n)
      for (size_t l = 0; l < types[t].names[n].entries.size(); ++l)
        end = AlignData(end) + entries[types[t].names[n].entries[l]].data.size();

  // Second pass: the bytes, in the same order.
  std::string section(end, '\0');
  size_t named = static_cast<size_t>(std::count_if(types.begin(), types.end(), IsNamedType));
  WriteTable(section, 0, named, types.size());
  size_t table = TableSize(types.size());
  size_t dataEntry = dataEntries;
  size_t data = strings + stringBytes;
  for (size_t t = 0; t < types.size(); ++t) {
    const std::vector<NameNode>& names = types[t].names;
    size_t typeTable = table;
    WriteEntry(section, 0, t, KeyField(section, types[t].key, strings), HIGH_BIT | static_cast<uint32_t>(typeTable));
    WriteTable(section, typeTable, static_cast<size_t>(std::count_if(names.begin(), names.end(), IsNamedName)),
               names.size());
    table += TableSize(names.size());
    for (size_t n = 0; n < names.size(); ++n) {
      size_t nameTable = table;
      WriteEntry(section, typeTable, n, KeyField(section, names[n].key, strings),
                 HIGH_BIT | static_cast<uint32_t>(nameTable));
      WriteTable(section, nameTable, 0, names[n].entries.size());
      table += TableSize(names[n].entries.size());
      for (size_t l = 0; l < names[n].entries.size(); ++l) {
        const ResourceEntry& entry = entries[names[n].entries[l]];
        WriteEntry(section, nameTable, l, entry.language, static_cast<uint32_t>(dataEntry));
        data = AlignData(data);
        WriteLe32(section, dataEntry, rva + static_cast<uint32_t>(data));
        WriteLe32(section, dataEntry + 4, static_cast<uint32_t>(entry.data.size()));
        WriteLe32(section, dataEntry + 8, entry.codePage);
        section.replace(data, entry.data.size(), entry.data);
        dataEntry += DATA_ENTRY_SIZE;
        data += entry.data.size();
      }
    }
  }
  return section;
}
