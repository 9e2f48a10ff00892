#include "tools/setupstamp/exe_resource.h"

#include <stdio.h>

#include <vector>

#include "config/setup_config.h"
#include "install/file_digest.h"
#include "tools/setupstamp/pe_image.h"

std::wstring DescribeWin32Error(DWORD code) {
  const wchar_t* meaning;
  switch (code) {
    case ERROR_FILE_NOT_FOUND: meaning = L"the file does not exist"; break;
    case ERROR_PATH_NOT_FOUND: meaning = L"the folder does not exist"; break;
    case ERROR_ACCESS_DENIED: meaning = L"access denied (read-only or protected)"; break;
    case ERROR_SHARING_VIOLATION: meaning = L"the file is in use"; break;
    case ERROR_BAD_EXE_FORMAT: meaning = L"not a Windows program"; break;
    case ERROR_DISK_FULL: meaning = L"the disk is full"; break;
    case ERROR_RESOURCE_DATA_NOT_FOUND:
    case ERROR_RESOURCE_TYPE_NOT_FOUND:
    case ERROR_RESOURCE_NAME_NOT_FOUND: meaning = L"no such resource"; break;
    default: meaning = L"system error"; break;
  }
  wchar_t text[96];
  _snwprintf(text, 96, L"error %lu: %ls", static_cast<unsigned long>(code), meaning);
  text[95] = L'\0';
  return text;
}

static std::wstring Failure(const std::wstring& path, const std::wstring& what, DWORD code) {
  return path + L": error: " + what + L" (" + DescribeWin32Error(code) + L")";
}

std::wstring FolderOfPath(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    // "C:name" lies in the current folder of drive C.
    return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) + L"." : std::wstring(L".");
  }
  if (slash == 0 || (slash == 2 && path[1] == L':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& failure) {
  bytes.clear();
  // An editor may still have the file open.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = Failure(path, L"cannot open it", GetLastError());
    return false;
  }
  bool ok = true;
  char chunk[16384];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk, sizeof(chunk), &read, NULL)) {
      failure = Failure(path, L"cannot read it", GetLastError());
      ok = false;
      break;
    }
    if (read == 0) break;
    bytes.append(chunk, read);
  }
  CloseHandle(file);
  return ok;
}

static bool WriteWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& failure) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = Failure(path, L"cannot write it", GetLastError());
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
            written == bytes.size();
  if (!ok) failure = Failure(path, L"cannot write it", GetLastError());
  CloseHandle(file);
  return ok;
}

bool PinOfFile(const std::wstring& path, std::wstring& pin, std::wstring& failure) {
  pin.clear();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = Failure(path, L"cannot open it", GetLastError());
    return false;
  }
  unsigned char digest[SHA256_SIZE];
  DigestResult result = DigestFile(file, digest);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (result == DIGEST_NO_PROVIDER) {
    failure = path + L": error: this system computes no SHA-256 (Windows XP needs Service Pack 3)";
    return false;
  }
  if (result != DIGEST_OK) {
    failure = Failure(path, L"cannot read it", error);
    return false;
  }
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(digest, text);
  pin = text;
  return true;
}

bool DigestOfBytes(const std::string& bytes, const std::wstring& path, std::wstring& digest, std::wstring& failure) {
  unsigned char value[SHA256_SIZE];
  DigestResult result =
      DigestBytes(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<DWORD>(bytes.size()), value);
  if (result != DIGEST_OK) {
    failure = result == DIGEST_NO_PROVIDER
                  ? path + L": error: this system computes no SHA-256 (Windows XP needs Service Pack 3)"
                  : Failure(path, L"cannot hash its key", GetLastError());
    return false;
  }
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(value, text);
  digest = text;
  return true;
}

struct LanguageList {
  WORD* languages;
  int capacity;
  int count;
};

static BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR parameter) {
  LanguageList* list = reinterpret_cast<LanguageList*>(parameter);
  if (list->count < list->capacity) list->languages[list->count] = language;
  ++list->count;
  return TRUE;
}

int ListConfigLanguages(const std::wstring& exePath, WORD* languages, int capacity,
                        std::wstring& failure) {
  HMODULE module = LoadLibraryExW(exePath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) {
    failure = Failure(exePath, L"cannot load it as a Windows program", GetLastError());
    return -1;
  }
  LanguageList list = {languages, capacity, 0};
  // FALSE with nothing collected means the exe has no such resource.
  EnumResourceLanguagesW(module, MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE),
                         MAKEINTRESOURCEW(CONFIG_RESOURCE_ID), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&list));
  FreeLibrary(module);
  return list.count;
}

bool ReadConfigResource(const std::wstring& exePath, std::string& bytes, int& languageCount,
                        std::wstring& failure) {
  bytes.clear();
  WORD languages[MAX_CONFIG_LANGUAGES];
  languageCount = ListConfigLanguages(exePath, languages, MAX_CONFIG_LANGUAGES, failure);
  if (languageCount < 0) return false;
  if (languageCount == 0) {
    failure = exePath + L": error: it carries no configuration (resource type 1600, name 1601)";
    return false;
  }
  HMODULE module = LoadLibraryExW(exePath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) {
    failure = Failure(exePath, L"cannot load it as a Windows program", GetLastError());
    return false;
  }
  bool ok = false;
  HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE),
                                MAKEINTRESOURCEW(CONFIG_RESOURCE_ID), CONFIG_RESOURCE_LANGUAGE);
  if (found == NULL)
    found = FindResourceW(module, MAKEINTRESOURCEW(CONFIG_RESOURCE_ID), MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE));
  HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
  const char* data = loaded != NULL ? static_cast<const char*>(LockResource(loaded)) : NULL;
  if (data == NULL) {
    failure = Failure(exePath, L"cannot read its configuration resource", GetLastError());
  } else {
    bytes.assign(data, SizeofResource(module, found));
    ok = true;
  }
  FreeLibrary(module);
  return ok;
}

// A resource of the source exe, kept while the copy is rebuilt.
struct ResourceItem {
  std::wstring type;  // a name, or empty for the numeric id below
  WORD typeId;
  std::wstring name;
  WORD nameId;
  WORD language;
  std::string data;
};

struct ResourceCollection {
  std::vector<ResourceItem>* items;
  bool failed;  // a resource could not be read: the rebuilt exe would lack it
  ResourceItem current;
};

static void SetIdentifier(LPCWSTR identifier, std::wstring& text, WORD& id) {
  if (IS_INTRESOURCE(identifier)) {
    text.clear();
    id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(identifier));
  } else {
    text = identifier;
    id = 0;
  }
}

static LPCWSTR Identifier(const std::wstring& text, WORD id) {
  return text.empty() ? MAKEINTRESOURCEW(id) : text.c_str();
}

static BOOL CALLBACK CollectLanguageItem(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                                         LONG_PTR parameter) {
  ResourceCollection* collection = reinterpret_cast<ResourceCollection*>(parameter);
  HRSRC found = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
  const char* data = loaded != NULL ? static_cast<const char*>(LockResource(loaded)) : NULL;
  if (data == NULL) {
    collection->failed = true;
    return FALSE;
  }
  ResourceItem item = collection->current;
  item.language = language;
  item.data.assign(data, SizeofResource(module, found));
  collection->items->push_back(item);
  return TRUE;
}

static BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR parameter) {
  ResourceCollection* collection = reinterpret_cast<ResourceCollection*>(parameter);
  SetIdentifier(name, collection->current.name, collection->current.nameId);
  bool config = IS_INTRESOURCE(type) && IS_INTRESOURCE(name) &&
                reinterpret_cast<ULONG_PTR>(type) == CONFIG_RESOURCE_TYPE &&
                reinterpret_cast<ULONG_PTR>(name) == CONFIG_RESOURCE_ID;
  if (config) return TRUE;
  EnumResourceLanguagesW(module, type, name, CollectLanguageItem, parameter);
  return !collection->failed;
}

static BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR parameter) {
  ResourceCollection* collection = reinterpret_cast<ResourceCollection*>(parameter);
  SetIdentifier(type, collection->current.type, collection->current.typeId);
  EnumResourceNamesW(module, type, CollectName, parameter);
  return !collection->failed;
}

// Every resource of the exe except the configuration.
static bool CollectOtherResources(const std::wstring& exePath, std::vector<ResourceItem>& items,
                                  std::wstring& failure) {
  HMODULE module = LoadLibraryExW(exePath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) {
    failure = Failure(exePath, L"cannot load it as a Windows program", GetLastError());
    return false;
  }
  ResourceCollection collection;
  collection.items = &items;
  collection.failed = false;
  collection.current.typeId = 0;
  collection.current.nameId = 0;
  collection.current.language = 0;
  EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&collection));
  if (collection.failed) failure = Failure(exePath, L"cannot read one of its resources", GetLastError());
  FreeLibrary(module);
  return !collection.failed;
}

static bool AddResource(HANDLE update, LPCWSTR type, LPCWSTR name, WORD language, const std::string& data) {
  return UpdateResourceW(update, type, name, language, const_cast<char*>(data.data()),
                         static_cast<DWORD>(data.size())) != FALSE;
}

// One update session on `path`. With `others` null the configuration is
// replaced in place (the exe carries it in the Chinese language only, or not
// at all); otherwise every resource is dropped and `others` and the
// configuration are written anew. Deleting single languages is not used:
// Wine accepts the request and keeps the resource.
static bool WriteConfigResource(const std::wstring& path, const std::vector<ResourceItem>* others,
                                const std::string& text, DWORD& error) {
  HANDLE update = BeginUpdateResourceW(path.c_str(), others != NULL ? TRUE : FALSE);
  if (update == NULL) {
    error = GetLastError();
    return false;
  }
  bool ok = true;
  for (size_t i = 0; ok && others != NULL && i < others->size(); ++i) {
    const ResourceItem& item = (*others)[i];
    ok = AddResource(update, Identifier(item.type, item.typeId), Identifier(item.name, item.nameId),
                     item.language, item.data);
  }
  ok = ok && AddResource(update, MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE), MAKEINTRESOURCEW(CONFIG_RESOURCE_ID),
                         CONFIG_RESOURCE_LANGUAGE, text);
  error = ok ? 0 : GetLastError();
  // A failed update is discarded, which leaves the file as it was.
  if (!EndUpdateResourceW(update, ok ? FALSE : TRUE) && ok) {
    error = GetLastError();
    ok = false;
  }
  return ok;
}

// Replaces the configuration inside `path`, a copy of `sourceExe`.
static bool ReplaceConfigResource(const std::wstring& path, const std::wstring& sourceExe,
                                  const std::string& text, int& removedLanguages, std::wstring& failure) {
  WORD languages[MAX_CONFIG_LANGUAGES];
  removedLanguages = ListConfigLanguages(sourceExe, languages, MAX_CONFIG_LANGUAGES, failure);
  if (removedLanguages < 0) return false;
  if (removedLanguages > MAX_CONFIG_LANGUAGES) {
    failure = sourceExe + L": error: it carries too many copies of the configuration";
    return false;
  }
  bool onlyChinese = removedLanguages == 0 || (removedLanguages == 1 && languages[0] == CONFIG_RESOURCE_LANGUAGE);
  std::vector<ResourceItem> others;
  if (!onlyChinese && !CollectOtherResources(sourceExe, others, failure)) return false;
  DWORD error = 0;
  if (!WriteConfigResource(path, onlyChinese ? NULL : &others, text, error)) {
    failure = Failure(sourceExe, L"cannot write the configuration resource", error);
    return false;
  }
  return true;
}

// Takes the certificate table out of the copy before the resource update, so
// that the update never sees one: Wine's keeps it (moved behind a grown resource
// section), and what Windows' does with it need not matter.
static bool RemoveSignature(const std::wstring& path, const std::wstring& sourceExe, bool& removed,
                            std::wstring& failure) {
  std::string image;
  if (!ReadWholeFile(path, image, failure)) return false;
  CertificateRemoval removal = RemoveCertificateTable(image);
  removed = removal == CERTIFICATE_REMOVED;
  if (removal == CERTIFICATE_MISPLACED) {
    failure = sourceExe + L": error: its certificate table lies inside its sections or past its end";
    return false;
  }
  return !removed || WriteWholeFile(path, image, failure);
}

// Wine's resource update leaves the checksum of the file it was given.
static bool UpdateChecksum(const std::wstring& path, std::wstring& failure) {
  std::string image;
  if (!ReadWholeFile(path, image, failure)) return false;
  return !UpdatePeChecksum(image) || WriteWholeFile(path, image, failure);
}

bool StampConfigResource(const std::wstring& sourceExe, const std::wstring& targetExe,
                         const std::string& text, int& removedLanguages, bool& removedSignature,
                         std::wstring& failure) {
  removedLanguages = 0;
  removedSignature = false;
  // Windows refuses to replace a read-only file, but Wine renames over one; both
  // are told the same here, before anything is made.
  DWORD attributes = GetFileAttributesW(targetExe.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    failure = targetExe + L": error: it is read-only";
    return false;
  }
  if (GetFileAttributesW(sourceExe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    failure = Failure(sourceExe, L"cannot open it", GetLastError());
    return false;
  }
  std::wstring folder = FolderOfPath(targetExe);
  WCHAR temporary[MAX_PATH + 16];
  bool done = false;
  // GetTempFileNameW creates the (empty) file; it is ours to delete from here on.
  if (folder.size() + 14 >= MAX_PATH || GetTempFileNameW(folder.c_str(), L"stp", 0, temporary) == 0) {
    failure = Failure(folder, L"cannot create a temporary file in this folder",
                      folder.size() + 14 >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
    return false;
  }
  do {
    if (!CopyFileW(sourceExe.c_str(), temporary, FALSE)) {
      failure = Failure(sourceExe, L"cannot copy it", GetLastError());
      break;
    }
    // The copy takes over a read-only attribute, which would stop the update.
    SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
    if (!RemoveSignature(temporary, sourceExe, removedSignature, failure)) break;
    if (!ReplaceConfigResource(temporary, sourceExe, text, removedLanguages, failure)) break;
    if (!UpdateChecksum(temporary, failure)) break;
    std::string written;
    int languages = 0;
    if (!ReadConfigResource(temporary, written, languages, failure)) break;
    if (written != text || languages != 1) {
      failure = sourceExe + L": error: the configuration read back differs from the one written";
      break;
    }
    if (!MoveFileExW(temporary, targetExe.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      failure = Failure(targetExe, L"cannot replace it", GetLastError());
      break;
    }
    done = true;
  } while (false);
  if (!done) DeleteFileW(temporary);
  return done;
}
