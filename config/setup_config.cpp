#include "config/setup_config.h"

#include <windows.h>

#include "log/run_log.h"

ConfigTable SetupConfig;

int LoadConfigText(wchar_t* text) {
  WCHAR path[MAX_PATH];
  path[0] = L'\0';
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  path[MAX_PATH - 1] = L'\0';  // XP leaves a cut path unterminated
  // A null handle (load failed) makes FindResourceW search the process's own exe.
  // A cut path names another file, which could be a library planted there: not loaded.
  HMODULE module = (length > 0 && length < MAX_PATH) ? LoadLibraryW(path) : NULL;
  int units = 0;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(CONFIG_RESOURCE_ID),
                              MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE));
  if (found != NULL) {
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    int size = static_cast<int>(SizeofResource(module, found));
    units = (data != NULL && size > 0) ? MultiByteToWideChar(CP_ACP, 0, data, size, NULL, 0) : 0;
    if (units > CONFIG_TEXT_MAX) {
      LogFormat("configuration refused: %d characters, at most %d", units, CONFIG_TEXT_MAX);
      units = -1;
    } else if (units > 0) {
      MultiByteToWideChar(CP_ACP, 0, data, size, text, units);
    }
  }
  if (module != NULL) FreeLibrary(module);
  return units;
}

void LoadSetupConfig() {
  // Static: far too large for a thread's stack, and needed only once.
  static wchar_t text[CONFIG_TEXT_MAX];
  SetupConfig.count = 0;
  int length = LoadConfigText(text);
  if (length <= 0) return;
  if (ParseConfigText(text, length, &SetupConfig) == CONFIG_TOO_MANY_ENTRIES)
    LogFormat("configuration refused: more than %d keys", CONFIG_MAX_ENTRIES);
}

bool GetConfigValue(const wchar_t* key, wchar_t* value, int capacity) {
  if (CopyConfigValue(&SetupConfig, key, value, capacity)) return true;
  const ConfigEntry* entry = FindConfigEntry(&SetupConfig, key);
  LogFormat("configuration value too long: %s (%d characters, at most %d)", key,
            entry != NULL ? entry->valueLength : 0, capacity - 1);
  return false;
}

bool FindConfigValue(const wchar_t* key, wchar_t* value, int capacity) {
  value[0] = L'\0';
  const ConfigEntry* entry = FindConfigEntry(&SetupConfig, key);
  if (entry == NULL) return false;
  int units = entry->valueLength < capacity - 1 ? entry->valueLength : capacity - 1;
  for (int i = 0; i < units; ++i) value[i] = SetupConfig.text[entry->value + i];
  value[units] = L'\0';
  return true;
}

bool GetConfigText(const wchar_t* key, wchar_t* text, int capacity) {
  return GetConfigValue(key, text, capacity) && ExpandConfigEscapes(text, text, capacity);
}
