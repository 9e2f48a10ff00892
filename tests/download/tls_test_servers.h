// The local TLS servers as a test program sees them: tests/harness/tls_servers.py
// starts them around the program and passes their ports and folders in the
// environment. A test writes the answers each server gives (a route table in
// a folder shared with the host), imports the test CA into the prefix's trusted
// roots, and reads back what the servers and the proxy were asked.
#pragma once

#include <string>
#include <vector>

// The four servers, each with its own certificate.
enum TlsServer {
  TLS_TRUSTED,     // "localhost", issued by the test CA
  TLS_UNTRUSTED,   // "localhost", issued by a CA that is never imported
  TLS_WRONG_NAME,  // "other.example", issued by the test CA
  TLS_EXPIRED,     // "localhost", issued by the test CA, expired in 2020
};

// True when the program runs inside tls_servers.py (the environment is there).
bool TlsServersRunning();

// Imports the test CA into the local machine's trusted roots (the one store
// that the system's HTTP library trusts here). True when it is there.
bool ImportTestCa();

unsigned short TlsPort(TlsServer server);
unsigned short TlsProxyPort();
// "https://localhost:<port><path>"
std::string TlsUrl(TlsServer server, const std::string& path);

// Every server answers a request for `path` with exactly `response` (head and
// body), then closes the connection; or, `thenStall`, sends nothing more and
// waits until the client gives up.
bool ServeTlsRoute(const std::string& path, const std::string& response, bool thenStall = false);
// Every server passes a request for `path`, and all that follows it both ways,
// to the plain HTTP server on 127.0.0.1:`port` (a loopback server's script).
bool RelayTlsRoute(const std::string& path, unsigned short port);
// "HTTP/1.1 200 OK", the exact Content-Length of `body`, the body.
std::string TlsFileResponse(const std::string& body);

struct TlsRequest {
  std::string server;  // "trusted", "untrusted", "wrong-name" or "expired"
  std::string bytes;   // the request's head as it arrived
};
// The requests the servers read, in order; the proxy's CONNECT lines.
std::vector<TlsRequest> TlsRequests();
std::vector<std::string> TlsProxyRequests();

// The user's Internet settings as the browser stores them (flags: direct,
// a fixed proxy with its bypass list, a proxy script), and the test prefix's
// own again ("direct" only).
const unsigned long SETTINGS_DIRECT = 0x1, SETTINGS_PROXY = 0x2, SETTINGS_SCRIPT = 0x4;
bool SetUserProxySettings(unsigned long flags, const std::string& proxy, const std::string& bypass,
                          const std::string& script);
void ClearUserProxySettings();
