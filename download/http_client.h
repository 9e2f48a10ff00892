// setup.exe's own HTTP/1.1 client: one GET over a direct Winsock connection,
// one try of a download (download_file.h makes the tries).
#pragma once

#include "platform/windows_headers.h"

#include "download/download_try.h"
#include "http/head_reader.h"

// One try: connects, sends the first request (or, with a continuable
// attempt->point, that request continued from the bytes kept), reads and judges the head and
// receives the body into the attempt's file. The first try reports the step
// texts and logs as the client always did.
TryEnd HttpTry(DownloadTry* attempt);

// Reads the response head into `reader` (begun by the caller), one byte per
// receive, until it ends, is refused or runs out of its budget; the body's
// first byte stays unread. HEAD_READ_ERROR when a receive failed.
HeadRead ReceiveHead(SOCKET connection, HeadReader* reader);
