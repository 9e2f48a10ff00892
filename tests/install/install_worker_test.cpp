// The install worker reaches the window only through the operations it is
// handed: a run recorded through them, without any window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/setup_config.h"
#include "install/install_state.h"
#include "install/install_ui.h"
#include "install/install_worker.h"
#include "shell/user_texts.h"

namespace {

std::vector<std::wstring> Calls;

void RecordText(InstallMessage message) { Calls.push_back(L"status " + std::wstring(InstallMessageText(message))); }
void RecordProgress(int percent) { Calls.push_back(L"progress " + std::to_wstring(percent)); }
void RecordButton(bool shown) { Calls.push_back(shown ? L"button shown" : L"button hidden"); }
void RecordBeginning() { Calls.push_back(L"download begins"); }
void RecordReport(DownloadStep step, int percent) {
  const WCHAR* text = DownloadStepText(step);
  Calls.push_back(L"report " + std::wstring(text != nullptr ? text : L"(none)") + L" " + std::to_wstring(percent));
}
int RecordQuestion(InstallMessage question, UINT) {
  Calls.push_back(L"question " + std::wstring(InstallMessageText(question)));
  return IDNO;
}
void RecordLastError() { Calls.push_back(L"error " + std::wstring(LastErrorText)); }
void RecordClose() { Calls.push_back(L"close"); }

// The product's only address has a scheme that the client refuses: on this
// Windows version (6.x, no runtime step) the product download fails at once.
TEST(InstallWorkerUi, AFailedRunIsShownThroughTheHandedOperationsOnly) {
  UseInstallUi(InstallUi{RecordText, RecordProgress, RecordButton, RecordBeginning, RecordReport, RecordQuestion,
                         ::RecordError, RecordLastError, RecordClose});
  Calls.clear();
  const std::wstring config = L"app.url=ftp://127.0.0.1/brenvik-setupvv.exe\n";
  ASSERT_EQ(CONFIG_PARSED, ParseConfigText(config.c_str(), static_cast<int>(config.size()), &SetupConfig));
  ASSERT_EQ(0u, InstallWorker(NULL));
  SetupConfig.count = 0;

  const std::vector<std::wstring> expected = {
      L"button hidden",
      L"status 启动安装流程...",
      L"download begins",
      L"report 准备下载... -1",
      L"status 安装流程结束。",
      L"progress -1",
      L"status 安装失败。",
      L"button shown",
      L"error 产品系统安装程序下载失败。(X005)",
  };
  EXPECT_EQ(expected, Calls);
  EXPECT_FALSE(DeleteRunLogAtExit);
}

}  // namespace
