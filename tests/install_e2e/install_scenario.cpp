#include "install_scenario.h"

#include <winternl.h>

#include <stdio.h>

#include <vector>

#include "config/setup_config.h"
#include "e2e_support.h"
#include "install/runtime_step.h"

std::wstring ScenarioConfig(int port, const std::wstring& mirror1, const std::wstring& mirror2,
                           const std::wstring& extra) {
  return ScenarioConfigAt(L"http://127.0.0.1:" + std::to_wstring(port), mirror1, mirror2, extra);
}

std::wstring ScenarioConfigAt(const std::wstring& base, const std::wstring& mirror1, const std::wstring& mirror2,
                             const std::wstring& extra) {
  std::wstring text =
      L"app.name=Brenvik 账簿\n"
      L"setup.text=安装程序\n"
      L"button.text=开始安装\n"
      L"corp.name=北岸软件有限公司\n"
      L"summary=测试\n";
  if (!mirror1.empty()) text += L"net2.url1=" + (mirror1.compare(0, 4, L"http") == 0 ? mirror1 : base + mirror1) + L"\n";
  if (!mirror2.empty()) text += L"net2.url2=" + (mirror2.compare(0, 4, L"http") == 0 ? mirror2 : base + mirror2) + L"\n";
  text += L"app.url=" + base + L"/package/brenvik/brenvik-setupvv.exe\n";
  return text + extra;
}

// Wine reads these per program, under the name of its exe.
static const WCHAR APP_DEFAULTS[] = L"Software\\Wine\\AppDefaults\\";

static bool SetLibraryOrderFor(const std::wstring& exeName, const std::wstring& library, const std::wstring& order) {
  std::wstring keyPath = APP_DEFAULTS + exeName + L"\\DllOverrides";
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    return false;
  LONG result = RegSetValueExW(key, library.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                               static_cast<DWORD>((order.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool PreferNativeLibraryFor(const std::wstring& exeName, const std::wstring& library) {
  return SetLibraryOrderFor(exeName, library, L"native,builtin");
}

bool DisableLibraryFor(const std::wstring& exeName, const std::wstring& library) {
  // An empty order: neither Wine's copy nor a native one loads.
  return SetLibraryOrderFor(exeName, library, L"");
}

void ClearLibraryPreferencesFor(const std::wstring& exeName) {
  RegDeleteKeyW(HKEY_CURRENT_USER, (APP_DEFAULTS + exeName + L"\\DllOverrides").c_str());
}

bool StampConfig(const std::wstring& exePath, const std::wstring& text) {
  std::wstring crlf;
  for (wchar_t c : text) {
    if (c == L'\n') crlf += L'\r';
    crlf += c;
  }
  int size = WideCharToMultiByte(936, 0, crlf.c_str(), static_cast<int>(crlf.size()), NULL, 0, NULL, NULL);
  std::vector<char> bytes(size > 0 ? size : 1);
  if (size > 0) WideCharToMultiByte(936, 0, crlf.c_str(), static_cast<int>(crlf.size()), bytes.data(), size, NULL, NULL);

  HANDLE update = BeginUpdateResourceW(exePath.c_str(), FALSE);
  if (update == NULL) return false;
  BOOL written = UpdateResourceW(update, MAKEINTRESOURCEW(CONFIG_RESOURCE_TYPE),
                                 MAKEINTRESOURCEW(CONFIG_RESOURCE_ID),
                                 MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), bytes.data(),
                                 static_cast<DWORD>(size > 0 ? size : 0));
  BOOL ended = EndUpdateResourceW(update, written ? FALSE : TRUE);
  return written && ended;
}

// Read by the installer doubles (fake_installer.cpp).
static const WCHAR EXIT_CODE_VARIABLE[] = L"FAKE_INSTALLER_EXIT_CODE";

void SetInstallerExitCode(int code) {
  SetEnvironmentVariableW(EXIT_CODE_VARIABLE, std::to_wstring(code).c_str());
}

void ClearInstallerExitCode() {
  SetEnvironmentVariableW(EXIT_CODE_VARIABLE, NULL);
}

static std::wstring WindowsTemp(const wchar_t* name = L"Temp") {
  WCHAR windows[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return JoinPath(std::wstring(windows, length < MAX_PATH ? length : 0), name);
}

// The folder at `path` as its final path names it ("\\\\?\\" taken off); `path`
// itself while there is none.
static std::wstring FinalFolderPath(const std::wstring& path) {
  typedef DWORD(WINAPI * FinalPath)(HANDLE, LPWSTR, DWORD, DWORD);
  FinalPath finalPath = reinterpret_cast<FinalPath>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE || finalPath == NULL) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return path;
  }
  WCHAR final[MAX_PATH + 8];
  DWORD length = finalPath(handle, final, MAX_PATH + 8, 0);
  CloseHandle(handle);
  return length > 4 && length < MAX_PATH + 8 ? std::wstring(final + 4, length - 4) : path;
}

std::wstring ProtectedDownloadFolder() {
  return FinalFolderPath(WindowsTemp(L"Temp\\brenvik-setup"));
}

std::vector<std::wstring> FreshDownloadFolders() {
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WindowsTemp(L"Temp\\brenvik-setup-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return folders;
  do folders.push_back(FinalFolderPath(JoinPath(WindowsTemp(), found.cFileName)));
  while (FindNextFileW(search, &found));
  FindClose(search);
  return folders;
}

void RemoveDownloadFolders() {
  std::vector<std::wstring> folders = FreshDownloadFolders();
  folders.push_back(WindowsTemp(L"Temp\\brenvik-setup"));
  // By Unix means: whatever has the name (a folder, a file, a symbolic link,
  // which Wine would follow) goes as it is, and nothing that a link leads to.
  std::vector<std::string> arguments = {"-rf", "--"};
  for (const std::wstring& folder : folders)
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) arguments.push_back(UnixFileName(folder));
  if (arguments.size() == 2 || !StartHostProgram("/bin/rm", arguments)) return;
  WaitUntil([&] {
    for (const std::wstring& folder : folders)
      if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    return true;
  }, E2E_EXIT_TIMEOUT_MS);
}

bool SetWindowsTempPresent(bool present) {
  std::wstring temp = WindowsTemp();
  std::wstring away = WindowsTemp(L"Temp.away-for-a-test");
  bool there = GetFileAttributesW(temp.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (there == present) return true;
  return present ? MoveFileW(away.c_str(), temp.c_str()) != FALSE : MoveFileW(temp.c_str(), away.c_str()) != FALSE;
}

std::wstring ReadRecord(const std::wstring& installerPath) {
  std::string bytes = ReadFileBytes(installerPath + L".ran");
  if (bytes.empty()) return L"";
  int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), NULL, 0);
  std::wstring text(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], units);
  return text;
}

void SetRuntimeFolderPresent(bool present) {
  if (present) {
    CreateDirectoryW(L"C:\\Windows\\Microsoft.NET", NULL);
    CreateDirectoryW(L"C:\\Windows\\Microsoft.NET\\Framework", NULL);
    CreateDirectoryW(RUNTIME_FOLDER, NULL);
  } else {
    RemoveDirectoryW(RUNTIME_FOLDER);
  }
}

std::wstring ReadRunOnceValue() {
  WCHAR data[1024];
  DWORD bytes = sizeof data - sizeof(WCHAR);
  DWORD type = 0;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
  LONG read = RegQueryValueExW(key, RUN_ONCE_VALUE, NULL, &type, reinterpret_cast<BYTE*>(data), &bytes);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ) return L"";
  data[bytes / sizeof(WCHAR)] = L'\0';
  return data;
}

void DeleteRunOnceValue() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, RUN_ONCE_VALUE);
  RegCloseKey(key);
}

std::wstring ProcessCommandLine(DWORD processId) {
  typedef NTSTATUS(NTAPI * QueryInformation)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  QueryInformation query = reinterpret_cast<QueryInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  std::wstring text;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == NULL || query == NULL) {
    if (process != NULL) CloseHandle(process);
    return text;
  }
  PROCESS_BASIC_INFORMATION basic;
  PEB peb;
  RTL_USER_PROCESS_PARAMETERS parameters;
  SIZE_T got = 0;
  if (query(process, ProcessBasicInformation, &basic, sizeof basic, NULL) >= 0 &&
      ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &got) &&
      ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, &got)) {
    std::vector<WCHAR> buffer(parameters.CommandLine.Length / sizeof(WCHAR) + 1, L'\0');
    if (ReadProcessMemory(process, parameters.CommandLine.Buffer, buffer.data(), parameters.CommandLine.Length, &got))
      text.assign(buffer.data(), parameters.CommandLine.Length / sizeof(WCHAR));
  }
  CloseHandle(process);
  return text;
}

namespace {
struct WindowSearch {
  const WCHAR* className;
  DWORD otherThan;
  HWND found;
  DWORD processId;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
  WCHAR name[128];
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->otherThan && IsWindowVisible(window) && GetClassNameW(window, name, 128) &&
      lstrcmpW(name, search->className) == 0) {
    search->found = window;
    search->processId = owner;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND FindWindowOfAnotherProcess(const std::wstring& className, DWORD otherThan, DWORD* processId) {
  WindowSearch search = {className.c_str(), otherThan, NULL, 0};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  *processId = search.processId;
  return search.found;
}

// Wine's own: the Unix name of a Windows path, freed with HeapFree.
typedef char*(CDECL* UnixFileNameFunction)(const WCHAR*);

std::string UnixFileName(const std::wstring& path) {
  UnixFileNameFunction unixName = reinterpret_cast<UnixFileNameFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName != NULL ? unixName(path.c_str()) : NULL;
  if (name == NULL) return "";
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool StartHostProgram(const std::string& unixProgram, const std::vector<std::string>& arguments) {
  std::wstring command = L"\"" + std::wstring(unixProgram.begin(), unixProgram.end()) + L"\"";
  for (const std::string& argument : arguments) command += L" \"" + std::wstring(argument.begin(), argument.end()) + L"\"";
  std::vector<WCHAR> line(command.begin(), command.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring program = WindowsPathFromUnix(unixProgram.c_str());
  if (!CreateProcessW(program.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool PlantLink(bool symbolic, const std::wstring& link, const std::wstring& target) {
  if (!symbolic) {
    if (!CreateHardLinkW(link.c_str(), target.c_str(), NULL)) return false;
  } else {
    std::string from = UnixFileName(target);
    std::string to = UnixFileName(link);
    if (from.empty() || to.empty() || !StartHostProgram("/bin/ln", {"-s", from, to})) return false;
  }
  std::string bytes = ReadFileBytes(target);
  return !bytes.empty() && WaitUntil([&] { return ReadFileBytes(link) == bytes; }, E2E_EXIT_TIMEOUT_MS);
}

std::wstring MakeSignedInstallers(const std::wstring& installer) {
  std::wstring folder = MakeTempFolder(L"signed", false);
  if (folder.empty()) return L"";
  std::string script = SIGNED_INSTALLERS_SCRIPT;
  if (!StartHostProgram(HOST_PYTHON, {script, UnixFileName(folder), HOST_OPENSSL, HOST_OSSLSIGNCODE,
                                      UnixFileName(installer)})) {
    return L"";
  }
  // Key generation and signing take about a second here.
  WaitUntil([&] { return FileExists(JoinPath(folder, L"done")) || FileExists(JoinPath(folder, L"failed")); }, 60000);
  if (!FileExists(JoinPath(folder, L"done"))) {
    printf("signed installers not made: %s\n", ReadFileBytes(JoinPath(folder, L"failed")).c_str());
    RemoveFolder(folder);
    return L"";
  }
  return folder;
}

bool StartHeld(const std::wstring& exePath, PROCESS_INFORMATION* started) {
  std::wstring command = L"\"" + exePath + L"\"";
  std::vector<WCHAR> line(command.begin(), command.end());
  line.push_back(L'\0');
  std::wstring folder = exePath.substr(0, exePath.find_last_of(L'\\'));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  return CreateProcessW(exePath.c_str(), line.data(), NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, folder.c_str(),
                        &startup, started) != FALSE;
}
