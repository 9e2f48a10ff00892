#include "config/setup_config.h"

#include <windows.h>

#include <vector>

#include "config/replace_all.h"

ConfigTable& SetupConfig = *new ConfigTable;

std::wstring LoadConfigText() {
  WCHAR path[MAX_PATH];
  path[0] = L'\0';
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  path[MAX_PATH - 1] = L'\0';  // XP leaves a cut path unterminated
  // A null handle (load failed) makes FindResourceW search the process's own exe.
  // A cut path names another file, which could be a library planted there: not loaded.
  HMODULE module = (length > 0 && length < MAX_PATH) ? LoadLibraryW(path) : NULL;
  std::wstring text;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(CONFIG_RESOURCE_ID),
                              MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE));
  if (found != NULL) {
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    int size = static_cast<int>(SizeofResource(module, found));
    int units = (data != NULL && size > 0) ? MultiByteToWideChar(CP_ACP, 0, data, size, NULL, 0) : 0;
    if (units > 0) {
      std::vector<WCHAR> buffer(units);
      MultiByteToWideChar(CP_ACP, 0, data, size, buffer.data(), units);
      text.assign(buffer.data(), units);
    }
  }
  if (module != NULL) FreeLibrary(module);
  return text;
}

void ParseConfigText(const std::wstring& text, ConfigTable& table) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line.back() == L'\r') line.pop_back();
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos)
      table.emplace(line, line);
    else
      table.emplace(line.substr(0, equals), line.substr(equals + 1));
  }
}

void LoadSetupConfig() {
  ParseConfigText(LoadConfigText(), SetupConfig);
}

std::wstring GetConfigValue(const std::wstring& key) {
  ConfigTable::const_iterator entry = SetupConfig.find(key);
  return entry == SetupConfig.end() ? std::wstring() : entry->second;
}

bool FindConfigValue(const wchar_t* key, wchar_t* value, int capacity) {
  value[0] = L'\0';
  ConfigTable::const_iterator entry = SetupConfig.find(key);
  if (entry == SetupConfig.end()) return false;
  lstrcpynW(value, entry->second.c_str(), capacity);
  return true;
}

std::wstring ExpandConfigEscapes(const std::wstring& value) {
  return ReplaceAll(ReplaceAll(value, L"\\n", L"\n"), L"\\\\", L"\\");
}

std::wstring GetConfigText(const std::wstring& key) {
  return ExpandConfigEscapes(GetConfigValue(key));
}
