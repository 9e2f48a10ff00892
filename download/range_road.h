// What a client (the Winsock one or the WinHTTP one) lends the engine of
// ranges for its connections: how a request is made, asked, read, closed by
// its owner, and cut short from another thread when the download stops.
#pragma once

// First: the Winsock client's socket below needs Winsock's headers before windows.h.
#include "platform/windows_headers.h"

#include "download/download_try.h"
#include "download/https_protocol.h"
#include "http/range_plan.h"

// One connection's request, on either road.
struct RangeConnection {
  SOCKET socket;           // the Winsock road; whoever closes it takes it out with SwapSocket
  struct addrinfo* addresses;  // ... where it may connect, tried in turn
  volatile LONG cancelled; // set by a stop: a wait for the connection ends
  void* handles[3];        // the WinHTTP road: session, connection and request
  RequestNotices notices;  // ... what the request's notifications tell, as long as its handle lives
};

// A request's connection, made afresh, or the first answer's, whose body is unread.
inline void BeginRangeConnection(RangeConnection* link, SOCKET socket, void* session, void* connection,
                                 void* request) {
  ZeroMemory(link, sizeof *link);
  link->socket = socket;
  link->handles[0] = session;
  link->handles[1] = connection;
  link->handles[2] = request;
}

static_assert(sizeof(SOCKET) == sizeof(PVOID), "a socket is swapped as a pointer is, on i686 and x86_64");

// Puts `socket` into the link and returns what it held, in one step. The owner
// and a stop each take the socket out this way (SwapSocket(link,
// INVALID_SOCKET)): only the one that gets a valid socket closes it, so none
// is closed twice, nor a value that meanwhile names another socket.
inline SOCKET SwapSocket(RangeConnection* link, SOCKET socket) {
  return reinterpret_cast<SOCKET>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&link->socket),
                                                             reinterpret_cast<PVOID>(socket)));
}

// The same for the request's handle on the WinHTTP road: NULL in its place.
inline void* TakeRequestHandle(RangeConnection* link) {
  return InterlockedExchangePointer(&link->handles[2], NULL);
}

// `headLimitMs`: the time within which the connection and the answer's head
// must come, 0 for the download's own limits. The functions log their failures.
struct RangeRoad {
  // Makes what a request needs before anything goes out (the name resolved
  // and the socket made; the library's handles opened) into *link.
  // RANGE_END_DONE, or RANGE_END_NOT_CONNECTED.
  RangeEnd (*make)(const DownloadTry& attempt, DWORD headLimitMs, RangeConnection* link);
  // Connects, sends the first request with ask.first..ask.last in its Range
  // and If-Range lines (PLAIN_ASK: as it is) and reads the answer's head into
  // *answer, whose status holds the number even of a refused status line.
  // RANGE_END_DONE when a head came, else how the request ended.
  RangeEnd (*ask)(const DownloadTry& attempt, const RangeAsk& ask, DWORD headLimitMs, RangeConnection* link,
                  HeadState* answer);
  // Receives at most `size` bytes of the body: their count, 0 when the answer
  // ended, -1 with *failure when a receive failed.
  int (*receive)(RangeConnection* link, char* buffer, int size, DWORD* failure);
  // The owner closes what the link still holds.
  void (*close)(RangeConnection* link);
  // Another thread, under the engine's lock, closes the socket or request
  // handle that the owner may wait on: its call returns at once, and its
  // `close` skips what is closed.
  void (*cancel)(RangeConnection* link);
};

// The receive size of every connection in ranges: receives cost a round trip
// each under Wine, so larger ones keep up with several connections.
const int RANGE_CHUNK_SIZE = 65536;
