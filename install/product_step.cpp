#include "install/product_step.h"

#include "config/replace_all.h"
#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/installer_command.h"
#include "install/mirror_download.h"
#include "install/payload_check.h"
#include "install/signer_pin.h"
#include "log/run_log.h"

const WCHAR* ChooseVersionTag(DWORD version) {
  unsigned major = LOBYTE(LOWORD(version));
  unsigned minor = HIBYTE(LOWORD(version));
  return (major >= 6 && minor >= 2) ? L"v4" : L"v2";
}

void ProductInstallerFileName(const WCHAR* tag, WCHAR* fileName) {
  // A tag is two characters, as the placeholder is: the name keeps its length.
  ReplaceAll(PRODUCT_FILE_TEMPLATE, VERSION_PLACEHOLDER, tag, fileName, MAX_PATH);
}

bool ProductInstallerStep(const DownloadLimits& limits) {
  const WCHAR* tag = ChooseVersionTag(GetVersion());
  WCHAR fileName[MAX_PATH];
  ProductInstallerFileName(tag, fileName);

  WCHAR installerPath[MAX_PATH];
  if (!JoinInstallerPath(DownloadDir, fileName, installerPath)) {
    LogLine("product installer path too long");
    WorkerUi.recordError(MESSAGE_PRODUCT_DOWNLOAD_FAILED, 0);
    return false;
  }
  const MirrorDownload download = {&PRODUCT_MIRRORS, L"product", tag, ProductPinKey(tag), PRODUCT_SIGNER_KEY, &limits};
  HANDLE held = INVALID_HANDLE_VALUE;
  if (!DownloadFromMirrors(download, installerPath, &held)) {
    WorkerUi.recordError(MESSAGE_PRODUCT_DOWNLOAD_FAILED, 0);
    return false;
  }

  WCHAR startPath[MAX_PATH];
  WCHAR commandLine[MAX_PATH];
  PROCESS_INFORMATION process;
  bool started = false;
  InstallerStartPath(held, installerPath, startPath);
  if (!BuildInstallerCommandLine(startPath, L"", commandLine)) {
    LogLine("product installer command line too long");
  } else if (StartInstallerProcess(commandLine, DownloadDir, &process)) {
    started = true;
  }
  // Held through the start: the process was created from the checked file.
  DWORD error = GetLastError();
  ReleasePinnedDownload(&held);
  if (!started) {
    SetLastError(error);
    WorkerUi.recordError(MESSAGE_PRODUCT_START_FAILED, 0);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
