// The download client: one HTTP/1.1 GET over Winsock, body written to a file.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "download/progress_callback.h"

const int DOWNLOAD_OK = 1;
const int DOWNLOAD_FAILED = 0;
const int DOWNLOAD_BAD_SCHEME = -1;
const int DOWNLOAD_NO_PATH = -2;

const DWORD HTTP_RECEIVE_TIMEOUT_MS = 15000;

int DownloadToFile(const WCHAR* url, const WCHAR* targetPath, ProgressCallback progress);
int HttpGet(const char* url, const WCHAR* targetPath, ProgressCallback progress);
