// What a download reported through its progress callback, as the download
// tests record it, and the step texts it reports.
#pragma once

#include <string>
#include <vector>

#include "download/progress_callback.h"
#include "shell/user_texts.h"

// In order: steps as the window's texts, percentages as digits. A call of any
// other form is recorded as a defect.
inline std::vector<std::wstring> Reports;

inline void RecordReport(DownloadStep step, int percent) {
  if (step >= 0 && step < DOWNLOAD_STEP_COUNT && percent == PROGRESS_HIDDEN)
    Reports.push_back(DownloadStepText(step));
  else if (step == STEP_NONE && percent >= 0 && percent <= 100)
    Reports.push_back(std::to_wstring(percent));
  else
    Reports.push_back(L"(malformed report)");
}

const std::wstring PREPARING = L"准备下载...";
const std::wstring RESOLVING = L"查找服务器...";
const std::wstring CONNECTING = L"连接服务器...";
const std::wstring SENDING = L"发送请求...";
const std::wstring PARSING = L"解析响应...";
const std::wstring DOWNLOADING = L"正在下载...";
const std::wstring COMPLETE = L"下载完成。";
const std::wstring FAILED = L"下载失败。";
const std::wstring CONTINUING = L"连接中断，正在继续下载...";
