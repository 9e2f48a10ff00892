// setup.exe started as a user would start it, its window driven from this program.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/config_table.h"
#include "e2e_support.h"

namespace {

// The seven controls in the order the window creates them.
enum ControlIndex { BUTTON, STATUS, PERCENT, PROGRESS, TITLE, SUMMARY, CORP, CONTROL_COUNT };

struct ExpectedRect {
  int x, y, width, height;
};

// The configuration this build embeds, read the way setup.exe reads it (code page 936).
const ConfigTable& EmbeddedConfig() {
  static ConfigTable table;
  const std::wstring text = DecodeGbk(ReadFileBytes(WindowsPathFromUnix(E2E_CONFIG_FILE)));
  EXPECT_EQ(CONFIG_PARSED, ParseConfigText(text.c_str(), static_cast<int>(text.size()), &table));
  return table;
}

std::wstring Value(const ConfigTable& table, const wchar_t* key) {
  std::vector<wchar_t> value(CONFIG_TEXT_MAX + 1);
  EXPECT_TRUE(CopyConfigValue(&table, key, value.data(), static_cast<int>(value.size())));
  return value.data();
}

std::wstring Expanded(const std::wstring& value) {
  std::vector<wchar_t> text(value.size() + 1);
  EXPECT_TRUE(ExpandConfigEscapes(value.c_str(), text.data(), static_cast<int>(text.size())));
  return text.data();
}

void ExpectRectIs(const ExpectedRect& expected, const RECT& actual, const char* what) {
  EXPECT_EQ(expected.x, actual.left) << what;
  EXPECT_EQ(expected.y, actual.top) << what;
  EXPECT_EQ(expected.width, actual.right - actual.left) << what;
  EXPECT_EQ(expected.height, actual.bottom - actual.top) << what;
}

class SetupWindowRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(PrepareRun(&run, L"setup", SetupExePath(), L"", false)); }
  void TearDown() override {
    EndRun(&run);
    ResetScreenDpi();
  }

  // Starts the copy and lists its seven controls.
  void Start(const std::wstring& arguments = L"") {
    ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, arguments)) << DescribeStart(run);
    controls = ListControls(run.window);
    ASSERT_EQ(static_cast<size_t>(CONTROL_COUNT), controls.size());
  }

  // Closes with Escape and returns the exit code.
  DWORD CloseWithEscape() {
    PostKeyUp(run.window, VK_ESCAPE);
    DWORD code = 0xDEAD;
    EXPECT_TRUE(WaitForExit(run.program, E2E_EXIT_TIMEOUT_MS, &code));
    return code;
  }

  void ExpectLayout(int dpi, const ExpectedRect (&expected)[CONTROL_COUNT], int width, int height);

  E2eRun run;
  std::vector<ControlInfo> controls;
};

void SetupWindowRun::ExpectLayout(int dpi, const ExpectedRect (&expected)[CONTROL_COUNT], int width,
                                  int height) {
  ASSERT_TRUE(SetScreenDpi(dpi));
  Start();
  RECT desktop = ScreenRect(GetDesktopWindow());
  RECT window = ScreenRect(run.window);
  ExpectRectIs({(desktop.right - width) / 2, (desktop.bottom - height) / 2, width, height}, window, "window");
  RECT client = {};
  GetClientRect(run.window, &client);
  EXPECT_EQ(width, client.right) << "no border or caption";
  EXPECT_EQ(height, client.bottom) << "no border or caption";

  const char* names[CONTROL_COUNT] = {"button", "status", "percent", "progress", "title", "summary", "corp"};
  for (int i = 0; i < CONTROL_COUNT; ++i) ExpectRectIs(expected[i], controls[i].rect, names[i]);

  const bool visible[CONTROL_COUNT] = {true, true, false, false, true, true, true};
  for (int i = 0; i < CONTROL_COUNT; ++i) EXPECT_EQ(visible[i], controls[i].visible) << names[i];

  const ConfigTable& config = EmbeddedConfig();
  ASSERT_FALSE(Value(config, L"app.name").empty());
  EXPECT_EQ(Value(config, L"app.name"), ReadWindowText(run.window));
  EXPECT_EQ(L"Button", controls[BUTTON].className);
  EXPECT_EQ(Value(config, L"button.text"), controls[BUTTON].text);
  EXPECT_EQ(L"", controls[STATUS].text);
  EXPECT_EQ(L"", controls[PERCENT].text);
  EXPECT_EQ(L"msctls_progress32", controls[PROGRESS].className);
  EXPECT_EQ(Value(config, L"app.name") + L"\n" + Value(config, L"setup.text"), controls[TITLE].text);
  EXPECT_EQ(Expanded(Value(config, L"summary")), controls[SUMMARY].text);
  EXPECT_NE(std::wstring::npos, controls[SUMMARY].text.find(L'\n')) << "the escape became a line break";
  EXPECT_EQ(Value(config, L"corp.name") + L"\n" + Value(config, L"corp.tel"), controls[CORP].text);
  for (int i = STATUS; i < CONTROL_COUNT; ++i) {
    if (i != PROGRESS) {
      EXPECT_EQ(L"Static", controls[i].className) << names[i];
    }
  }
  EXPECT_EQ(0u, CloseWithEscape());
}

TEST_F(SetupWindowRun, LayoutAt96Dpi) {
  const ExpectedRect expected[CONTROL_COUNT] = {
      {200, 160, 160, 40}, {32, 235, 496, 20}, {496, 235, 32, 20}, {32, 260, 496, 20},
      {32, 32, 336, 72},   {32, 110, 400, 32}, {32, 300, 496, 40}};
  ExpectLayout(96, expected, 560, 360);
}

TEST_F(SetupWindowRun, LayoutAt120Dpi) {
  const ExpectedRect expected[CONTROL_COUNT] = {
      {250, 200, 200, 50}, {40, 294, 620, 25},  {620, 294, 40, 25}, {40, 325, 620, 25},
      {40, 40, 420, 90},   {40, 137, 500, 40},  {40, 375, 620, 50}};
  ExpectLayout(120, expected, 700, 450);
}

// s(125) is 187 here, from 187.5: the scaled length is truncated, not rounded.
TEST_F(SetupWindowRun, LayoutAt144Dpi) {
  const ExpectedRect expected[CONTROL_COUNT] = {
      {300, 240, 240, 60}, {48, 353, 744, 30}, {744, 353, 48, 30}, {48, 390, 744, 30},
      {48, 48, 504, 108},  {48, 165, 600, 48}, {48, 450, 744, 60}};
  ExpectLayout(144, expected, 840, 540);
}

// The oldest system the program is made for; the folder name has blanks in it.
TEST(SetupWindowOnXp, StartsAndLaysOutAsElsewhere) {
  E2eRun run;
  ASSERT_TRUE(PrepareRun(&run, L"setupxp", SetupExePath(), L"winxp", true));
  ASSERT_NE(std::wstring::npos, run.folder.find(L' '));
  ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
  std::vector<ControlInfo> controls = ListControls(run.window);
  ASSERT_EQ(static_cast<size_t>(CONTROL_COUNT), controls.size());
  ExpectRectIs({200, 160, 160, 40}, controls[BUTTON].rect, "button");
  PostKeyUp(run.window, VK_ESCAPE);
  DWORD code = 0xDEAD;
  EXPECT_TRUE(WaitForExit(run.program, E2E_EXIT_TIMEOUT_MS, &code));
  EXPECT_EQ(0u, code);
  EXPECT_FALSE(RunLogOf(run).empty()) << "the log sits beside the exe, blanks and all";
  EndRun(&run);
}

TEST_F(SetupWindowRun, NormalRunLogsStartUpAndByeAndKeepsTheLog) {
  Start(L"/S --unknown \"C:\\x y\"");  // arguments have no effect
  EXPECT_EQ(0u, CloseWithEscape());
  const std::wstring log = RunLogOf(run);
  ASSERT_FALSE(log.empty()) << "the run log stays after a run that did not succeed";
  const std::vector<std::wstring> expected = {L"hello 快乐.", L"register class", L"init inst", L"msg loop",
                                              L"bye"};
  EXPECT_EQ(expected, ReadRunLogTexts(log));
  for (const std::wstring& line : ReadRunLogLines(log))
    EXPECT_NE(line, LogLineText(line)) << "every line starts with a date and time";
}

TEST_F(SetupWindowRun, EscapeClosesAtOnceWithoutQuestionOrLogLine) {
  Start();
  EXPECT_EQ(0u, CloseWithEscape());
  std::vector<std::wstring> texts = ReadRunLogTexts(RunLogOf(run));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(L"bye", texts.back());
  EXPECT_EQ(L"msg loop", texts[texts.size() - 2]);
}

TEST_F(SetupWindowRun, BackgroundDoubleClickBeforeAnyStartClosesWithoutQuestion) {
  Start();
  PostBackgroundDoubleClick(run.window);
  DWORD code = 0xDEAD;
  ASSERT_TRUE(WaitForExit(run.program, E2E_EXIT_TIMEOUT_MS, &code)) << "no question may hold it open";
  EXPECT_EQ(0u, code);
  std::vector<std::wstring> texts = ReadRunLogTexts(RunLogOf(run));
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(L"to be exit", texts[texts.size() - 2]);
  EXPECT_EQ(L"bye", texts.back());
}

// The worker's first act is to write its first step into the status line.
TEST_F(SetupWindowRun, StartButtonStartsTheWorker) {
  Start();
  PostClick(controls[BUTTON].handle);
  EXPECT_TRUE(WaitUntil([&] { return !ReadWindowText(controls[STATUS].handle).empty(); },
                        E2E_START_TIMEOUT_MS));
}

TEST_F(SetupWindowRun, EnterStartsTheWorker) {
  Start();
  PostKeyUp(run.window, VK_RETURN);
  EXPECT_TRUE(WaitUntil([&] { return !ReadWindowText(controls[STATUS].handle).empty(); },
                        E2E_START_TIMEOUT_MS));
}

// Commands that are not a click of the start button: from another control, or
// another notification from the button. Nothing may start; the wait is bounded.
TEST_F(SetupWindowRun, CommandsFromElsewhereStartNothing) {
  Start();
  PostCommand(run.window, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(controls[TITLE].handle));
  PostCommand(run.window, MAKEWPARAM(0, BN_CLICKED), 0);
  PostCommand(run.window, MAKEWPARAM(0, BN_DOUBLECLICKED), reinterpret_cast<LPARAM>(controls[BUTTON].handle));
  PostCommand(run.window, MAKEWPARAM(0, BN_SETFOCUS), reinterpret_cast<LPARAM>(controls[BUTTON].handle));
  PostKeyUp(run.window, VK_SPACE);
  EXPECT_FALSE(WaitUntil([&] { return !ReadWindowText(controls[STATUS].handle).empty(); }, 1000));
  EXPECT_TRUE(IsWindowVisible(controls[BUTTON].handle));
  EXPECT_EQ(0u, CloseWithEscape());
}

// Without its configuration the program still starts, with empty texts.
TEST(SetupWithoutConfig, StartsWithEmptyTexts) {
  E2eRun run;
  ASSERT_TRUE(PrepareRun(&run, L"bare", SetupWithoutConfigExePath(), L"", false));
  ASSERT_TRUE(StartRun(&run, SETUP_WINDOW_CLASS, L"")) << DescribeStart(run);
  std::vector<ControlInfo> controls = ListControls(run.window);
  ASSERT_EQ(static_cast<size_t>(CONTROL_COUNT), controls.size());
  EXPECT_EQ(L"", ReadWindowText(run.window));
  EXPECT_EQ(L"", controls[BUTTON].text);
  EXPECT_EQ(L"\n", controls[TITLE].text);
  EXPECT_EQ(L"", controls[SUMMARY].text);
  EXPECT_EQ(L"\n", controls[CORP].text);
  PostKeyUp(run.window, VK_ESCAPE);
  DWORD code = 0xDEAD;
  EXPECT_TRUE(WaitForExit(run.program, E2E_EXIT_TIMEOUT_MS, &code));
  EXPECT_EQ(0u, code);
  const std::vector<std::wstring> expected = {L"hello 快乐.", L"register class", L"init inst", L"msg loop",
                                              L"bye"};
  EXPECT_EQ(expected, ReadRunLogTexts(RunLogOf(run)));
  EndRun(&run);
}

}  // namespace
