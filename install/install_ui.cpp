#include "install/install_ui.h"

static void NoStatus(InstallMessage) {}
static void NoProgress(int) {}
static void NoButton(bool) {}
static void NoBeginning() {}
static void NoReport(DownloadStep, int) {}
static int NoAnswer(InstallMessage, UINT) { return 0; }
static void NoError(InstallMessage, DWORD) {}
static void NoAction() {}

InstallUi WorkerUi = {NoStatus, NoProgress, NoButton, NoBeginning, NoReport, NoAnswer, NoError, NoAction, NoAction};

void UseInstallUi(const InstallUi& ui) {
  WorkerUi = ui;
}
