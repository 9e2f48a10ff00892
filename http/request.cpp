#include "http/request.h"

#include <string.h>

#include "http/url.h"

// Appends `text` at *length when it fits below `capacity` (leaving the terminator's byte).
static bool Append(char* buffer, int capacity, int* length, const char* text) {
  size_t textLength = strlen(text);
  if (textLength >= (size_t)(capacity - *length)) return false;
  memcpy(buffer + *length, text, textLength);
  *length += (int)textLength;
  buffer[*length] = '\0';
  return true;
}

int BuildRequest(const char* host, const char* path, const char* port, char* request) {
  int length = 0;
  request[0] = '\0';
  bool fits = Append(request, REQUEST_BUFFER_SIZE, &length, "GET ") &&
              Append(request, REQUEST_BUFFER_SIZE, &length, path) &&
              Append(request, REQUEST_BUFFER_SIZE, &length, " HTTP/1.1\r\nHost: ") &&
              Append(request, REQUEST_BUFFER_SIZE, &length, host);
  // The default port is left out of the Host line; "080" is not the text "80" and stays.
  if (fits && strcmp(port, DEFAULT_PORT) != 0)
    fits = Append(request, REQUEST_BUFFER_SIZE, &length, ":") &&
           Append(request, REQUEST_BUFFER_SIZE, &length, port);
  if (fits) fits = Append(request, REQUEST_BUFFER_SIZE, &length, "\r\n\r\n");
  if (!fits) {
    request[0] = '\0';
    return -1;
  }
  return length;
}
