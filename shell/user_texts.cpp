#include "shell/user_texts.h"

#include <stdio.h>

#include "log/run_log.h"

static const WCHAR PREPARING[] = L"准备下载...";
static const WCHAR LOOKING_UP[] = L"查找服务器...";
static const WCHAR CONNECTING[] = L"连接服务器...";
static const WCHAR SENDING[] = L"发送请求...";
static const WCHAR PARSING[] = L"解析响应...";
static const WCHAR DOWNLOADING[] = L"正在下载...";
static const WCHAR CONTINUING[] = L"连接中断，正在继续下载...";
static const WCHAR COMPLETE[] = L"下载完成。";
static const WCHAR FAILED[] = L"下载失败。";

static const WCHAR* const STEP_TEXTS[] = {PREPARING, LOOKING_UP, CONNECTING, SENDING, PARSING,
                                          DOWNLOADING, CONTINUING, COMPLETE, FAILED};
static_assert(sizeof STEP_TEXTS / sizeof STEP_TEXTS[0] == DOWNLOAD_STEP_COUNT, "a text for every step");

static const WCHAR* const MESSAGE_TEXTS[] = {
    L"启动安装流程...",
    L"准备安装运行环境...",
    L"安装流程结束。",
    L"安装成功。",
    L"安装需要重启电脑。",
    L"安装失败。",
    L"运行环境安装程序下载失败。(X003)",
    L"运行环境安装程序启动失败。(X004)",
    L"产品系统安装程序下载失败。(X005)",
    L"产品系统安装程序启动失败。请确认是以管理员身份启动的该安装程序。(X006)",
    L"运行环境安装失败。(%d:%d)",
    L"运行环境安装成功，但需要重启电脑才能继续后续安装。\n重启后请再次运行本安装程序。是否现在重启?",
};
static_assert(sizeof MESSAGE_TEXTS / sizeof MESSAGE_TEXTS[0] == INSTALL_MESSAGE_COUNT, "a text for every message");

const WCHAR EXIT_QUESTION[] = L"是否真的退出?";

const WCHAR* DownloadStepText(DownloadStep step) {
  return step == STEP_NONE ? NULL : STEP_TEXTS[step];
}

const WCHAR* InstallMessageText(InstallMessage message) {
  return MESSAGE_TEXTS[message];
}

void FormatRuntimeInstallFailure(DWORD exitCode, DWORD lastError, WCHAR* text) {
  _snwprintf(text, RUNTIME_FAILURE_TEXT_SIZE, MESSAGE_TEXTS[MESSAGE_RUNTIME_INSTALL_FAILED],
             static_cast<int>(exitCode), static_cast<int>(lastError));
  text[RUNTIME_FAILURE_TEXT_SIZE - 1] = L'\0';
}

WCHAR LastErrorText[1024];

void RecordError(InstallMessage message, DWORD exitCode) {
  // Read before anything else can change it.
  DWORD code = GetLastError();
  if (message == MESSAGE_RUNTIME_INSTALL_FAILED)
    FormatRuntimeInstallFailure(exitCode, code, LastErrorText);
  else
    lstrcpyW(LastErrorText, MESSAGE_TEXTS[message]);
  LogFormat("%s(EH%08X)", LastErrorText, code);
}
