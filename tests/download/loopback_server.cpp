#include "loopback_server.h"

#include <stdio.h>
#include <ws2tcpip.h>

static const DWORD POLL_MS = 100;
static const DWORD REQUEST_WAIT_MS = 5000;
static const size_t REQUEST_LIMIT = 65536;

LoopbackStep SendBytes(const std::string& bytes) { return LoopbackStep{LOOPBACK_SEND, bytes, 0}; }
LoopbackStep Pause(DWORD milliseconds) { return LoopbackStep{LOOPBACK_PAUSE, "", milliseconds}; }
LoopbackStep CloseConnection() { return LoopbackStep{LOOPBACK_CLOSE, "", 0}; }
LoopbackStep ResetConnection() { return LoopbackStep{LOOPBACK_RESET, "", 0}; }
LoopbackStep AwaitClientClose(DWORD milliseconds) {
  return LoopbackStep{LOOPBACK_AWAIT_CLOSE, "", milliseconds};
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

static const LoopbackScript* FindScript(const LoopbackServer* server, const std::string& path) {
  for (const LoopbackRoute& route : server->routes)
    if (route.path.empty() || route.path == path) return &route.script;
  return NULL;
}

static void SendAll(SOCKET client, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int chunk = bytes.size() - sent > 65536 ? 65536 : (int)(bytes.size() - sent);
    int got = send(client, bytes.data() + sent, chunk, 0);
    if (got <= 0) return;
    sent += (size_t)got;
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

static void RunScript(SOCKET client, const LoopbackScript& script) {
  for (const LoopbackStep& step : script) {
    switch (step.action) {
      case LOOPBACK_SEND:
        SendAll(client, step.bytes);
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
    }
  }
  closesocket(client);
}

static DWORD WINAPI LoopbackThread(LPVOID parameter) {
  LoopbackServer* server = (LoopbackServer*)parameter;
  static const LoopbackScript notFound = {
      SendBytes("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"), CloseConnection()};
  for (int served = 0; served < server->connections && !server->stopping; ++served) {
    SOCKET client = AcceptWithin(server);
    if (client == INVALID_SOCKET) break;
    std::string request = ReadRequest(client);
    server->requests.push_back(request);
    const LoopbackScript* script = FindScript(server, RequestPath(request));
    RunScript(client, script != NULL ? *script : notFound);
  }
  // Whoever comes later is refused at once, not left waiting in the backlog.
  closesocket(server->listener);
  server->listener = INVALID_SOCKET;
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
  sockaddr_in address;
  int addressLength = sizeof address;

  server->routes = routes;
  server->connections = connections;
  if (server->acceptTimeoutMs == 0) server->acceptTimeoutMs = LOOPBACK_ACCEPT_TIMEOUT_MS;
  server->listener = INVALID_SOCKET;
  server->thread = NULL;
  server->port = 0;
  server->stopping = 0;
  server->requests.clear();
  server->winsockStarted = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
  if (!server->winsockStarted) return false;

  server->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ZeroMemory(&address, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (server->listener == INVALID_SOCKET ||
      bind(server->listener, (sockaddr*)&address, sizeof address) == SOCKET_ERROR ||
      listen(server->listener, 8) == SOCKET_ERROR ||
      getsockname(server->listener, (sockaddr*)&address, &addressLength) == SOCKET_ERROR) {
    ReleaseServer(server);
    return false;
  }
  server->port = ntohs(address.sin_port);
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
  return "http://127.0.0.1:" + std::to_string(server->port) + path;
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
