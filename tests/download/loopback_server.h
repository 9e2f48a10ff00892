// A scripted HTTP server for tests: real TCP on 127.0.0.1, a free port, a
// Winsock thread inside the test executable. Each accepted connection has its
// request read (up to the empty line) and recorded byte for byte, then runs the
// script of the route its path names: bytes to send, pauses, a graceful close, a
// reset, or silence until the client gives up. Every wait is bounded and the
// thread ends by itself after the last connection or when no client comes.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum LoopbackAction {
  LOOPBACK_SEND,         // send `bytes`
  LOOPBACK_PAUSE,        // sleep `milliseconds`
  LOOPBACK_CLOSE,        // graceful close (FIN); later steps are skipped
  LOOPBACK_RESET,        // abortive close (RST, SO_LINGER 0); later steps are skipped
  LOOPBACK_AWAIT_CLOSE,  // send nothing until the client closes, at most `milliseconds`
  LOOPBACK_SEND_PATTERN, // send the generated body (PatternAt) from byte `patternFrom` up to `patternEnd`
};

struct LoopbackStep {
  LoopbackAction action;
  std::string bytes;
  DWORD milliseconds;
  long long patternEnd = 0;
  long long patternFrom = 0;
};

typedef std::vector<LoopbackStep> LoopbackScript;

LoopbackStep SendBytes(const std::string& bytes);
LoopbackStep Pause(DWORD milliseconds);
LoopbackStep CloseConnection();
LoopbackStep ResetConnection();
LoopbackStep AwaitClientClose(DWORD milliseconds);
// A body of any size that is made as it is sent, never held whole, and can be
// checked anywhere: each 64 KiB block begins with its own offset (8 bytes,
// little-endian); its other bytes follow from their place in the block.
LoopbackStep SendPattern(long long end, long long from = 0);
// The `count` bytes of that body from `offset` on.
std::string PatternAt(long long offset, size_t count);

// "HTTP/1.1 200 OK", the exact "Content-Length: " of `body`, the body, a close.
LoopbackScript FileResponse(const std::string& body);

// The script for one connection, made from its request's exact bytes and the
// connection's number (from 0) among all that the server accepted.
typedef std::function<LoopbackScript(const std::string& request, int connection)> LoopbackResponder;

// A path as it appears in the request line ("/a/b.exe?x=1"). An empty path
// matches every request; a request that no route matches gets a 404 reply.
// With a responder, the route's script is made for each connection.
struct LoopbackRoute {
  std::string path;
  LoopbackScript script;
  LoopbackResponder respond = nullptr;
};

// One connection's part in serving a file that honours "Range: bytes=N-" when
// the request's If-Range equals the version's validator (an ETag, else a
// Last-Modified line in `validators`): a 206 from N, else a 200 with the whole
// body, the validator lines in either. The connection stops after the file's
// byte `breakAt` - 1 (none: -1) by `how` (close, reset, or silence until the
// client gives up). A non-empty `answer` is sent instead, as it is, then `how`.
// With `breakAfter`, every answer stops so after that many bytes of its body.
struct ServedTry {
  std::string body;
  std::string validators;  // header lines, each ending in CR LF
  long breakAt;
  LoopbackAction how;
  std::string answer;
  size_t breakAfter = 0;
};

ServedTry Serve(const std::string& body, const std::string& validators, long breakAt = -1,
                LoopbackAction how = LOOPBACK_CLOSE);
ServedTry Answer(const std::string& bytes, LoopbackAction how = LOOPBACK_CLOSE);

// The i-th connection is served by tries[i], the last one by every later connection.
LoopbackResponder ServeTries(const std::vector<ServedTry>& tries);

// Declare zero-initialised (`LoopbackServer server = {};`); acceptTimeoutMs may be
// set before starting, the rest belongs to the functions below.
struct LoopbackServer {
  std::vector<LoopbackRoute> routes;
  int connections;        // how many connections are served before the thread ends
  DWORD acceptTimeoutMs;  // the longest wait for each next connection
  SOCKET listener;
  HANDLE thread;
  unsigned short port;
  volatile LONG stopping;
  bool winsockStarted;
  std::vector<std::string> requests;  // exact bytes of each request, in order
  size_t bytesSent;                   // by every script, heads included
  bool concurrent;                    // set before starting: each connection is served on a thread of its own
  bool ipv6;                          // set before starting: it listens on ::1 instead
  std::mutex* guard;                  // the requests and the count while connections run at once
};

// 30 s, scaled in the emulated guest (ScaledWaitMs).
extern const DWORD LOOPBACK_ACCEPT_TIMEOUT_MS;

// Serves one connection with `script`, whatever its path.
bool StartLoopbackServer(LoopbackServer* server, const LoopbackScript& script);
// Serves `connections` connections in a row, each by the route of its path.
bool StartLoopbackRoutes(LoopbackServer* server, const std::vector<LoopbackRoute>& routes,
                         int connections);

// Waits at most `timeoutMs` for the thread to end by itself; then stops it and
// releases everything. True when it ended by itself. Safe to call twice.
bool WaitLoopbackServer(LoopbackServer* server, DWORD timeoutMs);

// Stops accepting new connections at once and releases everything once the
// current connection's script has run.
void StopLoopbackServer(LoopbackServer* server);

// "http://127.0.0.1:<port><path>", or "http://[::1]:<port><path>"
std::string LoopbackUrl(const LoopbackServer* server, const std::string& path);

// A port on 127.0.0.1 where nothing listens (bound, then closed again).
unsigned short UnusedLoopbackPort();
