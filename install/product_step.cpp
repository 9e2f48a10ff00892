// winsock2.h must come before windows.h.
#include "download/http_client.h"
#include "install/product_step.h"

#include "config/replace_all.h"
#include "config/setup_config.h"
#include "download/download_job.h"
#include "install/install_state.h"
#include "install/installer_command.h"
#include "install/payload_check.h"
#include "log/run_log.h"

static const WCHAR DOWNLOAD_FAILED_MESSAGE[] = L"产品系统安装程序下载失败。(X005)";
static const WCHAR START_FAILED_MESSAGE[] =
    L"产品系统安装程序启动失败。请确认是以管理员身份启动的该安装程序。(X006)";

const WCHAR* ChooseVersionTag(DWORD version) {
  unsigned major = LOBYTE(LOWORD(version));
  unsigned minor = HIBYTE(LOWORD(version));
  return (major >= 6 && minor >= 2) ? L"v4" : L"v2";
}

std::wstring ProductInstallerUrl(const std::wstring& urlTemplate, const WCHAR* tag) {
  return ReplaceAll(urlTemplate, VERSION_PLACEHOLDER, tag);
}

std::wstring ProductInstallerFileName(const WCHAR* tag) {
  return ReplaceAll(PRODUCT_FILE_TEMPLATE, VERSION_PLACEHOLDER, tag);
}

bool ProductInstallerStep() {
  const WCHAR* tag = ChooseVersionTag(GetVersion());
  std::wstring url = ProductInstallerUrl(GetConfigValue(L"app.url"), tag);
  std::wstring fileName = ProductInstallerFileName(tag);

  WCHAR installerPath[MAX_PATH];
  if (!JoinInstallerPath(InstallDir, fileName.c_str(), installerPath)) {
    LogLine(L"product installer path too long");
    RecordError(DOWNLOAD_FAILED_MESSAGE);
    return false;
  }
  // A download that its pin refuses fails as a failed download does.
  HANDLE held = INVALID_HANDLE_VALUE;
  if (RunDownloadJob(url.c_str(), installerPath) != static_cast<DWORD>(DOWNLOAD_OK) ||
      CheckPinnedDownload(installerPath, ProductPinKey(tag), &held) == PIN_REFUSED) {
    RecordError(DOWNLOAD_FAILED_MESSAGE);
    return false;
  }

  WCHAR commandLine[MAX_PATH];
  PROCESS_INFORMATION process;
  bool started = false;
  if (!BuildInstallerCommandLine(installerPath, L"", commandLine)) {
    LogLine(L"product installer command line too long");
  } else if (StartInstallerProcess(commandLine, &process)) {
    started = true;
  }
  // Held through the start: the process was created from the checked file.
  DWORD error = GetLastError();
  ReleasePinnedDownload(&held);
  if (!started) {
    SetLastError(error);
    RecordError(START_FAILED_MESSAGE);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
