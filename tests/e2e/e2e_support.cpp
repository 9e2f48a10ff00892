#include "e2e_support.h"

#include <shlwapi.h>
#include <stdio.h>
#include <wchar.h>

const WCHAR SETUP_WINDOW_CLASS[] = L"ZunGenericWindowClass";
const DWORD E2E_START_TIMEOUT_MS = ScaledWaitMs(20000);
const DWORD E2E_EXIT_TIMEOUT_MS = ScaledWaitMs(20000);

// How long a cross-process WM_GETTEXT may take before the target counts as hung.
static const UINT TEXT_TIMEOUT_MS = ScaledWaitMs(5000);
static const int REMOVE_ATTEMPTS = 50;
static const int START_ATTEMPTS = 3;
static const DWORD START_RETRY_PAUSE_MS = 500;
static const wchar_t LOG_STAMP_SHAPE[] = L"dddd-dd-dd dd:dd:dd ";

// ---- Paths and files ----------------------------------------------------------

std::wstring WindowsPathFromUnix(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c != '\0'; ++c) path += *c == '/' ? L'\\' : static_cast<WCHAR>(*c);
  return path;
}

std::wstring SetupExePath() {
  return WindowsPathFromUnix(E2E_SETUP_EXE);
}

std::wstring SetupWithoutConfigExePath() {
  return WindowsPathFromUnix(E2E_SETUP_WITHOUT_CONFIG_EXE);
}

std::wstring BuildFolderPath() {
  return WindowsPathFromUnix(E2E_BUILD_DIR);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

static LONG NameCounter;

std::wstring UniqueExeName(const std::wstring& prefix) {
  WCHAR suffix[40];
  _snwprintf(suffix, 40, L"-%lu-%ld.exe", GetCurrentProcessId(), InterlockedIncrement(&NameCounter));
  suffix[39] = L'\0';
  return prefix + suffix;
}

std::wstring MakeTempFolder(const std::wstring& tag, bool withSpaces) {
  WCHAR temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return L"";
  WCHAR unique[64];
  _snwprintf(unique, 64, L"%lu-%lu-%ld", GetCurrentProcessId(), GetTickCount(),
             InterlockedIncrement(&NameCounter));
  unique[63] = L'\0';
  std::wstring folder = JoinPath(temp, (withSpaces ? L"e2e run " : L"e2e-") + tag + L"-" + unique);
  if (!CreateDirectoryW(folder.c_str(), NULL)) return L"";
  return folder;
}

static bool RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(JoinPath(folder, L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = JoinPath(folder, name);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

void RemoveFolder(const std::wstring& folder) {
  if (folder.empty()) return;
  for (int attempt = 0; attempt < REMOVE_ATTEMPTS; ++attempt) {
    if (RemoveTree(folder) || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(E2E_STEP_MS);
  }
}

// ---- Registry ------------------------------------------------------------------

static const WCHAR APP_DEFAULTS_KEY[] = L"Software\\Wine\\AppDefaults\\";
static const WCHAR DESKTOP_KEY[] = L"Control Panel\\Desktop";

bool SetWindowsVersionFor(const std::wstring& exeName, const std::wstring& version) {
  std::wstring keyPath = APP_DEFAULTS_KEY + exeName;
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return false;
  LONG result = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                               static_cast<DWORD>((version.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool SetUnmanagedWindowsFor(const std::wstring& exeName) {
  std::wstring keyPath = APP_DEFAULTS_KEY + exeName + L"\\X11 Driver";
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return false;
  static const WCHAR NO[] = L"N";
  LONG result = RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(NO), sizeof NO);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void ClearAppDefaultsFor(const std::wstring& exeName) {
  std::wstring keyPath = APP_DEFAULTS_KEY + exeName;
  RegDeleteKeyW(HKEY_CURRENT_USER, (keyPath + L"\\X11 Driver").c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
}

bool SetScreenDpi(int dpi) {
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, DESKTOP_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return false;
  DWORD value = static_cast<DWORD>(dpi);
  LONG result = RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void ResetScreenDpi() {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, DESKTOP_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, L"LogPixels");
    RegCloseKey(key);
  }
}

// ---- Processes ---------------------------------------------------------------------

bool StartProgram(const std::wstring& exePath, const std::wstring& arguments, StartedProgram* started) {
  started->process = NULL;
  started->processId = 0;
  started->startError = 0;
  started->startAttempts = 0;
  std::wstring commandLine = L"\"" + exePath + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::wstring folder = exePath.substr(0, exePath.find_last_of(L'\\'));

  while (started->startAttempts < START_ATTEMPTS) {
    if (started->startAttempts++ > 0) Sleep(START_RETRY_PAUSE_MS);
    // CreateProcessW may write to the command line.
    std::vector<WCHAR> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(exePath.c_str(), buffer.data(), NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup,
                       &info)) {
      CloseHandle(info.hThread);
      started->process = info.hProcess;
      started->processId = info.dwProcessId;
      return true;
    }
    started->startError = GetLastError();
    printf("note: starting a program failed with error %lu (attempt %d of %d)\n",
           static_cast<unsigned long>(started->startError), started->startAttempts, START_ATTEMPTS);
    fflush(stdout);
  }
  return false;
}

StartedProgram ProgramOfProcess(DWORD processId) {
  StartedProgram program = {};
  program.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, processId);
  program.processId = processId;
  return program;
}

bool WaitForExit(const StartedProgram& started, DWORD timeoutMs, DWORD* exitCode) {
  if (started.process == NULL) return false;
  if (WaitForSingleObject(started.process, timeoutMs) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(started.process, &code);
  if (exitCode != NULL) *exitCode = code;
  return true;
}

bool IsRunning(const StartedProgram& started) {
  return started.process != NULL && WaitForSingleObject(started.process, 0) == WAIT_TIMEOUT;
}

void EndProgram(StartedProgram* started) {
  if (started->process == NULL) return;
  if (IsRunning(*started)) {
    TerminateProcess(started->process, 1);
    WaitForSingleObject(started->process, E2E_EXIT_TIMEOUT_MS);
  }
  CloseHandle(started->process);
  started->process = NULL;
}

// ---- Windows -------------------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(E2E_STEP_MS);
  }
}

struct WindowSearch {
  const WCHAR* className;
  DWORD processId;
  HWND owner;
  HWND found;
};

static bool HasClass(HWND window, const WCHAR* className) {
  WCHAR name[256];
  if (GetClassNameW(window, name, 256) == 0) return false;
  return wcscmp(name, className) == 0;
}

static BOOL CALLBACK MatchTopLevel(HWND window, LPARAM lParam) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (search->processId != 0 && processId != search->processId) return TRUE;
  if (search->owner != NULL && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  if (!HasClass(window, search->className) || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

static HWND FindTopLevel(const WCHAR* className, DWORD processId, HWND owner) {
  WindowSearch search = {className, processId, owner, NULL};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(const std::wstring& className, DWORD processId, DWORD timeoutMs) {
  HWND found = NULL;
  WaitUntil([&] { return (found = FindTopLevel(className.c_str(), processId, NULL)) != NULL; }, timeoutMs);
  return found;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
  return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

std::wstring ReadWindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, TEXT_TIMEOUT_MS, &length))
    return L"";
  std::vector<WCHAR> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_NORMAL, TEXT_TIMEOUT_MS, &copied))
    return L"";
  return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

RECT ScreenRect(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

RECT RectInParent(HWND control) {
  RECT rect = ScreenRect(control);
  MapWindowPoints(NULL, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

static BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
  std::vector<ControlInfo>* controls = reinterpret_cast<std::vector<ControlInfo>*>(lParam);
  ControlInfo info;
  info.handle = child;
  WCHAR name[256] = L"";
  GetClassNameW(child, name, 256);
  info.className = name;
  info.text = ReadWindowText(child);
  info.rect = RectInParent(child);
  info.visible = IsWindowVisible(child) != FALSE;
  info.style = GetWindowLongW(child, GWL_STYLE);
  controls->push_back(info);
  return TRUE;
}

std::vector<ControlInfo> ListControls(HWND window) {
  std::vector<ControlInfo> all;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&all));
  // EnumChildWindows also walks grandchildren; keep the direct ones.
  std::vector<ControlInfo> direct;
  for (const ControlInfo& info : all)
    if (GetParent(info.handle) == window) direct.push_back(info);
  return direct;
}

ControlInfo FindControl(const std::vector<ControlInfo>& controls, const std::wstring& className, int index) {
  for (const ControlInfo& info : controls) {
    if (lstrcmpiW(info.className.c_str(), className.c_str()) != 0) continue;
    if (index-- == 0) return info;
  }
  ControlInfo none = {};
  return none;
}

bool WaitForText(HWND window, const std::wstring& text, DWORD timeoutMs) {
  return WaitUntil([&] { return ReadWindowText(window) == text; }, timeoutMs);
}

void PostClick(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
}

void PostKeyUp(HWND window, WPARAM key) {
  // Repeat count 1, previous state down, transition state up.
  PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001));
}

void PostBackgroundDoubleClick(HWND window) {
  RECT rect = ScreenRect(window);
  PostMessageW(window, WM_NCLBUTTONDBLCLK, HTCAPTION, MAKELPARAM(rect.left + 5, rect.top + 5));
}

void PostCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  PostMessageW(window, WM_COMMAND, wParam, lParam);
}

HWND WaitForMessageBox(HWND owner, DWORD timeoutMs) {
  HWND found = NULL;
  WaitUntil([&] { return (found = FindTopLevel(L"#32770", 0, owner)) != NULL; }, timeoutMs);
  return found;
}

HWND WaitForProcessMessageBox(DWORD processId, DWORD timeoutMs) {
  HWND found = NULL;
  WaitUntil([&] { return (found = FindTopLevel(L"#32770", processId, NULL)) != NULL; }, timeoutMs);
  return found;
}

std::wstring MessageBoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text != NULL ? ReadWindowText(text) : L"";
}

void AnswerMessageBox(HWND box, int buttonId) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

// ---- The run log ---------------------------------------------------------------------

std::wstring FindRunLog(const std::wstring& folder, const std::wstring& exeName, DWORD processId) {
  std::wstring base = exeName;
  size_t dot = base.find_last_of(L'.');
  if (dot != std::wstring::npos) base.erase(dot);
  WCHAR pattern[64];
  _snwprintf(pattern, 64, L"-*-%lu.log", processId);
  pattern[63] = L'\0';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(JoinPath(folder, base + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return L"";
  FindClose(search);
  return JoinPath(folder, found.cFileName);
}

std::wstring DecodeGbk(const std::string& bytes) {
  if (bytes.empty()) return L"";
  int units = MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), NULL, 0);
  if (units <= 0) return L"";
  std::wstring text(units, L'\0');
  MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], units);
  return text;
}

// GBK bytes split at CR LF (a last line without it is kept as it is).
static std::vector<std::wstring> RunLogLinesOf(const std::string& bytes) {
  std::wstring text = DecodeGbk(bytes);
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::wstring> ReadRunLogLines(const std::wstring& path) {
  return RunLogLinesOf(ReadFileBytes(path));
}

std::wstring LogLineText(const std::wstring& line) {
  const size_t stampLength = sizeof LOG_STAMP_SHAPE / sizeof LOG_STAMP_SHAPE[0] - 1;
  if (line.size() < stampLength) return line;
  for (size_t i = 0; i < stampLength; ++i) {
    bool digit = line[i] >= L'0' && line[i] <= L'9';
    if (LOG_STAMP_SHAPE[i] == L'd' ? !digit : line[i] != LOG_STAMP_SHAPE[i]) return line;
  }
  return line.substr(stampLength);
}

std::vector<std::wstring> RunLogTextsOf(const std::string& bytes) {
  std::vector<std::wstring> texts;
  for (const std::wstring& line : RunLogLinesOf(bytes)) texts.push_back(LogLineText(line));
  return texts;
}

std::vector<std::wstring> ReadRunLogTexts(const std::wstring& path) {
  return RunLogTextsOf(ReadFileBytes(path));
}

// ---- One run -----------------------------------------------------------------------------

bool PrepareRun(E2eRun* run, const std::wstring& tag, const std::wstring& sourceExe,
                const std::wstring& windowsVersion, bool folderWithSpaces) {
  run->program.process = NULL;
  run->program.processId = 0;
  run->window = NULL;
  run->folder = MakeTempFolder(tag, folderWithSpaces);
  if (run->folder.empty()) return false;
  run->exeName = UniqueExeName(tag);
  run->exePath = JoinPath(run->folder, run->exeName);
  if (!CopyFileW(sourceExe.c_str(), run->exePath.c_str(), FALSE)) return false;
  if (!SetUnmanagedWindowsFor(run->exeName)) return false;
  return windowsVersion.empty() || SetWindowsVersionFor(run->exeName, windowsVersion);
}

bool StartRun(E2eRun* run, const std::wstring& windowClass, const std::wstring& arguments) {
  if (!StartProgram(run->exePath, arguments, &run->program)) return false;
  if (windowClass.empty()) return true;
  run->window = WaitForWindow(windowClass, run->program.processId, E2E_START_TIMEOUT_MS);
  if (run->window == NULL) return false;
  // The window exists before its thread first waits for input; asked before
  // then (slow under emulation), the thread can look hung to a sender.
  WaitForInputIdle(run->program.process, E2E_START_TIMEOUT_MS);
  return true;
}

void EndRun(E2eRun* run) {
  EndProgram(&run->program);
  if (!run->exeName.empty()) ClearAppDefaultsFor(run->exeName);
  RemoveFolder(run->folder);
  run->folder.clear();
}

std::wstring DescribeStart(const E2eRun& run) {
  std::wstring text;
  if (run.program.process == NULL) {
    text = L"the program did not start: error " + std::to_wstring(run.program.startError) + L" after " +
           std::to_wstring(run.program.startAttempts) + L" attempts";
  } else if (IsRunning(run.program)) {
    text = L"the program runs without the window";
  } else {
    DWORD code = 0;
    GetExitCodeProcess(run.program.process, &code);
    text = L"the program ended with exit code " + std::to_wstring(code);
  }
  std::string log = ReadFileBytes(RunLogOf(run));
  if (log.empty()) return text + L"; no run log";
  // The run log is GBK text.
  int units = MultiByteToWideChar(936, 0, log.data(), static_cast<int>(log.size()), NULL, 0);
  std::wstring logText(units > 0 ? units : 0, L'\0');
  if (units > 0) MultiByteToWideChar(936, 0, log.data(), static_cast<int>(log.size()), &logText[0], units);
  return text + L"; run log:\n" + logText;
}

std::wstring RunLogOf(const E2eRun& run) {
  return FindRunLog(run.folder, run.exeName, run.program.processId);
}
