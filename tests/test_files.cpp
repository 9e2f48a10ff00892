#include "test_files.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <wchar.h>

#include <vector>

#include "config/replace_all.h"
#include "platform/protected_file.h"

unsigned long ScaledWaitMs(unsigned long nativeMs) {
  wchar_t text[8] = L"";
  DWORD length = GetEnvironmentVariableW(L"SETUP_TEST_WAIT_SCALE", text, 8);
  unsigned long scale = length > 0 && length < 8 ? wcstoul(text, NULL, 10) : 1;
  return scale >= 1 && scale <= 100 ? nativeMs * scale : nativeMs;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::vector<std::string> RunLogTexts(const std::wstring& path) {
  std::string bytes = ReadFileBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    lines.push_back(line.size() >= 20 ? line.substr(20) : "(short line) " + line);
    start = end + 2;
  }
  return lines;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::wstring FileDaclText(const std::wstring& path) {
  // A folder opens with backup semantics only.
  HANDLE file = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return L"(error " + std::to_wstring(GetLastError()) + L")";
  PSECURITY_DESCRIPTOR descriptor = NULL;
  DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, NULL, NULL, &descriptor);
  CloseHandle(file);
  if (error != ERROR_SUCCESS) return L"(error " + std::to_wstring(error) + L")";
  LPWSTR text = NULL;
  std::wstring result = L"(error in the notation)";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, NULL))
    result = text;
  LocalFree(text);
  LocalFree(descriptor);
  return result;
}

std::wstring ProcessUserSid() {
  HANDLE token = NULL;
  std::vector<BYTE> user(256);
  DWORD size = 0;
  LPWSTR text = NULL;
  std::wstring sid = L"(user not read)";
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
    sid = text;
  LocalFree(text);
  if (token != NULL) CloseHandle(token);
  return sid;
}

// Wine's picture of a protected DACL: SYSTEM and the process's user with full
// control, each entry with `flags` ("OICI" for a folder); the DACL itself on Windows.
static std::wstring ProtectedAsShown(const std::wstring& dacl, const std::wstring& flags) {
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == NULL) return dacl;
  return L"D:(A;" + flags + L";FA;;;SY)(A;" + flags + L";FA;;;" + ProcessUserSid() + L")";
}

std::wstring ProtectedDaclAsShown() {
  return ProtectedAsShown(PROTECTED_FILE_SDDL, L"");
}

std::wstring ProtectedFolderDaclAsShown() {
  // The DACL part of the folder's descriptor: what FileDaclText reads.
  const std::wstring folder = PROTECTED_FOLDER_SDDL;
  return ProtectedAsShown(folder.substr(folder.find(L"D:")), L"OICI");
}

std::wstring TempFilePath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

std::wstring ReplaceAll(const std::wstring& source, const std::wstring& pattern,
                        const std::wstring& replacement) {
  // Room for the longest possible result: every character a match of its own.
  std::vector<wchar_t> result(source.size() * (replacement.size() + 1) + 1);
  ReplaceAll(source.c_str(), pattern.c_str(), replacement.c_str(), result.data(),
             static_cast<int>(result.size()));
  return result.data();
}
