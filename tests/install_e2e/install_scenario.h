// What the install end-to-end tests set up around setup.exe: its configuration
// stamped into a copy, the served installer doubles, the runtime folder, and
// reading what the doubles recorded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The configuration text for a server on `port` of 127.0.0.1: the product at
// /package/brenvik/brenvik-setupvv.exe and the runtime mirrors given (each a
// path on the same server, or a whole URL when it starts with "http"); an empty
// list writes no mirror key.
// `extra` lines (each ending in "\n") follow as they are.
std::wstring ScenarioConfig(int port, const std::wstring& mirror1, const std::wstring& mirror2,
                           const std::wstring& extra = L"");
// The same for a server at `base` ("https://localhost:8443"); a mirror is a
// path on it, or a whole address when it starts with "http".
std::wstring ScenarioConfigAt(const std::wstring& base, const std::wstring& mirror1, const std::wstring& mirror2,
                             const std::wstring& extra = L"");

// Wine's per-program setting that prefers a library's native copy (a file found
// in the search) over Wine's own, read when the program starts; and its removal.
bool PreferNativeLibraryFor(const std::wstring& exeName, const std::wstring& library);
// The same setting that loads no copy at all, as on a system without the library.
bool DisableLibraryFor(const std::wstring& exeName, const std::wstring& library);
void ClearLibraryPreferencesFor(const std::wstring& exeName);

// Replaces the configuration resource of the executable at `exePath` with
// `text`, encoded in code page 936 with CR LF line ends. False on failure.
bool StampConfig(const std::wstring& exePath, const std::wstring& text);

// The lines that an installer double recorded beside itself (UTF-8 file).
std::wstring ReadRecord(const std::wstring& installerPath);

// The exit code of the installer doubles that setup.exe starts from now on
// (an environment variable that setup.exe and its children inherit).
void SetInstallerExitCode(int code);
void ClearInstallerExitCode();

// "<Windows>\Temp\brenvik-setup", the protected download folder, as its
// final path names it once it exists (the form setup.exe uses and logs).
std::wstring ProtectedDownloadFolder();
// The fresh folders setup.exe made beside it ("brenvik-setup-<32 digits>").
std::vector<std::wstring> FreshDownloadFolders();
// Removes the protected folder and every fresh one, whatever they hold: each
// run of a test makes its own, as on a machine where setup.exe never ran.
void RemoveDownloadFolders();
// Moves the Windows temporary folder away (and back): no download folder can
// be made there, as on a system where setup.exe lacks the rights to.
bool SetWindowsTempPresent(bool present);

// Makes or removes "C:\Windows\Microsoft.NET\Framework\v2.0.50727".
void SetRuntimeFolderPresent(bool present);

// Reads HKLM RunOnce "!TovrelSetup"; empty when absent.
std::wstring ReadRunOnceValue();
void DeleteRunOnceValue();

// The command line another process was started with; empty when unreadable.
std::wstring ProcessCommandLine(DWORD processId);

// A visible top-level window of the class that belongs to a process other than
// `otherThan`, or null.
HWND FindWindowOfAnotherProcess(const std::wstring& className, DWORD otherThan, DWORD* processId);

// The Unix name of a Windows path; empty when Wine gives none.
std::string UnixFileName(const std::wstring& path);

// Starts a Unix program (Wine runs it as such) with the arguments, each passed
// whole. Wine drops its exit code and may report its end before it is done:
// callers wait for what it makes.
bool StartHostProgram(const std::string& unixProgram, const std::vector<std::string>& arguments);

// Plants a link named `link` to the existing file `target`: a hard link through
// the system, or a symbolic one made on the Unix side by /bin/ln (Wine's own
// CreateSymbolicLinkW makes nothing and reports success). True only when the
// link then reads as the target does.
bool PlantLink(bool symbolic, const std::wstring& link, const std::wstring& target);

// Starts `exePath` with its main thread held (files named after its process id
// can be planted first); ResumeThread(*thread) lets it run.
bool StartHeld(const std::wstring& exePath, PROCESS_INFORMATION* started);

// A new folder with `installer` signed at test time with throwaway keys
// (signed_installers.py says what it holds); empty, with a note on the
// output, when they could not be made.
std::wstring MakeSignedInstallers(const std::wstring& installer);
