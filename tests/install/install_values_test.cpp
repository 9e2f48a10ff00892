#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "config/config_table.h"
#include "http/url.h"
#include "install/connection_count.h"
#include "install/install_worker.h"
#include "install/installer_command.h"
#include "install/mirror_list.h"
#include "install/product_step.h"
#include "install/runtime_step.h"
#include "shell/user_texts.h"

namespace {

// A GetVersion result: build number in the high word, minor and major below.
DWORD Version(unsigned major, unsigned minor, unsigned build = 0) {
  return (build << 16) | (minor << 8) | major;
}

TEST(VersionTag, ChosenFromMajorAndMinorIgnoringTheBuild) {
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(5, 1, 2600)));
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(5, 2, 3790)));
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(6, 0, 6002)));
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(6, 1, 7601)));
  EXPECT_STREQ(L"v4", ChooseVersionTag(Version(6, 2, 9200)));
  EXPECT_STREQ(L"v4", ChooseVersionTag(Version(6, 3, 9600)));
  // A minor number of 2 or more is required from major 6 on, so 10.0 gives v2.
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(10, 0, 19045)));
  EXPECT_STREQ(L"v4", ChooseVersionTag(Version(10, 2)));
  // Minor numbers do not count below major 6.
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(5, 9)));
  // A build number whose low bits look like a version changes nothing.
  EXPECT_STREQ(L"v2", ChooseVersionTag(Version(6, 1, 0x0206)));
}

TEST(VersionTag, RuntimeCheckOnlyBeforeMajorSix) {
  EXPECT_TRUE(NeedsRuntimeCheck(Version(5, 1, 2600)));
  EXPECT_TRUE(NeedsRuntimeCheck(Version(4, 10)));
  EXPECT_FALSE(NeedsRuntimeCheck(Version(6, 0)));
  EXPECT_FALSE(NeedsRuntimeCheck(Version(10, 0)));
  EXPECT_FALSE(NeedsRuntimeCheck(Version(6, 1, 0x0005)));
}

std::wstring Url(const std::wstring& urlTemplate, const WCHAR* tag) {
  WCHAR url[URL_BUFFER_SIZE];
  EXPECT_TRUE(ProductInstallerUrl(urlTemplate.c_str(), tag, url));
  return url;
}

TEST(ProductAddress, EveryPlaceholderTakesTheTag) {
  EXPECT_EQ(L"http://h:3000/v4v4/brenvik-setupv4.exe",
            Url(L"http://h:3000/vvvv/brenvik-setupvv.exe", L"v4"));
  EXPECT_EQ(L"http://h/v2/a-v2.exe", Url(L"http://h/vv/a-vv.exe", L"v2"));
  // Left to right without overlap: "vvv" holds one placeholder and a "v".
  EXPECT_EQ(L"http://h/v4v", Url(L"http://h/vvv", L"v4"));
  EXPECT_EQ(L"http://h/plain.exe", Url(L"http://h/plain.exe", L"v4"));
  EXPECT_EQ(L"", Url(L"", L"v2"));
}

TEST(ProductAddress, AnAddressLongerThanTheClientTakesIsRefusedNotCut) {
  // The longest address the download client can take fills the buffer.
  const std::wstring longest = L"http://h/vv" + std::wstring(URL_BUFFER_SIZE - 1 - 11, L'p');
  EXPECT_EQ(static_cast<size_t>(URL_BUFFER_SIZE - 1), Url(longest, L"v4").size());
  WCHAR url[URL_BUFFER_SIZE];
  EXPECT_FALSE(ProductInstallerUrl((longest + L"p").c_str(), L"v4", url));
  EXPECT_STREQ(L"", url);
}

TEST(ProductAddress, FileNameCarriesTheTag) {
  WCHAR name[MAX_PATH];
  ProductInstallerFileName(L"v2", name);
  EXPECT_STREQ(L"brenvik-setupv2.exe", name);
  ProductInstallerFileName(L"v4", name);
  EXPECT_STREQ(L"brenvik-setupv4.exe", name);
}

TEST(InstallerPath, FolderIsTakenUnchanged) {
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(JoinInstallerPath(L"C:\\vv dir\\setup vv", L"brenvik-setupv4.exe", path));
  EXPECT_STREQ(L"C:\\vv dir\\setup vv\\brenvik-setupv4.exe", path);
  ASSERT_TRUE(JoinInstallerPath(L"C:\\", L"brenvik-setup-dotnetv2.exe", path));
  EXPECT_STREQ(L"C:\\brenvik-setup-dotnetv2.exe", path);
}

TEST(InstallerPath, RefusedRatherThanCutWhenTooLong) {
  const std::wstring name = L"brenvik-setupv2.exe";  // 19 characters
  WCHAR path[MAX_PATH];
  // Folder + backslash + name = 259 characters: fits with the terminator.
  std::wstring folder = L"C:\\" + std::wstring(259 - 1 - name.size() - 3, L'a');
  ASSERT_TRUE(JoinInstallerPath(folder.c_str(), name.c_str(), path));
  EXPECT_EQ(259, lstrlenW(path));
  EXPECT_EQ(folder + L"\\" + name, std::wstring(path));

  folder += L"a";
  lstrcpyW(path, L"stale");
  EXPECT_FALSE(JoinInstallerPath(folder.c_str(), name.c_str(), path));
  EXPECT_STREQ(L"", path);
}

// A cut module path names another folder: no folder at all, and no installer
// path can be formed from that (a bare name would land in the current directory).
TEST(InstallFolder, ModulePathThatWasCutGivesNoFolder) {
  WCHAR path[MAX_PATH];
  std::wstring longest = L"C:\\" + std::wstring(MAX_PATH - 1 - 3 - 6, L'd') + L"\\s.exe";
  ASSERT_EQ(static_cast<size_t>(MAX_PATH - 1), longest.size());
  lstrcpyW(path, longest.c_str());
  ASSERT_TRUE(InstallFolderFromModulePath(path, MAX_PATH - 1));
  EXPECT_EQ(longest.substr(0, longest.size() - 6), std::wstring(path));

  // What GetModuleFileNameW leaves when the path is one unit longer: the
  // buffer full, the length equal to its size.
  for (int i = 0; i < MAX_PATH; ++i) path[i] = L'x';
  EXPECT_FALSE(InstallFolderFromModulePath(path, MAX_PATH));
  EXPECT_STREQ(L"", path);
  EXPECT_FALSE(InstallFolderFromModulePath(path, 0)) << "not read at all";

  WCHAR installer[MAX_PATH];
  EXPECT_FALSE(JoinInstallerPath(path, L"brenvik-setupv2.exe", installer));
  EXPECT_STREQ(L"", installer);
}

TEST(InstallerCommandLine, QuotedOnlyWhenThePathHasASpace) {
  WCHAR line[MAX_PATH];
  ASSERT_TRUE(BuildInstallerCommandLine(L"C:\\setup\\brenvik-setupv4.exe", L"", line));
  EXPECT_STREQ(L"C:\\setup\\brenvik-setupv4.exe", line);
  ASSERT_TRUE(BuildInstallerCommandLine(L"C:\\my setup\\brenvik-setupv4.exe", L"", line));
  EXPECT_STREQ(L"\"C:\\my setup\\brenvik-setupv4.exe\"", line);
  ASSERT_TRUE(BuildInstallerCommandLine(L"C:\\my setup\\brenvik-setup-dotnetv2.exe", RUNTIME_ARGUMENTS, line));
  EXPECT_STREQ(L"\"C:\\my setup\\brenvik-setup-dotnetv2.exe\" /q /noretart", line);
  ASSERT_TRUE(BuildInstallerCommandLine(L"C:\\s\\brenvik-setup-dotnetv2.exe", RUNTIME_ARGUMENTS, line));
  EXPECT_STREQ(L"C:\\s\\brenvik-setup-dotnetv2.exe /q /noretart", line);
}

TEST(InstallerCommandLine, RefusedRatherThanCutWhenTooLong) {
  WCHAR line[MAX_PATH];
  const std::wstring arguments = RUNTIME_ARGUMENTS;
  // Unquoted: path + arguments = 259 characters fits.
  std::wstring path = L"C:\\" + std::wstring(259 - arguments.size() - 3, L'a');
  ASSERT_TRUE(BuildInstallerCommandLine(path.c_str(), arguments.c_str(), line));
  EXPECT_EQ(path + arguments, std::wstring(line));
  path += L"a";
  EXPECT_FALSE(BuildInstallerCommandLine(path.c_str(), arguments.c_str(), line));
  EXPECT_STREQ(L"", line);

  // The quotes count, and the platform's quoting wants one unit spare: a
  // 256-character path with a space fits, 257 does not.
  std::wstring spaced = L"C:\\a b\\" + std::wstring(256 - 7, L'x');
  ASSERT_TRUE(BuildInstallerCommandLine(spaced.c_str(), L"", line));
  EXPECT_EQ(L"\"" + spaced + L"\"", std::wstring(line));
  spaced += L"x";
  EXPECT_FALSE(BuildInstallerCommandLine(spaced.c_str(), L"", line));
  EXPECT_STREQ(L"", line);
}

// Both lists number their keys alike; the product's first key is the bare "app.url".
TEST(MirrorKeys, NumbersInPlainDecimalBothWays) {
  const struct {
    const MirrorList* list;
    int number;
    const wchar_t* key;
  } rows[] = {
      {&RUNTIME_MIRRORS, 1, L"net2.url1"},         {&RUNTIME_MIRRORS, 10, L"net2.url10"},
      {&RUNTIME_MIRRORS, 999999, L"net2.url999999"}, {&PRODUCT_MIRRORS, 1, L"app.url"},
      {&PRODUCT_MIRRORS, 2, L"app.url2"},          {&PRODUCT_MIRRORS, 123, L"app.url123"},
  };
  for (const auto& row : rows) {
    WCHAR key[MIRROR_KEY_SIZE];
    MirrorKey(*row.list, row.number, key);
    EXPECT_STREQ(row.key, key);
    EXPECT_EQ(row.number, MirrorNumber(*row.list, row.key)) << testing::PrintToString(std::wstring(row.key));
  }
  // The largest number a caller can pass still fits whole.
  WCHAR key[MIRROR_KEY_SIZE];
  MirrorKey(RUNTIME_MIRRORS, 2147483647, key);
  EXPECT_STREQ(L"net2.url2147483647", key);
  // Keys of no mirror: a leading zero, six digits and one more, no number where
  // one is needed, "app.url1", another list's key, a longer or shorter name.
  const wchar_t* const none[] = {L"net2.url0", L"net2.url01", L"net2.url1000000", L"net2.url", L"net2.url1a",
                                 L"net2.url-1", L"app.url1", L"app.url02", L"app.urlv", L"net2.ur",
                                 L"app.url2 ", L"net4.url1", L""};
  for (const wchar_t* key : none) {
    EXPECT_EQ(0, MirrorNumber(RUNTIME_MIRRORS, key)) << testing::PrintToString(std::wstring(key));
    EXPECT_EQ(0, MirrorNumber(PRODUCT_MIRRORS, key)) << testing::PrintToString(std::wstring(key));
  }
}

// The list runs from 1 to the first number whose key is missing or empty.
TEST(MirrorKeys, CountEndsAtTheFirstMissingOrEmptyNumber) {
  const struct {
    const wchar_t* text;
    int runtime, product;
  } rows[] = {
      {L"", 0, 0},
      {L"app.url=a\nnet2.url1=a\n", 1, 1},
      {L"app.url=a\napp.url2=b\napp.url3=c\n", 0, 3},
      {L"app.url=a\napp.url3=c\nnet2.url2=b\n", 0, 1},               // a gap: 2 is missing
      {L"app.url=a\napp.url2=\napp.url3=c\n", 0, 1},                 // an empty value ends it too
      {L"app.url=a\napp.url02=b\napp.url1=b\n", 0, 1},               // neither is the second key
      {L"app.url=\napp.url2=b\nnet2.url1=a\nnet2.url2=b\n", 2, 0},  // no first address, no list
      {L"app.url2=b\n", 0, 0},
  };
  static ConfigTable table;
  for (const auto& row : rows) {
    std::wstring text = row.text;
    ASSERT_EQ(CONFIG_PARSED, ParseConfigText(text.c_str(), static_cast<int>(text.size()), &table));
    EXPECT_EQ(row.runtime, CountMirrors(&table, RUNTIME_MIRRORS)) << testing::PrintToString(text);
    EXPECT_EQ(row.product, CountMirrors(&table, PRODUCT_MIRRORS)) << testing::PrintToString(text);
  }
}

TEST(ConnectionSetting, OneToEightInPlainDecimalElseOne) {
  const struct {
    bool present;
    const wchar_t* value;
    SettingRead setting;
    int connections;
  } rows[] = {
      {false, L"", SETTING_ABSENT, 1},     {true, L"1", SETTING_VALID, 1},
      {true, L"8", SETTING_VALID, 8},      {true, L"4", SETTING_VALID, 4},
      {true, L"9", SETTING_MALFORMED, 1},  {true, L"0", SETTING_MALFORMED, 1},
      {true, L"", SETTING_MALFORMED, 1},   {true, L"04", SETTING_MALFORMED, 1},
      {true, L"10", SETTING_MALFORMED, 1}, {true, L" 4", SETTING_MALFORMED, 1},
      {true, L"4 ", SETTING_MALFORMED, 1}, {true, L"+4", SETTING_MALFORMED, 1},
      {true, L"four", SETTING_MALFORMED, 1},
  };
  for (const auto& row : rows) {
    int connections = -1;
    EXPECT_EQ(row.setting, ReadConnectionSetting(row.present, row.value, &connections))
        << testing::PrintToString(std::wstring(row.value));
    EXPECT_EQ(row.connections, connections) << testing::PrintToString(std::wstring(row.value));
  }
}

TEST(RuntimeFailure, BothCodesAsSignedDecimals) {
  WCHAR text[RUNTIME_FAILURE_TEXT_SIZE];
  FormatRuntimeInstallFailure(1603, 0, text);
  EXPECT_STREQ(L"运行环境安装失败。(1603:0)", text);
  // An unreadable exit code stays at its preset: all bits set.
  FormatRuntimeInstallFailure(0xFFFFFFFFu, 6, text);
  EXPECT_STREQ(L"运行环境安装失败。(-1:6)", text);
  FormatRuntimeInstallFailure(0xC0000005u, 183, text);
  EXPECT_STREQ(L"运行环境安装失败。(-1073741819:183)", text);
}

TEST(Outcome, CombinesTheStepResults) {
  EXPECT_EQ(INSTALL_SUCCEEDED, CombineOutcome(RUNTIME_READY, true));
  EXPECT_EQ(INSTALL_PRODUCT_FAILED, CombineOutcome(RUNTIME_READY, false));
  EXPECT_EQ(INSTALL_RESTART_NOW, CombineOutcome(RUNTIME_RESTART_NOW, false));
  EXPECT_EQ(INSTALL_RESTART_DECLINED, CombineOutcome(RUNTIME_RESTART_DECLINED, false));
  EXPECT_EQ(INSTALL_PREREQUISITE_FAILED, CombineOutcome(RUNTIME_DOWNLOAD_FAILED, false));
  EXPECT_EQ(INSTALL_PREREQUISITE_FAILED, CombineOutcome(RUNTIME_INSTALL_FAILED, false));
  // Any other prerequisite value is a failure, whatever the product flag says.
  EXPECT_EQ(INSTALL_PREREQUISITE_FAILED, CombineOutcome(static_cast<PrerequisiteResult>(7), true));
  EXPECT_EQ(INSTALL_PREREQUISITE_FAILED, CombineOutcome(static_cast<PrerequisiteResult>(-3), true));
  EXPECT_EQ(INSTALL_RESTART_NOW, CombineOutcome(RUNTIME_RESTART_NOW, true));
}

TEST(Outcome, ProductStepOnlyAfterARuntimeReady) {
  EXPECT_TRUE(ShouldRunProductStep(RUNTIME_READY));
  EXPECT_FALSE(ShouldRunProductStep(RUNTIME_DOWNLOAD_FAILED));
  EXPECT_FALSE(ShouldRunProductStep(RUNTIME_INSTALL_FAILED));
  EXPECT_FALSE(ShouldRunProductStep(RUNTIME_RESTART_NOW));
  EXPECT_FALSE(ShouldRunProductStep(RUNTIME_RESTART_DECLINED));
}

TEST(Outcome, StatusTexts) {
  EXPECT_STREQ(L"安装成功。", InstallMessageText(OutcomeMessage(INSTALL_SUCCEEDED)));
  EXPECT_STREQ(L"安装需要重启电脑。", InstallMessageText(OutcomeMessage(INSTALL_RESTART_NOW)));
  EXPECT_STREQ(L"安装需要重启电脑。", InstallMessageText(OutcomeMessage(INSTALL_RESTART_DECLINED)));
  EXPECT_STREQ(L"安装失败。", InstallMessageText(OutcomeMessage(INSTALL_PREREQUISITE_FAILED)));
  EXPECT_STREQ(L"安装失败。", InstallMessageText(OutcomeMessage(INSTALL_PRODUCT_FAILED)));
}

}  // namespace
