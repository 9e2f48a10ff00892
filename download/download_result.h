// What a download ends with. Plain values only.
#pragma once

const int DOWNLOAD_OK = 1;
const int DOWNLOAD_FAILED = 0;
const int DOWNLOAD_BAD_SCHEME = -1;
const int DOWNLOAD_NO_PATH = -2;
