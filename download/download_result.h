// What a download ends with. Plain values only.
#pragma once

enum DownloadResult {
  DOWNLOAD_OK = 1,
  DOWNLOAD_FAILED = 0,
  DOWNLOAD_BAD_SCHEME = -1,  // neither "http://" nor "https://"
  DOWNLOAD_NO_PATH = -2,     // no "/" after the host
};
