// Helpers for end-to-end tests: a Windows test program that copies a built
// executable into a fresh folder, sets what Wine lets a test set per program
// (Windows version, screen resolution), starts it, drives its window from
// outside, answers its message boxes, waits for its exit code and reads its run log.
//
// Every wait is bounded by the caller's time-out. Window handles belong to
// another process: text is read with WM_GETTEXT under a time-out, and every
// action that may open a modal box is posted, never sent.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "test_files.h"

// Time-outs that suit a loaded machine; they bound waits, they are not timings.
// 20 s each, scaled in the emulated guest (ScaledWaitMs).
extern const DWORD E2E_START_TIMEOUT_MS;
extern const DWORD E2E_EXIT_TIMEOUT_MS;
const DWORD E2E_STEP_MS = 20;

// ---- Paths -------------------------------------------------------------------

// A Unix path as Wine sees it on drive Z: ("/a/b" -> "Z:\a\b").
std::wstring WindowsPathFromUnix(const char* unixPath);
// The setup.exe of this build (Windows path).
std::wstring SetupExePath();
// setup.exe built without its configuration resource (Windows path).
std::wstring SetupWithoutConfigExePath();
// The build folder (Windows path).
std::wstring BuildFolderPath();

// A new empty folder under the temp folder, unique per call; `withSpaces` puts
// blanks into its name. Empty on failure.
std::wstring MakeTempFolder(const std::wstring& tag, bool withSpaces);
// Deletes a folder and everything in it (a few bounded retries while a process
// that just ended still holds a file).
void RemoveFolder(const std::wstring& folder);
// "<prefix>-<pid>-<n>.exe", unique within this test process.
std::wstring UniqueExeName(const std::wstring& prefix);
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// ---- Registry settings read by a program when it starts ----------------------

// HKCU\Software\Wine\AppDefaults\<exeName>\Version: "winxp", "win7", "win8", "win81".
bool SetWindowsVersionFor(const std::wstring& exeName, const std::wstring& version);
// HKCU\Software\Wine\AppDefaults\<exeName>\X11 Driver\Managed = "N": without a
// window manager on the virtual display, Wine otherwise waits 2 s for one each
// time the program's window is hidden or destroyed.
bool SetUnmanagedWindowsFor(const std::wstring& exeName);
// Removes every setting made for the program under AppDefaults.
void ClearAppDefaultsFor(const std::wstring& exeName);
// HKCU\Control Panel\Desktop\LogPixels for programs started afterwards.
bool SetScreenDpi(int dpi);
// Removes the setting again (the default is 96).
void ResetScreenDpi();

// ---- Processes -----------------------------------------------------------------

struct StartedProgram {
  HANDLE process;
  DWORD processId;
  DWORD startError;  // the last CreateProcessW error, 0 when the first attempt worked
  int startAttempts;
};

// CreateProcessW of `exePath` with its folder as working directory; `arguments`
// follow the quoted path on the command line. A failed start is tried again a
// few times (Wine rarely fails a process start under load); every failure is
// reported on the output and kept in `startError`.
bool StartProgram(const std::wstring& exePath, const std::wstring& arguments, StartedProgram* started);
// A program that another process started, to wait for and end like our own.
StartedProgram ProgramOfProcess(DWORD processId);
// True and the exit code when the process ended within the time-out.
bool WaitForExit(const StartedProgram& started, DWORD timeoutMs, DWORD* exitCode);
bool IsRunning(const StartedProgram& started);
// Ends the process if it still runs and closes its handle.
void EndProgram(StartedProgram* started);

// ---- Windows of another process --------------------------------------------------

// Polls `condition` every E2E_STEP_MS until it holds or the time-out passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// The visible top-level window of the process with the class, or null at time-out.
HWND WaitForWindow(const std::wstring& className, DWORD processId, DWORD timeoutMs);
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

struct ControlInfo {
  HWND handle;
  std::wstring className;
  std::wstring text;
  RECT rect;  // in the parent's client coordinates
  bool visible;
  LONG style;
};

// The window's direct children in creation order.
std::vector<ControlInfo> ListControls(HWND window);
// The `index`-th child (from 0) of the class; a zero handle when there is none.
ControlInfo FindControl(const std::vector<ControlInfo>& controls, const std::wstring& className,
                        int index);
std::wstring ReadWindowText(HWND window);
RECT ScreenRect(HWND window);
// The child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control);
bool WaitForText(HWND window, const std::wstring& text, DWORD timeoutMs);

// Posted input: safe also when it opens a modal box in the target.
void PostClick(HWND button);
void PostKeyUp(HWND window, WPARAM key);
// A double-click on the window's background (its caption area).
void PostBackgroundDoubleClick(HWND window);
void PostCommand(HWND window, WPARAM wParam, LPARAM lParam);

// A message box ("#32770") owned by `owner`, or null at time-out.
HWND WaitForMessageBox(HWND owner, DWORD timeoutMs);
// A message box of any window of the process, or null at time-out.
HWND WaitForProcessMessageBox(DWORD processId, DWORD timeoutMs);
// The box's message text (its static control with id 0xFFFF) and caption.
std::wstring MessageBoxText(HWND box);
// Presses the button with the id (IDOK, IDYES, IDNO ...) by a posted command.
void AnswerMessageBox(HWND box, int buttonId);

// ---- The run log -------------------------------------------------------------------

// The run log of the program `exeName` with process id `processId` in `folder`:
// "<base>-<yyyyMMdd>-<pid>.log". Empty when there is none.
std::wstring FindRunLog(const std::wstring& folder, const std::wstring& exeName, DWORD processId);
// GBK (code page 936) to UTF-16.
std::wstring DecodeGbk(const std::string& bytes);
// The file split at CR LF (a last line without it is kept as it is).
std::vector<std::wstring> ReadRunLogLines(const std::wstring& path);
// A line without its "yyyy-MM-dd HH:mm:ss " stamp; the whole line when it has none.
std::wstring LogLineText(const std::wstring& line);
// The texts of all lines of the run log, without stamps.
std::vector<std::wstring> ReadRunLogTexts(const std::wstring& path);
// The same from the log's bytes.
std::vector<std::wstring> RunLogTextsOf(const std::string& bytes);

// ---- One run of a copied program -------------------------------------------------

struct E2eRun {
  std::wstring folder;
  std::wstring exeName;
  std::wstring exePath;
  StartedProgram program;
  HWND window;
};

// Copies `sourceExe` under a unique name (prefix `tag`) into a fresh folder,
// sets its Windows version (empty: Wine's default) and unmanaged windows.
// False on failure.
bool PrepareRun(E2eRun* run, const std::wstring& tag, const std::wstring& sourceExe,
                const std::wstring& windowsVersion, bool folderWithSpaces);
// Starts the copy and waits for its window of class `windowClass` (empty: do not wait).
bool StartRun(E2eRun* run, const std::wstring& windowClass, const std::wstring& arguments);
// Why a run has no window: the start's error, or whether the process still
// runs or how it ended, and its run log. For failure messages.
std::wstring DescribeStart(const E2eRun& run);
// Ends the process if it still runs, clears its settings, removes the folder.
void EndRun(E2eRun* run);
// The run's log file, or empty.
std::wstring RunLogOf(const E2eRun& run);

// The class of setup.exe's window.
extern const WCHAR SETUP_WINDOW_CLASS[];
