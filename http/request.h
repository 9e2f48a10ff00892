// The request line and headers of a plain GET, in plain values.
#pragma once

const int REQUEST_BUFFER_SIZE = 1024;

// Writes the GET request into `request` (REQUEST_BUFFER_SIZE bytes). Returns its
// length, or -1 when it does not fit.
int BuildRequest(const char* host, const char* path, const char* port, char* request);
