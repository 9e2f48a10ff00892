// The real setupstamp.exe on copies of the real setup.exe, each test in a
// folder of its own beside this program.
#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "tools/setupstamp/exe_stamp.h"
#include "tools/setupstamp/file_access.h"
#include "tools/setupstamp/little_endian.h"
#include "tools/setupstamp/pe_image.h"
#include "tools/setupstamp/text_encoding.h"

namespace {

const DWORD PROCESS_WAIT_MS = 60000;

const wchar_t PRODUCT[] =
    L"app.name=印章测试产品\n"
    L"setup.text=安装向导\n"
    L"button.text=立即安装\n"
    L"summary=第一行说明\\n第二行说明\n"
    L"corp.name=测试公司\n"
    L"corp.tel=www.example.test 电话：010-0000\n"
    L"net2.url1=http://127.0.0.1/dotnet.exe\n"
    L"app.url=http://127.0.0.1:3000/pkg/productvv.exe\n";

std::wstring ProgramFolder() {
  WCHAR path[MAX_PATH];
  GetModuleFileNameW(NULL, path, MAX_PATH);
  return FolderOfPath(path);
}

std::vector<std::wstring> ListFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh, empty folder for one test.
std::wstring WorkFolder(const std::wstring& name) {
  std::wstring root = ProgramFolder() + L"\\stamp-work";
  CreateDirectoryW(root.c_str(), NULL);
  std::wstring folder = root + L"\\" + name;
  CreateDirectoryW(folder.c_str(), NULL);
  std::vector<std::wstring> old = ListFiles(folder);
  for (size_t i = 0; i < old.size(); ++i) {
    std::wstring path = folder + L"\\" + old[i];
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
  return folder;
}

void WriteBytesTo(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
  ASSERT_EQ(bytes.size(), written);
}

std::string ReadBytesFrom(const std::wstring& path) {
  std::string bytes;
  std::wstring failure;
  EXPECT_TRUE(ReadWholeFile(path, bytes, failure)) << Utf8FromWide(failure);
  return bytes;
}

void CopySetup(const std::wstring& folder, const wchar_t* name) {
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\setup.exe").c_str(), (folder + L"\\" + name).c_str(), FALSE));
}

HANDLE InheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

struct ToolRun {
  DWORD exitCode;
  std::string output;  // standard output, UTF-8
  std::string errors;  // standard error, UTF-8
};

// Runs setupstamp.exe with `arguments` in `folder`; its output goes to files
// outside that folder, so that the folder shows only what the tool left.
ToolRun RunTool(const std::wstring& folder, const std::wstring& arguments) {
  static int runs = 0;
  ToolRun run = {0xFFFFFFFF, "", ""};
  wchar_t suffix[16];
  _snwprintf(suffix, 16, L"-%d", ++runs);
  suffix[15] = L'\0';
  std::wstring outPath = folder + suffix + L".out", errPath = folder + suffix + L".err";
  HANDLE out = InheritableFile(outPath);
  HANDLE err = InheritableFile(errPath);
  std::wstring tool = ProgramFolder() + L"\\setupstamp.exe";
  std::wstring commandLine = L"\"" + tool + L"\" " + arguments;
  std::vector<WCHAR> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(tool.c_str(), writable.data(), NULL, NULL, TRUE, 0, NULL, folder.c_str(),
                     &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, PROCESS_WAIT_MS) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &run.exitCode);
    else
      TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    ADD_FAILURE() << "setupstamp.exe did not start: " << GetLastError();
  }
  CloseHandle(err);
  CloseHandle(out);
  run.output = ReadBytesFrom(outPath);
  run.errors = ReadBytesFrom(errPath);
  return run;
}

std::string Utf8(const std::wstring& text) { return Utf8FromWide(text); }

std::string Gbk(const std::wstring& text) {
  std::string bytes;
  EXPECT_TRUE(GbkFromWide(text, bytes));
  return bytes;
}

// The configuration as Windows' own loader reads it: an independent check of
// the tool's resource writer.
BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
  return TRUE;
}

std::vector<WORD> Languages(const std::wstring& exe) {
  std::vector<WORD> languages;
  HMODULE module = LoadLibraryExW(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) return languages;
  EnumResourceLanguagesW(module, MAKEINTRESOURCEW(1600), MAKEINTRESOURCEW(1601), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  FreeLibrary(module);
  return languages;
}

// The bytes of one resource; empty when there is none.
std::string OtherResource(const std::wstring& exe, LPCWSTR type, WORD name, WORD language) {
  std::string bytes;
  HMODULE module = LoadLibraryExW(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) return bytes;
  HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(name), language);
  HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
  const char* data = loaded != NULL ? static_cast<const char*>(LockResource(loaded)) : NULL;
  if (data != NULL) bytes.assign(data, SizeofResource(module, found));
  FreeLibrary(module);
  return bytes;
}

std::string ResourceBytes(const std::wstring& exe) {
  return OtherResource(exe, MAKEINTRESOURCEW(1600), 1601, CONFIG_RESOURCE_LANGUAGE);
}

testing::AssertionResult SameResource(const std::wstring& expected, const std::wstring& actual, LPCWSTR type,
                                      WORD name, WORD language) {
  std::string want = OtherResource(expected, type, name, language);
  if (want.empty()) return testing::AssertionFailure() << "no such resource in " << Utf8FromWide(expected);
  if (want != OtherResource(actual, type, name, language))
    return testing::AssertionFailure() << "resource " << name << " differs or is gone";
  return testing::AssertionSuccess();
}

bool Contains(const std::string& text, const std::wstring& part) {
  return text.find(Utf8(part)) != std::string::npos;
}

TEST(StampTool, StampThenPrintGivesTheTextBack) {
  std::wstring folder = WorkFolder(L"roundtrip");
  CopySetup(folder, L"setup.exe");
  WriteBytesTo(folder + L"\\product.txt", Utf8(PRODUCT));
  ToolRun stamp = RunTool(folder, L"--out new.exe product.txt setup.exe");
  EXPECT_EQ(0u, stamp.exitCode) << stamp.errors;
  EXPECT_TRUE(Contains(stamp.errors, L"product.txt: read as UTF-8, 0 errors, 0 warnings")) << stamp.errors;
  EXPECT_TRUE(Contains(stamp.output, L"new.exe: configuration stamped")) << stamp.output;

  std::wstring crlf = ReplaceAll(PRODUCT, L"\n", L"\r\n");
  EXPECT_EQ(Gbk(crlf), ResourceBytes(folder + L"\\new.exe")) << "GBK with CR LF after every line";
  EXPECT_EQ(std::vector<WORD>({CONFIG_RESOURCE_LANGUAGE}), Languages(folder + L"\\new.exe"));
  // The resource update leaves the old checksum; the tool writes the right one.
  DWORD stored = 0, computed = 1;
  ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS),
            MapFileAndCheckSumW(const_cast<wchar_t*>((folder + L"\\new.exe").c_str()), &stored, &computed));
  EXPECT_EQ(computed, stored);

  ToolRun print = RunTool(folder, L"--print new.exe");
  EXPECT_EQ(0u, print.exitCode) << print.errors;
  EXPECT_EQ(Utf8(crlf), print.output);
  EXPECT_EQ(std::vector<std::wstring>({L"new.exe", L"product.txt", L"setup.exe"}), ListFiles(folder));

  // The source exe is untouched: it still carries the sample.
  ToolRun original = RunTool(folder, L"--print setup.exe");
  EXPECT_TRUE(Contains(original.output, L"app.name=Brenvik 账簿\r\n")) << original.output;
}

TEST(StampTool, GbkAndByteOrderMarkInputsGiveTheSameResource) {
  std::wstring folder = WorkFolder(L"encodings");
  CopySetup(folder, L"setup.exe");
  std::wstring crlf = ReplaceAll(PRODUCT, L"\n", L"\r\n");
  WriteBytesTo(folder + L"\\gbk.txt", Gbk(crlf));
  WriteBytesTo(folder + L"\\bom.txt", "\xEF\xBB\xBF" + Utf8(PRODUCT));
  ToolRun gbk = RunTool(folder, L"--out gbk.exe gbk.txt setup.exe");
  EXPECT_EQ(0u, gbk.exitCode) << gbk.errors;
  EXPECT_TRUE(Contains(gbk.errors, L"gbk.txt: read as GBK (code page 936)")) << gbk.errors;
  ToolRun bom = RunTool(folder, L"--out bom.exe bom.txt setup.exe");
  EXPECT_EQ(0u, bom.exitCode) << bom.errors;
  EXPECT_EQ(Gbk(crlf), ResourceBytes(folder + L"\\gbk.exe"));
  EXPECT_EQ(Gbk(crlf), ResourceBytes(folder + L"\\bom.exe"));
  EXPECT_EQ(Utf8(crlf), RunTool(folder, L"--print gbk.exe").output);
}

TEST(StampTool, EveryEarlierLanguageIsReplaced) {
  std::wstring folder = WorkFolder(L"languages");
  CopySetup(folder, L"two.exe");
  std::wstring two = folder + L"\\two.exe";
  // Give the exe a second, English copy of the configuration.
  std::string english = "app.name=English copy\r\n";
  HANDLE update = BeginUpdateResourceW(two.c_str(), FALSE);
  ASSERT_NE(static_cast<HANDLE>(NULL), update);
  ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(1600), MAKEINTRESOURCEW(1601), 0x0409,
                              const_cast<char*>(english.data()), static_cast<DWORD>(english.size())));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
  std::vector<WORD> before = Languages(two);
  std::sort(before.begin(), before.end());
  ASSERT_EQ(std::vector<WORD>({0x0409, 0x0804}), before);

  WriteBytesTo(folder + L"\\product.txt", Utf8(PRODUCT));
  ToolRun stamp = RunTool(folder, L"--in-place product.txt two.exe");
  EXPECT_EQ(0u, stamp.exitCode) << stamp.errors;
  EXPECT_TRUE(Contains(stamp.output, L"2 earlier copies replaced")) << stamp.output;
  EXPECT_EQ(std::vector<WORD>({CONFIG_RESOURCE_LANGUAGE}), Languages(two));
  EXPECT_EQ(Gbk(ReplaceAll(PRODUCT, L"\n", L"\r\n")), ResourceBytes(two));
  EXPECT_EQ(std::vector<std::wstring>({L"product.txt", L"two.exe"}), ListFiles(folder));
  // The exe is rebuilt around the new text; everything else it carried stays.
  std::wstring setup = ProgramFolder() + L"\\setup.exe";
  EXPECT_TRUE(SameResource(setup, two, RT_MANIFEST, 1, 0x0409));
  EXPECT_TRUE(SameResource(setup, two, RT_VERSION, 1, 0x0804));
  EXPECT_TRUE(SameResource(setup, two, RT_GROUP_ICON, 1, 0x0804));
  EXPECT_TRUE(SameResource(setup, two, RT_ICON, 3, 0x0804));
}

TEST(StampTool, ErrorsStopWithNothingWritten) {
  std::wstring folder = WorkFolder(L"errors");
  CopySetup(folder, L"setup.exe");
  std::string original = ReadBytesFrom(folder + L"\\setup.exe");
  std::wstring broken = ReplaceAll(PRODUCT, L"app.url=http://", L"app.url=ftp://");
  WriteBytesTo(folder + L"\\product.txt", Utf8(broken + L"colour=red\n"));
  ToolRun out = RunTool(folder, L"--out new.exe product.txt setup.exe");
  EXPECT_EQ(1u, out.exitCode);
  EXPECT_TRUE(Contains(out.errors, L"product.txt:8: error: the download client refuses the address in "
                                   L"\"app.url\": it does not begin with \"http://\"")) << out.errors;
  EXPECT_TRUE(Contains(out.errors, L"product.txt:9: warning: unknown key \"colour\"")) << out.errors;
  EXPECT_TRUE(Contains(out.errors, L"product.txt: read as UTF-8, 1 error, 1 warning; nothing written"))
      << out.errors;
  ToolRun inPlace = RunTool(folder, L"--in-place product.txt setup.exe");
  EXPECT_EQ(1u, inPlace.exitCode);
  ToolRun check = RunTool(folder, L"--check product.txt");
  EXPECT_EQ(1u, check.exitCode);
  EXPECT_TRUE(Contains(check.errors, L"product.txt: read as UTF-8, 1 error, 1 warning\n")) << check.errors;
  EXPECT_EQ(std::vector<std::wstring>({L"product.txt", L"setup.exe"}), ListFiles(folder));
  EXPECT_TRUE(original == ReadBytesFrom(folder + L"\\setup.exe")) << "the exe was changed";
}

TEST(StampTool, WarningsGoOnUnlessStrict) {
  std::wstring folder = WorkFolder(L"warnings");
  CopySetup(folder, L"setup.exe");
  WriteBytesTo(folder + L"\\product.txt", Utf8(std::wstring(PRODUCT) + L"\nnet2.url3=http://127.0.0.1/d.exe\n"));
  ToolRun strict = RunTool(folder, L"--strict --out new.exe product.txt setup.exe");
  EXPECT_EQ(1u, strict.exitCode);
  EXPECT_TRUE(Contains(strict.errors, L"product.txt:9: warning: empty line")) << strict.errors;
  EXPECT_TRUE(Contains(strict.errors, L"product.txt:10: warning: \"net2.url3\" is never tried")) << strict.errors;
  EXPECT_EQ(std::vector<std::wstring>({L"product.txt", L"setup.exe"}), ListFiles(folder));

  EXPECT_EQ(0u, RunTool(folder, L"--check product.txt").exitCode);
  EXPECT_EQ(1u, RunTool(folder, L"--check --strict product.txt").exitCode);
  ToolRun lenient = RunTool(folder, L"--out new.exe product.txt setup.exe");
  EXPECT_EQ(0u, lenient.exitCode) << lenient.errors;
  EXPECT_TRUE(Contains(lenient.errors, L"product.txt: read as UTF-8, 0 errors, 2 warnings")) << lenient.errors;
  // The empty line is left out; the mirror line goes in as written.
  EXPECT_EQ(Gbk(ReplaceAll(PRODUCT, L"\n", L"\r\n") + L"net2.url3=http://127.0.0.1/d.exe\r\n"),
            ResourceBytes(folder + L"\\new.exe"));
}

TEST(StampTool, MissingOrReadOnlyExeLeavesNothingBehind) {
  std::wstring folder = WorkFolder(L"files");
  WriteBytesTo(folder + L"\\product.txt", Utf8(PRODUCT));
  ToolRun missing = RunTool(folder, L"--out new.exe product.txt missing.exe");
  EXPECT_EQ(3u, missing.exitCode);
  EXPECT_TRUE(Contains(missing.errors, L"missing.exe: error: cannot open it (error 2: the file does not exist)"))
      << missing.errors;
  EXPECT_TRUE(Contains(missing.errors, L"new.exe: nothing written")) << missing.errors;
  EXPECT_EQ(std::vector<std::wstring>({L"product.txt"}), ListFiles(folder));

  ToolRun noConfig = RunTool(folder, L"--out new.exe missing.txt missing.exe");
  EXPECT_EQ(3u, noConfig.exitCode);
  EXPECT_TRUE(Contains(noConfig.errors, L"missing.txt: error: cannot open it (error 2")) << noConfig.errors;

  CopySetup(folder, L"setup.exe");
  std::wstring exe = folder + L"\\setup.exe";
  std::string original = ReadBytesFrom(exe);
  ASSERT_TRUE(SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_READONLY));
  ToolRun readOnly = RunTool(folder, L"--in-place product.txt setup.exe");
  EXPECT_EQ(3u, readOnly.exitCode);
  EXPECT_TRUE(Contains(readOnly.errors, L"setup.exe: error: it is read-only")) << readOnly.errors;
  SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(original == ReadBytesFrom(exe)) << "the read-only exe was changed";
  EXPECT_EQ(std::vector<std::wstring>({L"product.txt", L"setup.exe"}), ListFiles(folder));

  ToolRun noFolder = RunTool(folder, L"--out absent\\new.exe product.txt setup.exe");
  EXPECT_EQ(3u, noFolder.exitCode);
  EXPECT_TRUE(Contains(noFolder.errors, L"absent: error: cannot create a temporary file in this folder"))
      << noFolder.errors;

  WriteBytesTo(folder + L"\\text.exe", "not a program");
  ToolRun notExe = RunTool(folder, L"--out new.exe product.txt text.exe");
  EXPECT_EQ(3u, notExe.exitCode);
  EXPECT_TRUE(Contains(notExe.errors, L"text.exe: error: cannot load it as a Windows program")) << notExe.errors;
  EXPECT_EQ(std::vector<std::wstring>({L"product.txt", L"setup.exe", L"text.exe"}), ListFiles(folder));
}

TEST(StampTool, PrintNeedsAConfiguration) {
  std::wstring folder = WorkFolder(L"print");
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\setupstamp.exe").c_str(), (folder + L"\\plain.exe").c_str(), FALSE));
  ToolRun plain = RunTool(folder, L"--print plain.exe");
  EXPECT_EQ(3u, plain.exitCode);
  EXPECT_EQ("", plain.output);
  EXPECT_TRUE(Contains(plain.errors, L"plain.exe: error: it carries no configuration (resource type 1600, "
                                     L"name 1601)")) << plain.errors;
  ToolRun usage = RunTool(folder, L"product.txt setup.exe");
  EXPECT_EQ(2u, usage.exitCode);
  EXPECT_TRUE(Contains(usage.errors, L"setupstamp: say where the result goes")) << usage.errors;
}

// Two well-known SHA-256 values: of "abc" and of nothing.
const wchar_t ABC_SHA256[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const wchar_t EMPTY_SHA256[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(StampTool, PinsComeFromTheInstallerFiles) {
  std::wstring folder = WorkFolder(L"pins");
  CopySetup(folder, L"setup.exe");
  WriteBytesTo(folder + L"\\v4.exe", "abc");
  WriteBytesTo(folder + L"\\v2.exe", "");
  std::wstring stale = std::wstring(PRODUCT) + L"app.sha256.v4=" + std::wstring(64, L'0') + L"\n";
  WriteBytesTo(folder + L"\\product.txt", Utf8(stale));
  ToolRun stamp = RunTool(folder, L"--pin app.sha256.v4=v4.exe --pin app.sha256.v2=v2.exe --out new.exe "
                                  L"product.txt setup.exe");
  EXPECT_EQ(0u, stamp.exitCode) << stamp.errors;
  EXPECT_TRUE(Contains(stamp.errors, L"product.txt:9: warning: \"app.sha256.v4\" was \"" + std::wstring(64, L'0') +
                                         L"\"; --pin sets it to \"" + ABC_SHA256 + L"\", the SHA-256 of v4.exe"))
      << stamp.errors;
  EXPECT_TRUE(Contains(stamp.errors, L"product.txt: read as UTF-8, 0 errors, 1 warning\n")) << stamp.errors;
  // The given line gets the new value where it stands; the missing key is added at the end.
  std::wstring pinned = ReplaceAll(PRODUCT, L"\n", L"\r\n") + L"app.sha256.v4=" + ABC_SHA256 +
                        L"\r\napp.sha256.v2=" + EMPTY_SHA256 + L"\r\n";
  EXPECT_EQ(Gbk(pinned), ResourceBytes(folder + L"\\new.exe"));
  EXPECT_EQ(Utf8(pinned), RunTool(folder, L"--print new.exe").output);

  // --check compares the text's pins with the files: the same digest in capitals passes.
  std::wstring capitals = ABC_SHA256;
  for (size_t i = 0; i < capitals.size(); ++i)
    if (capitals[i] >= L'a' && capitals[i] <= L'f') capitals[i] = capitals[i] - L'a' + L'A';
  WriteBytesTo(folder + L"\\current.txt", Utf8(std::wstring(PRODUCT) + L"app.sha256.v4=" + capitals +
                                                 L"\napp.sha256.v2=" + EMPTY_SHA256 + L"\n"));
  ToolRun check = RunTool(folder, L"--check --strict --pin app.sha256.v4=v4.exe current.txt");
  EXPECT_EQ(0u, check.exitCode) << check.errors;
  EXPECT_TRUE(Contains(check.errors, L"current.txt: read as UTF-8, 0 errors, 0 warnings")) << check.errors;
}

TEST(StampTool, PinMistakesStopWithNothingWritten) {
  std::wstring folder = WorkFolder(L"pin-errors");
  CopySetup(folder, L"setup.exe");
  WriteBytesTo(folder + L"\\v4.exe", "abc");
  WriteBytesTo(folder + L"\\product.txt", Utf8(PRODUCT));
  ToolRun missing = RunTool(folder, L"--pin app.sha256.v4=v4.exe --pin net2.sha256=absent.exe --out new.exe "
                                    L"product.txt setup.exe");
  EXPECT_EQ(3u, missing.exitCode);
  EXPECT_TRUE(Contains(missing.errors, L"absent.exe: error: cannot open it (error 2: the file does not exist)\n"
                                       L"new.exe: nothing written")) << missing.errors;

  ToolRun key = RunTool(folder, L"--pin app.sha256=v4.exe --out new.exe product.txt setup.exe");
  EXPECT_EQ(2u, key.exitCode);
  EXPECT_TRUE(Contains(key.errors, L"setupstamp: --pin takes app.sha256.v2, app.sha256.v4 or net2.sha256, not "
                                   L"\"app.sha256\"")) << key.errors;

  WriteBytesTo(folder + L"\\malformed.txt", Utf8(std::wstring(PRODUCT) + L"net2.sha256=\n"));
  ToolRun malformed = RunTool(folder, L"--in-place malformed.txt setup.exe");
  EXPECT_EQ(1u, malformed.exitCode);
  EXPECT_TRUE(Contains(malformed.errors, L"malformed.txt:9: error: pin \"net2.sha256\" has an empty value"))
      << malformed.errors;
  EXPECT_EQ(std::vector<std::wstring>({L"malformed.txt", L"product.txt", L"setup.exe", L"v4.exe"}),
            ListFiles(folder));
  EXPECT_TRUE(Contains(RunTool(folder, L"--print setup.exe").output, L"app.name=Brenvik 账簿\r\n"));
}

TEST(StampTool, ConfigurationsThatSetupAcceptsAreStamped) {
  std::wstring folder = WorkFolder(L"accepted");
  CopySetup(folder, L"setup.exe");
  // No runtime mirror, and a port with a leading zero.
  std::wstring text = ReplaceAll(ReplaceAll(PRODUCT, L"net2.url1=http://127.0.0.1/dotnet.exe\n", L""),
                                 L"127.0.0.1:3000", L"127.0.0.1:03000");
  WriteBytesTo(folder + L"\\product.txt", Utf8(text));
  ToolRun stamp = RunTool(folder, L"--out new.exe product.txt setup.exe");
  EXPECT_EQ(0u, stamp.exitCode) << stamp.errors;
  EXPECT_TRUE(Contains(stamp.errors, L"product.txt: warning: no runtime mirror (\"net2.url1\" is missing)"))
      << stamp.errors;
  EXPECT_TRUE(Contains(stamp.errors, L"product.txt:7: warning: the address in \"app.url\": its port \"03000\" has "
                                     L"leading zeros")) << stamp.errors;
  EXPECT_TRUE(Contains(stamp.errors, L"product.txt: read as UTF-8, 0 errors, 2 warnings\n")) << stamp.errors;
  EXPECT_EQ(Gbk(ReplaceAll(text, L"\n", L"\r\n")), ResourceBytes(folder + L"\\new.exe"));
  EXPECT_EQ(1u, RunTool(folder, L"--strict --check product.txt").exitCode) << "warnings still count for --strict";
}

TEST(StampTool, ReadsFilesThatAnEditorHoldsOpenForWriting) {
  std::wstring folder = WorkFolder(L"held");
  WriteBytesTo(folder + L"\\product.txt", Utf8(PRODUCT));
  // An editor's handle: it writes, and lets others read only.
  HANDLE editor = CreateFileW((folder + L"\\product.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, editor);
  ToolRun check = RunTool(folder, L"--pin app.sha256.v4=product.txt --check product.txt");
  CloseHandle(editor);
  EXPECT_EQ(0u, check.exitCode) << check.errors;
  EXPECT_TRUE(Contains(check.errors, L"product.txt: read as UTF-8, 0 errors, 1 warning")) << check.errors;
}

TEST(StampTool, StampedSetupShowsTheNewTexts) {
  std::wstring folder = WorkFolder(L"window");
  CopySetup(folder, L"setup.exe");
  // Long enough to grow the resource section by pages: the relocations behind it move.
  std::wstring padding = L"padding=" + std::wstring(9000, L'x') + L"\n";
  WriteBytesTo(folder + L"\\product.txt", Utf8(PRODUCT + padding));
  ToolRun stamp = RunTool(folder, L"--out stamped.exe product.txt setup.exe");
  ASSERT_EQ(0u, stamp.exitCode) << stamp.errors;
  std::string original = ReadBytesFrom(folder + L"\\setup.exe"), stamped = ReadBytesFrom(folder + L"\\stamped.exe");
  PeHeaders headers;
  ASSERT_TRUE(ReadPeHeaders(stamped, headers));
  const size_t imageSize = headers.optionalHeader + 56;
  EXPECT_GE(ReadLe32(stamped, imageSize), ReadLe32(original, imageSize) + 0x2000) << "the image grew in memory";

  E2eRun run;
  ASSERT_TRUE(PrepareRun(&run, L"stamped", folder + L"\\stamped.exe", L"", false));
  ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
  std::vector<ControlInfo> controls = ListControls(run.window);
  EXPECT_EQ(L"印章测试产品", ReadWindowText(run.window));
  // The button, then the status, percent, bar, title, summary and company controls.
  ASSERT_EQ(7u, controls.size());
  EXPECT_EQ(L"立即安装", controls[0].text);
  EXPECT_EQ(L"印章测试产品\n安装向导", controls[4].text);
  EXPECT_EQ(L"第一行说明\n第二行说明", controls[5].text);
  EXPECT_EQ(L"测试公司\nwww.example.test 电话：010-0000", controls[6].text);
  PostMessageW(run.window, WM_CLOSE, 0, 0);
  DWORD exitCode = 0xDEAD;
  EXPECT_TRUE(WaitForExit(run.program, E2E_EXIT_TIMEOUT_MS, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EndRun(&run);
}

}  // namespace
