#include "loopback_server.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <thread>
#include <ws2tcpip.h>

#include "test_files.h"

static const DWORD POLL_MS = 100;
static const DWORD REQUEST_WAIT_MS = ScaledWaitMs(5000);
const DWORD LOOPBACK_ACCEPT_TIMEOUT_MS = ScaledWaitMs(30000);
static const size_t REQUEST_LIMIT = 65536;

LoopbackStep SendBytes(const std::string& bytes) { return LoopbackStep{LOOPBACK_SEND, bytes, 0}; }
LoopbackStep Pause(DWORD milliseconds) { return LoopbackStep{LOOPBACK_PAUSE, "", milliseconds}; }
LoopbackStep CloseConnection() { return LoopbackStep{LOOPBACK_CLOSE, "", 0}; }
LoopbackStep ResetConnection() { return LoopbackStep{LOOPBACK_RESET, "", 0}; }
LoopbackStep AwaitClientClose(DWORD milliseconds) {
  return LoopbackStep{LOOPBACK_AWAIT_CLOSE, "", milliseconds};
}

LoopbackStep SendPattern(long long end, long long from) { return LoopbackStep{LOOPBACK_SEND_PATTERN, "", 0, end, from}; }

static const long long PATTERN_BLOCK = 65536;

static char PatternByte(long long offset) {
  long long block = offset / PATTERN_BLOCK;
  long long within = offset % PATTERN_BLOCK;
  if (within < 8) return static_cast<char>((block * PATTERN_BLOCK) >> (8 * within));
  return static_cast<char>(within * 7);
}

std::string PatternAt(long long offset, size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = PatternByte(offset + static_cast<long long>(i));
  return bytes;
}

LoopbackScript FileResponse(const std::string& body) {
  char head[96];
  snprintf(head, sizeof head, "HTTP/1.1 200 OK\r\nContent-Length: %u\r\n\r\n",
           (unsigned)body.size());
  return LoopbackScript{SendBytes(head + body), CloseConnection()};
}

// True when `socket` has something to read (or was closed) within `milliseconds`.
static bool Readable(SOCKET socket, DWORD milliseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait = {(long)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000};
  return select(0, &set, NULL, NULL, &wait) == 1;
}

static SOCKET AcceptWithin(LoopbackServer* server) {
  DWORD rounds = server->acceptTimeoutMs / POLL_MS + 1;
  for (DWORD round = 0; round < rounds && !server->stopping; ++round) {
    if (Readable(server->listener, POLL_MS)) return accept(server->listener, NULL, NULL);
  }
  return INVALID_SOCKET;
}

// Up to and including the empty line that ends the head, or whatever came
// before the client closed, went silent, or sent too much.
static std::string ReadRequest(SOCKET client) {
  std::string request;
  char buffer[1024];
  while (request.size() < REQUEST_LIMIT && request.find("\r\n\r\n") == std::string::npos) {
    if (!Readable(client, REQUEST_WAIT_MS)) break;
    int got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, (size_t)got);
  }
  return request;
}

static std::string RequestPath(const std::string& request) {
  if (request.compare(0, 4, "GET ") != 0) return "";
  size_t end = request.find(' ', 4);
  return end == std::string::npos ? "" : request.substr(4, end - 4);
}

static const LoopbackRoute* FindRoute(const LoopbackServer* server, const std::string& path) {
  for (const LoopbackRoute& route : server->routes)
    if (route.path.empty() || route.path == path) return &route;
  return NULL;
}

// True when every byte went.
static bool SendAll(LoopbackServer* server, SOCKET client, const char* bytes, size_t size) {
  size_t sent = 0;
  while (sent < size) {
    int chunk = size - sent > 65536 ? 65536 : (int)(size - sent);
    int got = send(client, bytes + sent, chunk, 0);
    if (got <= 0) return false;
    sent += (size_t)got;
    std::lock_guard<std::mutex> hold(*server->guard);
    server->bytesSent += (size_t)got;
  }
  return true;
}

static void SendAll(LoopbackServer* server, SOCKET client, const std::string& bytes) {
  SendAll(server, client, bytes.data(), bytes.size());
}

// The generated body from `from` up to `end`, a block at a time, until it is
// sent or the client goes.
static void SendPatternBody(LoopbackServer* server, SOCKET client, long long from, long long end) {
  std::string block = PatternAt(0, PATTERN_BLOCK);
  for (long long at = from - from % PATTERN_BLOCK; at < end; at += PATTERN_BLOCK) {
    // Only the offset at its start differs from block to block.
    for (int i = 0; i < 8; ++i) block[i] = PatternByte(at + i);
    long long first = from > at ? from - at : 0;
    long long last = end - at < PATTERN_BLOCK ? end - at : PATTERN_BLOCK;
    if (!SendAll(server, client, block.data() + first, static_cast<size_t>(last - first))) return;
  }
}

static void AwaitClose(SOCKET client, DWORD milliseconds) {
  char scratch[512];
  DWORD rounds = milliseconds / POLL_MS + 1;
  for (DWORD round = 0; round < rounds; ++round) {
    if (!Readable(client, POLL_MS)) continue;
    if (recv(client, scratch, sizeof scratch, 0) <= 0) return;
  }
}

static void RunScript(LoopbackServer* server, SOCKET client, const LoopbackScript& script) {
  for (const LoopbackStep& step : script) {
    switch (step.action) {
      case LOOPBACK_SEND:
        SendAll(server, client, step.bytes);
        break;
      case LOOPBACK_PAUSE:
        Sleep(step.milliseconds);
        break;
      case LOOPBACK_CLOSE:
        closesocket(client);
        return;
      case LOOPBACK_RESET: {
        linger abortive = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, (const char*)&abortive, sizeof abortive);
        closesocket(client);
        return;
      }
      case LOOPBACK_AWAIT_CLOSE:
        AwaitClose(client, step.milliseconds);
        break;
      case LOOPBACK_SEND_PATTERN:
        SendPatternBody(server, client, step.patternFrom, step.patternEnd);
        break;
    }
  }
  closesocket(client);
}

static void ServeConnection(LoopbackServer* server, SOCKET client, int served) {
  static const LoopbackScript notFound = {
      SendBytes("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), CloseConnection()};
  std::string request = ReadRequest(client);
  {
    std::lock_guard<std::mutex> hold(*server->guard);
    server->requests.push_back(request);
  }
  const LoopbackRoute* route = FindRoute(server, RequestPath(request));
  if (route == NULL)
    RunScript(server, client, notFound);
  else
    RunScript(server, client, route->respond ? route->respond(request, served) : route->script);
}

static DWORD WINAPI LoopbackThread(LPVOID parameter) {
  LoopbackServer* server = (LoopbackServer*)parameter;
  std::vector<std::thread> running;
  for (int served = 0; served < server->connections && !server->stopping; ++served) {
    SOCKET client = AcceptWithin(server);
    if (client == INVALID_SOCKET) break;
    if (server->concurrent)
      running.emplace_back(ServeConnection, server, client, served);
    else
      ServeConnection(server, client, served);
  }
  // Whoever comes later is refused at once, not left waiting in the backlog.
  closesocket(server->listener);
  server->listener = INVALID_SOCKET;
  for (std::thread& connection : running) connection.join();
  return 0;
}

static void ReleaseServer(LoopbackServer* server) {
  if (server->thread != NULL) {
    CloseHandle(server->thread);
    server->thread = NULL;
  }
  if (server->winsockStarted && server->listener != INVALID_SOCKET) {
    closesocket(server->listener);
    server->listener = INVALID_SOCKET;
  }
  if (server->winsockStarted) {
    WSACleanup();
    server->winsockStarted = false;
  }
}

bool StartLoopbackRoutes(LoopbackServer* server, const std::vector<LoopbackRoute>& routes,
                         int connections) {
  WSADATA winsock;
  sockaddr_in6 address;  // or the sockaddr_in at its start
  sockaddr_in* address4 = reinterpret_cast<sockaddr_in*>(&address);
  int addressLength = sizeof address;

  server->routes = routes;
  server->connections = connections;
  if (server->acceptTimeoutMs == 0) server->acceptTimeoutMs = LOOPBACK_ACCEPT_TIMEOUT_MS;
  server->listener = INVALID_SOCKET;
  server->thread = NULL;
  server->port = 0;
  server->stopping = 0;
  server->requests.clear();
  server->bytesSent = 0;
  static std::mutex guard;
  server->guard = &guard;
  server->winsockStarted = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
  if (!server->winsockStarted) return false;

  server->listener = socket(server->ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ZeroMemory(&address, sizeof address);
  address.sin6_family = server->ipv6 ? AF_INET6 : AF_INET;
  if (server->ipv6)
    address.sin6_addr = in6addr_loopback;
  else
    address4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (server->listener == INVALID_SOCKET ||
      bind(server->listener, (sockaddr*)&address, server->ipv6 ? sizeof address : sizeof *address4) ==
          SOCKET_ERROR ||
      listen(server->listener, 8) == SOCKET_ERROR ||
      getsockname(server->listener, (sockaddr*)&address, &addressLength) == SOCKET_ERROR) {
    ReleaseServer(server);
    return false;
  }
  server->port = ntohs(address.sin6_port);  // where sin_port is too
  server->thread = CreateThread(NULL, 0, LoopbackThread, server, 0, NULL);
  if (server->thread == NULL) {
    ReleaseServer(server);
    return false;
  }
  return true;
}

bool StartLoopbackServer(LoopbackServer* server, const LoopbackScript& script) {
  return StartLoopbackRoutes(server, {LoopbackRoute{"", script}}, 1);
}

bool WaitLoopbackServer(LoopbackServer* server, DWORD timeoutMs) {
  bool endedByItself = true;
  if (server->thread != NULL) {
    endedByItself = WaitForSingleObject(server->thread, timeoutMs) == WAIT_OBJECT_0;
    if (!endedByItself) {
      // The accept loop sees the flag within one poll; a running script is bounded by its own steps.
      InterlockedExchange(&server->stopping, 1);
      WaitForSingleObject(server->thread, LOOPBACK_ACCEPT_TIMEOUT_MS);
    }
  }
  ReleaseServer(server);
  return endedByItself;
}

void StopLoopbackServer(LoopbackServer* server) {
  InterlockedExchange(&server->stopping, 1);
  WaitLoopbackServer(server, LOOPBACK_ACCEPT_TIMEOUT_MS);
}

std::string LoopbackUrl(const LoopbackServer* server, const std::string& path) {
  return (server->ipv6 ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(server->port) + path;
}

unsigned short UnusedLoopbackPort() {
  WSADATA winsock;
  sockaddr_in address;
  int addressLength = sizeof address;
  unsigned short port = 0;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 0;
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ZeroMemory(&address, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (probe != INVALID_SOCKET) {
    if (bind(probe, (sockaddr*)&address, sizeof address) == 0 &&
        getsockname(probe, (sockaddr*)&address, &addressLength) == 0)
      port = ntohs(address.sin_port);
    closesocket(probe);
  }
  WSACleanup();
  return port;
}

ServedTry Serve(const std::string& body, const std::string& validators, long breakAt, LoopbackAction how) {
  return ServedTry{body, validators, breakAt, how, ""};
}

ServedTry Answer(const std::string& bytes, LoopbackAction how) { return ServedTry{"", "", -1, how, bytes}; }

// The value of the request's header line `name` ("Range: "), or "" without one.
static std::string RequestHeader(const std::string& request, const std::string& name) {
  size_t at = request.find("\r\n" + name);
  if (at == std::string::npos) return "";
  at += 2 + name.size();
  return request.substr(at, request.find("\r\n", at) - at);
}

// Sent bytes, then the end; a reset waits a moment first, or it could overtake them.
static LoopbackScript SendThenEnd(const std::string& bytes, LoopbackAction how) {
  LoopbackScript script{SendBytes(bytes)};
  if (how == LOOPBACK_RESET) script.push_back(Pause(200));
  script.push_back(LoopbackStep{how, "", how == LOOPBACK_AWAIT_CLOSE ? LOOPBACK_ACCEPT_TIMEOUT_MS : 0});
  return script;
}

LoopbackResponder ServeTries(const std::vector<ServedTry>& tries) {
  return [tries](const std::string& request, int connection) {
    const ServedTry& serve = tries[std::min<size_t>((size_t)connection, tries.size() - 1)];
    if (!serve.answer.empty()) return SendThenEnd(serve.answer, serve.how);
    std::string validator = RequestHeader("\r\n" + serve.validators, "ETag: ");
    if (validator.empty()) validator = RequestHeader("\r\n" + serve.validators, "Last-Modified: ");
    std::string range = RequestHeader(request, "Range: bytes=");
    size_t size = serve.body.size(), from = 0;
    std::string head = "HTTP/1.1 200 OK\r\n";
    size_t end = size;  // behind the last byte asked for
    if (!range.empty() && !validator.empty() && RequestHeader(request, "If-Range: ") == validator) {
      from = (size_t)atol(range.c_str());
      size_t dash = range.find('-');
      if (dash + 1 < range.size()) end = std::min(size, (size_t)atol(range.c_str() + dash + 1) + 1);
      head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
             std::to_string(end - 1) + "/" + std::to_string(size) + "\r\n";
    }
    head += "Content-Length: " + std::to_string(end - from) + "\r\n" + serve.validators + "\r\n";
    size_t to = serve.breakAt >= 0 && (size_t)serve.breakAt >= from && (size_t)serve.breakAt < end ? serve.breakAt : end;
    if (serve.breakAfter > 0 && serve.breakAfter < to - from) to = from + serve.breakAfter;
    return SendThenEnd(head + serve.body.substr(from, to - from), to < end ? serve.how : LOOPBACK_CLOSE);
  };
}
