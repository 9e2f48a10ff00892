#include "shell/setup_window.h"

#include <commctrl.h>

#include "config/setup_config.h"
#include "download/download_file.h"
#include "download/download_stop.h"
#include "install/earlier_download.h"
#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/install_worker.h"
#include "log/run_log.h"
#include "platform/system_library.h"
#include "shell/progress_display.h"
#include "shell/user_texts.h"

HWND MainWindow;
HWND StartButton, StatusLabel, PercentLabel, ProgressBar, TitleLabel, SummaryLabel, CorpLabel;
HFONT TitleFont, ButtonFont, TextFont;
WCHAR HeadingFace[FACE_NAME_SIZE];
WCHAR BodyFace[FACE_NAME_SIZE];
HBRUSH BackgroundBrush;
float DpiScale;
volatile bool WindowClosing;
HANDLE ExitingWorker;

static const WCHAR WINDOW_CLASS_NAME[] = L"ZunGenericWindowClass";
// Clears WS_CAPTION (WS_BORDER | WS_DLGFRAME): no caption, no border.
static const LONG CAPTION_MASK = static_cast<LONG>(~static_cast<DWORD>(WS_CAPTION));
static_assert(CAPTION_MASK == static_cast<LONG>(0xFF3FFFFF), "the mask the window has always used");

// The controls' styles. The progress bar and its percentage start hidden and
// are shown when a download begins.
static const DWORD START_BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
static const DWORD LABEL_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT;
static const DWORD RIGHT_LABEL_STYLE = WS_CHILD | WS_VISIBLE | SS_RIGHT;
static const DWORD PERCENT_LABEL_STYLE = WS_CHILD | SS_RIGHT;
static const DWORD PROGRESS_BAR_STYLE = WS_CHILD;
static_assert(START_BUTTON_STYLE == 0x50010001 && LABEL_STYLE == 0x50000000 && RIGHT_LABEL_STYLE == 0x50000002 &&
                  PERCENT_LABEL_STYLE == 0x40000002 && PROGRESS_BAR_STYLE == 0x40000000,
              "the styles the window has always had");

static float CurrentDpiScale() {
  if (DpiScale == 0.0f) {
    HDC screen = GetDC(NULL);
    DpiScale = DpiScaleFor(GetDeviceCaps(screen, LOGPIXELSX));
    ReleaseDC(NULL, screen);
  }
  return DpiScale;
}

int ScaleDpi(int length) {
  return ScaleLength(length, CurrentDpiScale());
}

bool WindowIsUsable() {
  return !WindowClosing && MainWindow != NULL && IsWindow(MainWindow);
}

void RegisterWindowClass(HINSTANCE instance) {
  BackgroundBrush = CreateSolidBrush(BACKGROUND_COLOR);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = SetupWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
  windowClass.hbrBackground = BackgroundBrush;
  windowClass.lpszClassName = WINDOW_CLASS_NAME;
  RegisterClassExW(&windowClass);
}

int CALLBACK FontEnumProc(const LOGFONTW* font, const TEXTMETRICW*, DWORD fontType, LPARAM list) {
  if (fontType != TRUETYPE_FONTTYPE) return 1;
  const WCHAR* candidate = MatchFaceCandidate(font->lfFaceName, list);
  if (candidate == NULL) return 1;
  WCHAR* buffer = list == HEADING_FACE_LIST ? HeadingFace : BodyFace;
  lstrcpynW(buffer, candidate, FACE_NAME_SIZE);
  return 0;
}

static void SelectFaces() {
  LOGFONTW wanted = {};
  wanted.lfCharSet = GB2312_CHARSET;
  HDC dc = CreateCompatibleDC(NULL);
  EnumFontFamiliesExW(dc, &wanted, FontEnumProc, HEADING_FACE_LIST, 0);
  EnumFontFamiliesExW(dc, &wanted, FontEnumProc, BODY_FACE_LIST, 0);
  DeleteDC(dc);
}

static HFONT MakeFont(int height, const WCHAR* face) {
  return CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

static HWND MakeControl(HWND parent, HINSTANCE instance, const WCHAR* className,
                        const WCHAR* text, DWORD style, const Placement& at, HFONT font) {
  HWND control = CreateWindowExW(0, className, text, style, at.x, at.y, at.width, at.height,
                                 parent, NULL, instance, NULL);
  if (control != NULL && font != NULL)
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  return control;
}

// The values of two keys, one per line, into `text` (WINDOW_TEXT_SIZE); empty,
// and logged, when they do not fit together.
static void ConfigLines(const WCHAR* firstKey, const WCHAR* secondKey, WCHAR* text) {
  WCHAR first[WINDOW_TEXT_SIZE];
  WCHAR second[WINDOW_TEXT_SIZE];
  GetConfigValue(firstKey, first, WINDOW_TEXT_SIZE);
  GetConfigValue(secondKey, second, WINDOW_TEXT_SIZE);
  if (!JoinLines(first, second, text)) LogFormat("window text too long: %s and %s", firstKey, secondKey);
}

static void CreateControls(HWND window) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  TitleFont = MakeFont(ScaleDpi(32), HeadingFace);
  ButtonFont = MakeFont(ScaleDpi(24), HeadingFace);
  TextFont = MakeFont(ScaleDpi(16), BodyFace);

  const float scale = CurrentDpiScale();
  const Placement later = {0, 0, 0, 0};  // WM_SIZE places these
  WCHAR buttonText[WINDOW_TEXT_SIZE];
  WCHAR title[WINDOW_TEXT_SIZE];
  WCHAR summary[WINDOW_TEXT_SIZE];
  WCHAR corp[WINDOW_TEXT_SIZE];
  GetConfigValue(L"button.text", buttonText, WINDOW_TEXT_SIZE);
  ConfigLines(L"app.name", L"setup.text", title);
  GetConfigText(L"summary", summary, WINDOW_TEXT_SIZE);
  ConfigLines(L"corp.name", L"corp.tel", corp);

  StartButton = MakeControl(window, instance, L"BUTTON", buttonText, START_BUTTON_STYLE, later, ButtonFont);
  StatusLabel = MakeControl(window, instance, L"STATIC", L"", LABEL_STYLE, later, TextFont);
  PercentLabel = MakeControl(window, instance, L"STATIC", L"", PERCENT_LABEL_STYLE, later, TextFont);
  ProgressBar = MakeControl(window, instance, PROGRESS_CLASSW, NULL, PROGRESS_BAR_STYLE, later, NULL);
  TitleLabel = MakeControl(window, instance, L"STATIC", title, LABEL_STYLE, TitlePlacement(scale), TitleFont);
  SummaryLabel = MakeControl(window, instance, L"STATIC", summary, LABEL_STYLE, SummaryPlacement(scale), TextFont);
  CorpLabel = MakeControl(window, instance, L"STATIC", corp, RIGHT_LABEL_STYLE, later, TextFont);
  UseProgressControls(ProgressControls{StatusLabel, ProgressBar, PercentLabel, WindowIsUsable});
}

static void MoveControl(HWND control, const Placement& to) {
  MoveWindow(control, to.x, to.y, to.width, to.height, FALSE);
}

static void LayOutControls(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  const ControlLayout layout = LayoutControls(client.right, client.bottom, CurrentDpiScale());
  MoveControl(StartButton, layout.startButton);
  MoveControl(StatusLabel, layout.statusLabel);
  MoveControl(PercentLabel, layout.percentLabel);
  MoveControl(ProgressBar, layout.progressBar);
  MoveControl(CorpLabel, layout.corpLabel);
}

static bool WorkerStillRunning() {
  DWORD code = 0;
  return WorkerThread != NULL && GetExitCodeThread(WorkerThread, &code) && code == STILL_ACTIVE;
}

// Only one installation run at a time: both steps write the same files and drive
// the same controls.
static void RequestStart() {
  if (WorkerStillRunning()) {
    LogLine("start ignored, worker still running");
    return;
  }
  if (WorkerThread != NULL) {
    CloseHandle(WorkerThread);
    WorkerThread = NULL;
  }
  StartWorker();
}

// A double-click on the background. True when the window was destroyed.
static bool HandleCloseRequest(HWND window) {
  if (WorkerThread != NULL) {
    LogLine("should be confirm");
    DWORD code = 0;
    GetExitCodeThread(WorkerThread, &code);
    if (code == STILL_ACTIVE) {
      LogLine("still alive");
      if (ShowMessage(EXIT_QUESTION, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
      LogLine("install aborted");
    }
  }
  LogLine("to be exit");
  DestroyWindow(window);
  return true;
}

static void HandleDestroy() {
  WindowClosing = true;
  // Pairs with MarkWorkerClosingWindow: the flag is read only after the window
  // is seen as closing by the worker.
  MemoryBarrier();
  if (WorkerThread != NULL) {
    // A worker that closed the window itself still has to finish (a restart
    // request); start-up waits for it. Otherwise it ends with the process.
    if (WorkerClosingWindow)
      ExitingWorker = WorkerThread;
    else
      CloseHandle(WorkerThread);
    WorkerThread = NULL;
  }
  DeleteObject(TitleFont);
  DeleteObject(ButtonFont);
  DeleteObject(TextFont);
  PostQuitMessage(0);
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateControls(window);
      break;
    case WM_SIZE:
      LayOutControls(window);
      break;
    case WM_NCHITTEST: {
      LRESULT hit = DefWindowProcW(window, message, wParam, lParam);
      return hit == HTCLIENT ? HTCAPTION : hit;
    }
    case WM_NCLBUTTONDBLCLK:
      if (wParam == HTCAPTION && HandleCloseRequest(window)) return 0;
      break;
    case WM_KEYUP:
      if (wParam == VK_RETURN) {
        RequestStart();
        return 0;
      }
      if (wParam == VK_ESCAPE) {
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && StartButton != NULL &&
          reinterpret_cast<HWND>(lParam) == StartButton)
        RequestStart();
      break;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      HWND control = reinterpret_cast<HWND>(lParam);
      bool muted = control == SummaryLabel || control == CorpLabel;
      SetTextColor(dc, muted ? MUTED_TEXT_COLOR : BRIGHT_TEXT_COLOR);
      SetBkColor(dc, BACKGROUND_COLOR);
      return reinterpret_cast<LRESULT>(BackgroundBrush);
    }
    case WM_ENDSESSION:
      // Windows ends the process once this returns: what the download has, it keeps now.
      if (wParam) EndDownloadsForExit();
      return 0;
    case WM_DESTROY:
      HandleDestroy();
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The common controls are loaded here, not imported: an imported comctl32 is
// initialised before the program's first line runs, and its initialisation
// loads the theming library by name from a search that starts in the program's
// own folder. Loaded now, after start-up has limited that search, the version
// that the manifest names is found by name as before. Kept loaded for good.
static void InitCommonControlsAtRunTime() {
  HMODULE comctl32 = LoadLibraryW(L"comctl32.dll");
  if (comctl32 == NULL) {
    LogFormat("load comctl32 failed. %d", static_cast<int>(GetLastError()));
    return;
  }
  BOOL(WINAPI * init)(const INITCOMMONCONTROLSEX*) = NULL;
  INITCOMMONCONTROLSEX controls = {8, 0xFF};
  if (LookUpFunction(comctl32, "InitCommonControlsEx", &init)) init(&controls);
}

static void ShowStartButton(bool shown) {
  ShowWindow(StartButton, shown ? SW_SHOW : SW_HIDE);
}

static void CloseMainWindow() {
  SendMessageW(MainWindow, WM_CLOSE, 0, 0);
}

static void ShowInstallStatus(InstallMessage message) {
  SetStatusText(InstallMessageText(message));
}

static int AskUser(InstallMessage question, UINT type) {
  return ShowMessage(InstallMessageText(question), type);
}

// What an installation run may do with the window: the install code reaches it
// only through these. Each is carried out on this window's thread while the
// worker waits.
static const InstallUi WINDOW_INSTALL_UI = {
    ShowInstallStatus, SetProgress, ShowStartButton, BeginProgress, ReportProgress,
    AskUser,           RecordError, ShowLastError,   CloseMainWindow};

BOOL CreateSetupWindow(HINSTANCE instance, int showCommand) {
  SelectFaces();
  InitCommonControlsAtRunTime();

  WCHAR name[WINDOW_TEXT_SIZE];
  GetConfigValue(L"app.name", name, WINDOW_TEXT_SIZE);
  HWND window = CreateWindowExW(0, WINDOW_CLASS_NAME, name, 0, 0, 0, 0, 0, NULL, NULL, instance, NULL);
  if (window == NULL) return FALSE;
  SetWindowLongW(window, GWL_STYLE, GetWindowLongW(window, GWL_STYLE) & CAPTION_MASK);
  MainWindow = window;
  UseInstallUi(WINDOW_INSTALL_UI);

  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  const Placement at = CentreOnDesktop(desktop, ScaleDpi(WINDOW_WIDTH), ScaleDpi(WINDOW_HEIGHT));
  MoveWindow(window, at.x, at.y, at.width, at.height, FALSE);

  ShowWindow(window, showCommand);
  UpdateWindow(window);
  return TRUE;
}

void WaitForExitingWorker(DWORD timeoutMs) {
  if (ExitingWorker == NULL) return;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) {
      LogLine("worker did not end");
      break;
    }
    // A worker that calls into a window of this thread must not block the wait.
    DWORD woke = MsgWaitForMultipleObjects(1, &ExitingWorker, FALSE, timeoutMs - spent, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) break;
    MSG message;
    PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE);
  }
  CloseHandle(ExitingWorker);
  ExitingWorker = NULL;
}

void EndDownloadsForExit() {
  const DWORD start = GetTickCount();
  MSG message;
  StopDownloads();
  while (DownloadUnderWay()) {
    if (GetTickCount() - start >= STOPPED_DOWNLOAD_WAIT_MS) {
      // Still writing: its file is not touched, and nothing records it.
      LogLine("download did not stop");
      return;
    }
    // A download that calls into a window of this thread must not block the wait.
    if (MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_SENDMESSAGE) == WAIT_OBJECT_0)
      PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE);
  }
  KeepDownloadForNextRun();
}

int ShowMessage(const WCHAR* text, UINT type) {
  // A worker may outlive the window: no box without an owner.
  if (!WindowIsUsable()) {
    LogLine("message box skipped, window gone");
    return 0;
  }
  WCHAR caption[WINDOW_TEXT_SIZE];
  GetConfigValue(L"app.name", caption, WINDOW_TEXT_SIZE);
  return MessageBoxW(MainWindow, text, caption, type);
}

void ShowLastError() {
  ShowMessage(LastErrorText, MB_ICONERROR);
}
