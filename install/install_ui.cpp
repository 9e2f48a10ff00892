#include "install/install_ui.h"

static void NoText(const WCHAR*) {}
static void NoProgress(int) {}
static void NoButton(bool) {}
static void NoBeginning() {}
static void NoReport(const wchar_t*, int) {}
static int NoAnswer(const WCHAR*, UINT) { return 0; }
static void NoAction() {}

InstallUi WorkerUi = {NoText, NoProgress, NoButton, NoBeginning, NoReport, NoAnswer, NoAction, NoAction};

void UseInstallUi(const InstallUi& ui) {
  WorkerUi = ui;
}
