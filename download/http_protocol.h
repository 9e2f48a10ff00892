// The plain-value side of the download client: URL splitting and the request
// text. The stamping tool uses the same functions to check addresses.
#pragma once

const int URL_BUFFER_SIZE = 4096;
const int HOST_BUFFER_SIZE = 1024;
const int PATH_BUFFER_SIZE = 1024;
const int PORT_BUFFER_SIZE = 6;
const int REQUEST_BUFFER_SIZE = 1024;

// Splits an 8-bit "http://host[:port]/path" URL into the three buffers (sizes
// above). Returns DOWNLOAD_OK, DOWNLOAD_BAD_SCHEME, DOWNLOAD_NO_PATH, or
// DOWNLOAD_FAILED when a part does not fit; then *refusal names it in English.
int SplitUrl(const char* url, char* host, char* path, char* port, const char** refusal);

// Writes the GET request into `request` (REQUEST_BUFFER_SIZE bytes). Returns its
// length, or -1 when it does not fit.
int BuildRequest(const char* host, const char* path, const char* port, char* request);
