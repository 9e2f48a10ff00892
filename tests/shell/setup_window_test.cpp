// The real installer window, created in this test process, with the progress
// operations called from a second thread while this one runs the messages.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/setup_config.h"
#include "e2e_support.h"
#include "install/install_state.h"
#include "log/run_log.h"
#include "shell/progress_display.h"
#include "shell/setup_window.h"
#include "shell/user_texts.h"
#include "test_files.h"

namespace {

const DWORD WAIT_LIMIT_MS = 10000;

// Messages that reach the progress controls, counted by subclassing them.
int SetPosCount;
int PercentTextCount;
int StatusTextCount;
WNDPROC ProgressBarProc;
WNDPROC PercentLabelProc;
WNDPROC StatusLabelProc;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window == ProgressBar) {
    if (message == PBM_SETPOS) ++SetPosCount;
    return CallWindowProcW(ProgressBarProc, window, message, wParam, lParam);
  }
  if (window == PercentLabel) {
    if (message == WM_SETTEXT) ++PercentTextCount;
    return CallWindowProcW(PercentLabelProc, window, message, wParam, lParam);
  }
  if (message == WM_SETTEXT) ++StatusTextCount;
  return CallWindowProcW(StatusLabelProc, window, message, wParam, lParam);
}

WNDPROC Subclass(HWND control) {
  return reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc)));
}

// Handles this thread's messages until `thread` ends (bounded). True when it ended.
bool PumpUntilEnded(HANDLE thread) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < WAIT_LIMIT_MS) {
    DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return true;
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return false;
}

typedef void (*Action)();

DWORD WINAPI RunAction(LPVOID action) {
  reinterpret_cast<Action>(action)();
  return 0;
}

// Runs the action on another thread, as the worker and download threads do,
// while this thread serves the window.
void OnWorkerThread(Action action) {
  HANDLE thread = CreateThread(NULL, 0, RunAction, reinterpret_cast<LPVOID>(action), 0, NULL);
  ASSERT_NE(nullptr, thread);
  EXPECT_TRUE(PumpUntilEnded(thread));
  CloseHandle(thread);
}

std::wstring TextOf(HWND window) {
  WCHAR text[2 * WINDOW_TEXT_SIZE] = L"";
  GetWindowTextW(window, text, 2 * WINDOW_TEXT_SIZE);
  return text;
}

const wchar_t STANDARD_CONFIG[] =
    L"app.name=测试产品\n"
    L"setup.text=安装程序\n"
    L"button.text=开始安装\n"
    L"summary=第一行\\n第二行 C:\\\\x\n"
    L"corp.name=某公司\n"
    L"corp.tel=电话 123\n";

int BarPosition() {
  return static_cast<int>(SendMessageW(ProgressBar, PBM_GETPOS, 0, 0));
}

// A thread that stands for a running install worker until released.
HANDLE ReleaseWorker;

DWORD WINAPI BlockedWorker(LPVOID) {
  WaitForSingleObject(ReleaseWorker, WAIT_LIMIT_MS);
  return 0;
}

// Answers the next message box owned by the window, on a thread of its own
// while this one sits in the box's modal loop.
struct BoxAnswer {
  int button;
  std::wstring text;
  std::wstring caption;
  bool answered;
};

DWORD WINAPI AnswerBox(LPVOID parameter) {
  BoxAnswer* answer = static_cast<BoxAnswer*>(parameter);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < WAIT_LIMIT_MS) {
    HWND box = FindWindowW(L"#32770", NULL);
    if (box != NULL && GetWindow(box, GW_OWNER) == MainWindow && IsWindowVisible(box)) {
      WCHAR text[256] = L"";
      SendDlgItemMessageW(box, 0xFFFF, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
      answer->text = text;
      WCHAR caption[256] = L"";
      GetWindowTextW(box, caption, 256);
      answer->caption = caption;
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer->button, BN_CLICKED), 0);
      answer->answered = true;
      return 0;
    }
    Sleep(20);
  }
  return 0;
}

class SetupWindowTest : public ::testing::Test {
 protected:
  // The configuration the window is created with.
  virtual std::wstring ConfigText() { return STANDARD_CONFIG; }

  void SetUp() override {
    // Read when Wine's display driver loads, with this process's first window:
    // without a window manager, destroying a managed window waits 2 s for one.
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    ASSERT_TRUE(SetUnmanagedWindowsFor(PathFindFileNameW(self)));

    const std::wstring config = ConfigText();
    ASSERT_EQ(CONFIG_PARSED,
              ParseConfigText(config.c_str(), static_cast<int>(config.size()), &SetupConfig));
    LastProgress = -2;
    WindowClosing = false;
    WorkerThread = NULL;
    WorkerClosingWindow = false;
    ReleaseWorker = CreateEventW(NULL, TRUE, FALSE, NULL);

    ASSERT_TRUE(SetLogLocale());
    WCHAR folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    wsprintfW(RunLogPath, L"%swindowtest-%lu.log", folder, GetCurrentProcessId());
    ASSERT_NE(nullptr, OpenRunLogFile());

    HINSTANCE instance = GetModuleHandleW(NULL);
    RegisterWindowClass(instance);
    ASSERT_TRUE(CreateSetupWindow(instance, SW_SHOWNORMAL));
    SetPosCount = PercentTextCount = StatusTextCount = 0;
    ProgressBarProc = Subclass(ProgressBar);
    PercentLabelProc = Subclass(PercentLabel);
    StatusLabelProc = Subclass(StatusLabel);
  }

  void TearDown() override {
    if (IsWindow(MainWindow)) DestroyWindow(MainWindow);
    SetEvent(ReleaseWorker);
    if (ExitingWorker != NULL) WaitForExitingWorker(WAIT_LIMIT_MS);
    CloseHandle(ReleaseWorker);
    for (HANDLE handle : ownHandles) CloseHandle(handle);
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    DeleteRunLog();
  }

  std::vector<std::string> LogTexts() { return RunLogTexts(RunLogPath); }

  // Stores the new thread in WorkerThread, as StartWorker does; `copy` gets a
  // handle of the test's own that outlives the window's.
  HANDLE StartBlockedWorker(HANDLE* copy = NULL) {
    HANDLE thread = CreateThread(NULL, 0, BlockedWorker, NULL, 0, NULL);
    WorkerThread = thread;
    if (copy != NULL) {
      DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
      ownHandles.push_back(*copy);
    }
    return thread;
  }

  std::vector<HANDLE> ownHandles;

  // A double-click on the background while another thread answers any question.
  LRESULT DoubleClickAnswering(BoxAnswer* answer) {
    HANDLE answering = CreateThread(NULL, 0, AnswerBox, answer, 0, NULL);
    LRESULT result = SendMessageW(MainWindow, WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    if (!answer->answered) TerminateThread(answering, 0);  // no box came: nothing to answer
    WaitForSingleObject(answering, WAIT_LIMIT_MS);
    CloseHandle(answering);
    return result;
  }
};

TEST_F(SetupWindowTest, ControlsCarryTheConfiguredTextsAndStyles) {
  EXPECT_EQ(L"测试产品", TextOf(MainWindow));
  EXPECT_EQ(L"开始安装", TextOf(StartButton));
  EXPECT_EQ(L"测试产品\n安装程序", TextOf(TitleLabel));
  EXPECT_EQ(L"第一行\n第二行 C:\\x", TextOf(SummaryLabel));
  EXPECT_EQ(L"某公司\n电话 123", TextOf(CorpLabel));
  EXPECT_EQ(L"", TextOf(StatusLabel));
  EXPECT_EQ(L"", TextOf(PercentLabel));

  EXPECT_EQ(0, GetWindowLongW(MainWindow, GWL_STYLE) & WS_CAPTION);
  EXPECT_EQ(0x000B, static_cast<int>(GetClassLongW(MainWindow, GCL_STYLE)));
  EXPECT_EQ(0x50010001, GetWindowLongW(StartButton, GWL_STYLE));
  EXPECT_EQ(0x40000002, GetWindowLongW(PercentLabel, GWL_STYLE));
  EXPECT_EQ(0x40000000, GetWindowLongW(ProgressBar, GWL_STYLE));
  EXPECT_EQ(0x50000002, GetWindowLongW(CorpLabel, GWL_STYLE));
  EXPECT_TRUE(IsWindowVisible(StatusLabel));
  EXPECT_FALSE(IsWindowVisible(ProgressBar));
  EXPECT_FALSE(IsWindowVisible(PercentLabel));

  RECT window, client;
  GetWindowRect(MainWindow, &window);
  GetClientRect(MainWindow, &client);
  EXPECT_EQ(ScaleDpi(560), window.right - window.left);
  EXPECT_EQ(ScaleDpi(360), window.bottom - window.top);
  EXPECT_EQ(ScaleDpi(560), client.right) << "the client area is the whole window";
}

// Texts at the window's limit: the longest that fits is shown whole, one
// character more is shown as nothing and logged, never cut.
class SetupWindowLongTextTest : public SetupWindowTest {
 protected:
  static std::wstring Text(int length, wchar_t c) { return std::wstring(static_cast<size_t>(length), c); }

  std::wstring ConfigText() override {
    const int longest = WINDOW_TEXT_SIZE - 1;
    return L"button.text=" + Text(longest, L'b') + L"\n" +
           L"summary=" + Text(longest + 1, L's') + L"\n" +
           // Two values and the line break between them, exactly at the limit.
           L"corp.name=" + Text(500, L'c') + L"\n" +
           L"corp.tel=" + Text(longest - 500 - 1, L't') + L"\n" +
           // Each fits alone; together they do not.
           L"app.name=" + Text(600, L'a') + L"\n" +
           L"setup.text=" + Text(longest - 600, L'x') + L"\n";
  }
};

TEST_F(SetupWindowLongTextTest, LongestTextsShowWholeAndLongerOnesNotAtAll) {
  EXPECT_EQ(Text(WINDOW_TEXT_SIZE - 1, L'b'), TextOf(StartButton));
  EXPECT_EQ(Text(500, L'c') + L"\n" + Text(WINDOW_TEXT_SIZE - 502, L't'), TextOf(CorpLabel));
  EXPECT_EQ(L"", TextOf(SummaryLabel));
  EXPECT_EQ(L"", TextOf(TitleLabel));
  EXPECT_EQ(Text(600, L'a'), TextOf(MainWindow)) << "the name alone fits the window title";

  std::vector<std::string> log = LogTexts();
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(),
                                 "configuration value too long: summary (1024 characters, at most 1023)"));
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "window text too long: app.name and setup.text"));
}

TEST_F(SetupWindowTest, FontsHaveTheirHeightsFacesAndOwners) {
  struct {
    HFONT font;
    int height;
    const WCHAR* face;
  } fonts[] = {{TitleFont, ScaleDpi(32), HeadingFace}, {ButtonFont, ScaleDpi(24), HeadingFace},
               {TextFont, ScaleDpi(16), BodyFace}};
  for (auto& expected : fonts) {
    LOGFONTW font = {};
    ASSERT_EQ(static_cast<int>(sizeof font), GetObjectW(expected.font, sizeof font, &font));
    EXPECT_EQ(expected.height, font.lfHeight);
    EXPECT_STREQ(expected.face, font.lfFaceName);
    EXPECT_EQ(DEFAULT_CHARSET, font.lfCharSet);
    EXPECT_EQ(OUT_OUTLINE_PRECIS, font.lfOutPrecision);
    EXPECT_EQ(CLEARTYPE_QUALITY, font.lfQuality);
    EXPECT_EQ(FW_DONTCARE, font.lfWeight);
  }
  // The test prefix maps "微软雅黑" to an installed font, so it is enumerated.
  EXPECT_STRNE(L"", HeadingFace);
  EXPECT_STRNE(L"", BodyFace);

  HDC screen = GetDC(NULL);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(NULL, screen);
  EXPECT_EQ(32 * dpi / 96, ScaleDpi(32)) << "the factor comes from the screen";

  auto fontOf = [](HWND control) { return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)); };
  EXPECT_EQ(TitleFont, fontOf(TitleLabel));
  EXPECT_EQ(ButtonFont, fontOf(StartButton));
  EXPECT_EQ(TextFont, fontOf(StatusLabel));
  EXPECT_EQ(TextFont, fontOf(PercentLabel));
  EXPECT_EQ(TextFont, fontOf(SummaryLabel));
  EXPECT_EQ(TextFont, fontOf(CorpLabel));
}

TEST_F(SetupWindowTest, StaticControlsGetTheirColours) {
  HDC dc = CreateCompatibleDC(NULL);
  auto colourFor = [&](HWND control, LRESULT* brush) {
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkColor(dc, RGB(4, 5, 6));
    *brush = SendMessageW(MainWindow, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(control));
    return GetTextColor(dc);
  };
  LRESULT brush = 0;
  EXPECT_EQ(RGB(153, 153, 153), colourFor(SummaryLabel, &brush));
  EXPECT_EQ(reinterpret_cast<LRESULT>(BackgroundBrush), brush);
  EXPECT_EQ(RGB(45, 45, 48), GetBkColor(dc));
  EXPECT_EQ(RGB(153, 153, 153), colourFor(CorpLabel, &brush));
  EXPECT_EQ(RGB(255, 255, 255), colourFor(TitleLabel, &brush));
  EXPECT_EQ(RGB(255, 255, 255), colourFor(StatusLabel, &brush));
  EXPECT_EQ(RGB(255, 255, 255), colourFor(PercentLabel, &brush));
  EXPECT_EQ(RGB(45, 45, 48), GetBkColor(dc));
  DeleteDC(dc);

  LOGBRUSH background = {};
  GetObjectW(BackgroundBrush, sizeof background, &background);
  EXPECT_EQ(RGB(45, 45, 48), background.lbColor);
}

TEST_F(SetupWindowTest, BackgroundCountsAsCaptionForDragging) {
  RECT window;
  GetWindowRect(MainWindow, &window);
  // Left of the summary, above the button: no control there.
  LPARAM point = MAKELPARAM(window.left + 5, window.top + ScaleDpi(150));
  EXPECT_EQ(HTCAPTION, SendMessageW(MainWindow, WM_NCHITTEST, 0, point));
}

// The first -1 takes effect although the controls are hidden already.
TEST_F(SetupWindowTest, FirstHiddenProgressTakesEffectAndRepeatsSendNothing) {
  ASSERT_EQ(-2, LastProgress);
  OnWorkerThread([] { SetProgress(-1); });
  EXPECT_EQ(-1, LastProgress);
  EXPECT_EQ(1, SetPosCount);
  EXPECT_EQ(1, PercentTextCount);
  EXPECT_EQ(L"-1%", TextOf(PercentLabel));
  EXPECT_FALSE(IsWindowVisible(ProgressBar));
  EXPECT_FALSE(IsWindowVisible(PercentLabel));

  OnWorkerThread([] { SetProgress(-1); });
  EXPECT_EQ(1, SetPosCount) << "a repeated value sends nothing";
  EXPECT_EQ(1, PercentTextCount);
}

TEST_F(SetupWindowTest, ZeroShowsTheBarAndOneHundredReadsInFull) {
  OnWorkerThread([] { SetProgress(0); });
  EXPECT_TRUE(IsWindowVisible(ProgressBar));
  EXPECT_TRUE(IsWindowVisible(PercentLabel));
  EXPECT_EQ(0, BarPosition());
  EXPECT_EQ(L"0%", TextOf(PercentLabel));

  OnWorkerThread([] { SetProgress(100); });
  EXPECT_EQ(100, BarPosition());
  EXPECT_EQ(L"100%", TextOf(PercentLabel));
  EXPECT_EQ(100, LastProgress);

  OnWorkerThread([] { SetProgress(100); });
  EXPECT_EQ(2, SetPosCount);

  OnWorkerThread([] { SetProgress(-1); });
  EXPECT_FALSE(IsWindowVisible(ProgressBar));
  EXPECT_FALSE(IsWindowVisible(PercentLabel));
}

TEST_F(SetupWindowTest, ReportProgressChangesOnlyWhatItCarries) {
  OnWorkerThread([] { SetStatusText(L"正在下载"); });
  EXPECT_EQ(L"正在下载", TextOf(StatusLabel));

  OnWorkerThread([] { ReportProgress(STEP_NONE, 37); });
  EXPECT_EQ(L"正在下载", TextOf(StatusLabel));
  EXPECT_EQ(1, StatusTextCount);
  EXPECT_EQ(37, BarPosition());
  EXPECT_EQ(L"37%", TextOf(PercentLabel));
  EXPECT_TRUE(IsWindowVisible(ProgressBar));

  OnWorkerThread([] { ReportProgress(STEP_CONNECTING, PROGRESS_HIDDEN); });
  EXPECT_EQ(L"连接服务器...", TextOf(StatusLabel));
  EXPECT_EQ(37, BarPosition());
  EXPECT_TRUE(IsWindowVisible(ProgressBar)) << "-1 from a download leaves the bar alone";
  EXPECT_EQ(L"37%", TextOf(PercentLabel));
  EXPECT_EQ(1, SetPosCount);

  const int texts = StatusTextCount;
  OnWorkerThread([] { ReportProgress(STEP_NONE, PROGRESS_HIDDEN); });
  EXPECT_EQ(texts, StatusTextCount);
  EXPECT_EQ(1, SetPosCount);
  EXPECT_EQ(1, PercentTextCount);
  EXPECT_EQ(37, LastProgress);
}

// A second download after a failed first one: the bar comes back with the last
// percentage, and a first report of that same value changes nothing.
TEST_F(SetupWindowTest, BeginProgressShowsTheBarWithItsLastState) {
  OnWorkerThread([] {
    BeginProgress();
    ReportProgress(STEP_NONE, 55);
    SetProgress(PROGRESS_HIDDEN);
  });
  EXPECT_FALSE(IsWindowVisible(ProgressBar));
  OnWorkerThread([] { ReportProgress(STEP_PREPARING, PROGRESS_HIDDEN); });
  EXPECT_FALSE(IsWindowVisible(ProgressBar)) << "only BeginProgress or a percentage shows it";

  OnWorkerThread([] { BeginProgress(); });
  EXPECT_TRUE(IsWindowVisible(StatusLabel));
  EXPECT_TRUE(IsWindowVisible(PercentLabel));
  EXPECT_TRUE(IsWindowVisible(ProgressBar));
  PBRANGE range = {};
  SendMessageW(ProgressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(0, range.iLow);
  EXPECT_EQ(100, range.iHigh);
  EXPECT_EQ(L"-1%", TextOf(PercentLabel)) << "the text of the last SetProgress stays";
  EXPECT_EQ(-1, LastProgress);

  OnWorkerThread([] {
    SetProgress(55);
    BeginProgress();
  });
  const int sent = SetPosCount;
  OnWorkerThread([] { ReportProgress(STEP_NONE, 55); });
  EXPECT_EQ(sent, SetPosCount);
  EXPECT_EQ(55, BarPosition());
}

TEST_F(SetupWindowTest, CloseRequestAsksWhileTheWorkerRunsAndNoKeepsBoth) {
  HANDLE copy = NULL;
  HANDLE worker = StartBlockedWorker(&copy);
  BoxAnswer no = {IDNO, L"", L"", false};
  DoubleClickAnswering(&no);
  ASSERT_TRUE(no.answered) << "the question was asked";
  EXPECT_EQ(L"是否真的退出?", no.text);
  EXPECT_EQ(L"测试产品", no.caption);
  EXPECT_TRUE(IsWindow(MainWindow));
  EXPECT_EQ(worker, WorkerThread);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(worker, 0));

  BoxAnswer yes = {IDYES, L"", L"", false};
  EXPECT_EQ(0, DoubleClickAnswering(&yes));
  ASSERT_TRUE(yes.answered);
  EXPECT_FALSE(IsWindow(MainWindow));
  EXPECT_EQ(nullptr, WorkerThread) << "the handle is closed with the window";
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(copy, 0)) << "the worker is not stopped";

  const std::vector<std::string> expected = {"should be confirm", "still alive", "should be confirm",
                                             "still alive", "install aborted", "to be exit"};
  EXPECT_EQ(expected, LogTexts());
}

TEST_F(SetupWindowTest, CloseRequestAfterTheWorkerEndedAsksNothing) {
  HANDLE worker = StartBlockedWorker();
  SetEvent(ReleaseWorker);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, WAIT_LIMIT_MS));
  BoxAnswer none = {IDNO, L"", L"", false};
  EXPECT_EQ(0, DoubleClickAnswering(&none));
  EXPECT_FALSE(none.answered);
  EXPECT_FALSE(IsWindow(MainWindow));
  const std::vector<std::string> expected = {"should be confirm", "to be exit"};
  EXPECT_EQ(expected, LogTexts());
}

TEST_F(SetupWindowTest, DoubleClickOutsideTheBackgroundIsNoCloseRequest) {
  SendMessageW(MainWindow, WM_NCLBUTTONDBLCLK, HTBORDER, 0);
  EXPECT_TRUE(IsWindow(MainWindow));
  EXPECT_TRUE(LogTexts().empty());
}

TEST_F(SetupWindowTest, EscapeClosesAtOnceEvenWhileTheWorkerRuns) {
  HANDLE copy = NULL;
  HANDLE worker = StartBlockedWorker(&copy);
  EXPECT_EQ(0, SendMessageW(MainWindow, WM_KEYUP, VK_ESCAPE, 0));
  EXPECT_FALSE(IsWindow(MainWindow));
  EXPECT_TRUE(LogTexts().empty()) << "no question, no log line";
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(copy, 0)) << "the worker is not stopped";
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(worker, &flags)) << "the window closed its handle";
  EXPECT_EQ(nullptr, ExitingWorker);
  LOGFONTW font;
  EXPECT_EQ(0, GetObjectW(TitleFont, sizeof font, &font)) << "fonts go with the window";
  EXPECT_EQ(0, GetObjectW(TextFont, sizeof font, &font));
  MSG quit;
  ASSERT_TRUE(PeekMessageW(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(0u, quit.wParam);
}

// One run at a time: a start request while the worker runs changes nothing.
TEST_F(SetupWindowTest, StartRequestsWhileTheWorkerRunsAreIgnored) {
  HANDLE worker = StartBlockedWorker();
  EXPECT_EQ(0, SendMessageW(MainWindow, WM_KEYUP, VK_RETURN, 0));
  SendMessageW(MainWindow, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(StartButton));
  EXPECT_EQ(worker, WorkerThread);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(worker, 0));
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(worker, &flags)) << "the running worker's handle stays open";
}

// The worker that ends the program closes the window itself; the program's end
// then waits for it to finish.
TEST_F(SetupWindowTest, WorkerThatClosesTheWindowIsWaitedFor) {
  HANDLE worker = StartBlockedWorker();
  WorkerClosingWindow = true;
  SendMessageW(MainWindow, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(MainWindow));
  EXPECT_EQ(nullptr, WorkerThread);
  ASSERT_EQ(worker, ExitingWorker);
  SetEvent(ReleaseWorker);
  WaitForExitingWorker(WAIT_LIMIT_MS);
  EXPECT_EQ(nullptr, ExitingWorker);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(worker, &flags)) << "closed after the wait";
}

TEST_F(SetupWindowTest, WorkerClosedByTheUserIsNotWaitedFor) {
  HANDLE worker = StartBlockedWorker();
  SendMessageW(MainWindow, WM_CLOSE, 0, 0);
  EXPECT_EQ(nullptr, ExitingWorker);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(worker, &flags)) << "closed with the window";
}

// While the end waits for the worker, this thread still answers what the worker
// sends to one of its windows.
HWND OtherWindow;

DWORD WINAPI WorkerThatSends(LPVOID) {
  SendMessageW(OtherWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"sent"));
  return 0;
}

TEST_F(SetupWindowTest, WaitingForTheWorkerStillServesItsSentMessages) {
  OtherWindow = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
  ASSERT_NE(nullptr, OtherWindow);
  ExitingWorker = CreateThread(NULL, 0, WorkerThatSends, NULL, 0, NULL);
  const DWORD start = GetTickCount();
  WaitForExitingWorker(WAIT_LIMIT_MS);
  EXPECT_LT(GetTickCount() - start, WAIT_LIMIT_MS) << "ended by the worker, not by the time-out";
  EXPECT_EQ(L"sent", TextOf(OtherWindow));
  EXPECT_EQ(nullptr, ExitingWorker);
  DestroyWindow(OtherWindow);
}

DWORD WINAPI LateWorker(LPVOID) {
  SetStatusText(L"迟到");
  BeginProgress();
  ReportProgress(STEP_DOWNLOADING, 42);
  SetProgress(PROGRESS_HIDDEN);
  lstrcpyW(LastErrorText, L"失败");
  ShowLastError();
  return static_cast<DWORD>(ShowMessage(L"重启?", MB_YESNO));
}

// A worker that outlives the window: its calls return at once although this
// thread serves no messages any more, and no box appears.
TEST_F(SetupWindowTest, CallsAfterTheWindowIsGoneAreHarmless) {
  DestroyWindow(MainWindow);
  HANDLE late = CreateThread(NULL, 0, LateWorker, NULL, 0, NULL);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(late, WAIT_LIMIT_MS)) << "no call waited for the window";
  DWORD answer = 99;
  GetExitCodeThread(late, &answer);
  CloseHandle(late);
  EXPECT_EQ(0u, answer) << "no box without a window";
  EXPECT_EQ(-1, LastProgress) << "kept up to date all the same";
}

// Without the registered class there is no window: FALSE, and nothing is shown.
TEST(SetupWindowCreation, FailsWithoutTheWindowClass) {
  HINSTANCE instance = GetModuleHandleW(NULL);
  UnregisterClassW(L"ZunGenericWindowClass", instance);
  MainWindow = NULL;
  EXPECT_FALSE(CreateSetupWindow(instance, SW_SHOWNORMAL));
  EXPECT_EQ(nullptr, MainWindow);
  EXPECT_EQ(nullptr, FindWindowW(L"ZunGenericWindowClass", NULL));
}

TEST(SetupWindowCreation, ClassHasTheArrowCursorAndTheDarkBrush) {
  HINSTANCE instance = GetModuleHandleW(NULL);
  RegisterWindowClass(instance);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  ASSERT_TRUE(GetClassInfoExW(instance, L"ZunGenericWindowClass", &windowClass));
  EXPECT_EQ(static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS), windowClass.style);
  EXPECT_EQ(SetupWindowProc, windowClass.lpfnWndProc);
  EXPECT_EQ(LoadCursorW(NULL, IDC_ARROW), windowClass.hCursor);
  EXPECT_EQ(BackgroundBrush, windowClass.hbrBackground);
  EXPECT_EQ(nullptr, windowClass.hIcon);
  EXPECT_EQ(0, windowClass.cbClsExtra);
  EXPECT_EQ(0, windowClass.cbWndExtra);
  UnregisterClassW(L"ZunGenericWindowClass", instance);
}

}  // namespace

namespace {

int FontHeight(HFONT font) {
  LOGFONTW logical = {};
  GetObjectW(font, sizeof logical, &logical);
  return logical.lfHeight;
}

// The window made again with the factor of another screen resolution: the
// fonts and the fixed placements are scaled by the same cached factor.
TEST_F(SetupWindowTest, FontsAndPlacementsFollowTheCachedFactor) {
  const float screenScale = DpiScale;
  struct {
    float scale;
    int title, button, text;
    RECT summary;
  } cases[] = {{1.25f, 40, 30, 20, {40, 137, 540, 177}}, {1.5f, 48, 36, 24, {48, 165, 648, 213}}};
  for (const auto& expected : cases) {
    DestroyWindow(MainWindow);
    WindowClosing = false;
    DpiScale = expected.scale;
    ASSERT_TRUE(CreateSetupWindow(GetModuleHandleW(NULL), SW_SHOWNORMAL));
    EXPECT_EQ(expected.title, FontHeight(TitleFont)) << expected.scale;
    EXPECT_EQ(expected.button, FontHeight(ButtonFont)) << expected.scale;
    EXPECT_EQ(expected.text, FontHeight(TextFont)) << expected.scale;
    RECT summary = RectInParent(SummaryLabel);
    EXPECT_TRUE(EqualRect(&expected.summary, &summary))
        << expected.scale << ": " << summary.left << "," << summary.top << "," << summary.right << ","
        << summary.bottom;
  }
  DpiScale = screenScale;
}

}  // namespace
