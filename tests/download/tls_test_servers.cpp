#include "tls_test_servers.h"

#include <windows.h>
#include <wincrypt.h>

#include <stdlib.h>

#include "test_files.h"

static std::string Variable(const char* name) {
  const char* value = getenv(name);
  return value != NULL ? value : "";
}

static std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

static std::wstring RoutesFolder() {
  return Wide(Variable("SETUP_TLS_ROUTES"));
}

bool TlsServersRunning() {
  return !Variable("SETUP_TLS_CA").empty() && !Variable("SETUP_TLS_ROUTES").empty();
}

bool ImportTestCa() {
  std::string der = ReadFileBytes(Wide(Variable("SETUP_TLS_CA")));
  if (der.empty()) return false;
  HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (roots == NULL) return false;
  BOOL added = CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, NULL);
  CertCloseStore(roots, 0);
  return added != FALSE;
}

static unsigned short PortOf(const char* name) {
  return static_cast<unsigned short>(atoi(Variable(name).c_str()));
}

unsigned short TlsPort(TlsServer server) {
  static const char* const NAMES[] = {"SETUP_TLS_PORT_TRUSTED", "SETUP_TLS_PORT_UNTRUSTED",
                                      "SETUP_TLS_PORT_WRONG_NAME", "SETUP_TLS_PORT_EXPIRED"};
  return PortOf(NAMES[server]);
}

unsigned short TlsProxyPort() {
  return PortOf("SETUP_TLS_PROXY_PORT");
}

std::string TlsUrl(TlsServer server, const std::string& path) {
  return "https://localhost:" + std::to_string(TlsPort(server)) + path;
}

static bool AddRoute(const std::string& path, const std::string& file) {
  std::wstring table = RoutesFolder() + L"\\routes.txt";
  return WriteFileBytes(table, ReadFileBytes(table) + path + "\t" + file + "\n");
}

static int RouteCounter;

bool ServeTlsRoute(const std::string& path, const std::string& response, bool thenStall) {
  std::string file = "answer-" + std::to_string(++RouteCounter);
  return WriteFileBytes(RoutesFolder() + L"\\" + Wide(file), response) &&
         AddRoute(path, (thenStall ? "!stall:" : "") + file);
}

bool RelayTlsRoute(const std::string& path, unsigned short port) {
  return AddRoute(path, "!relay:" + std::to_string(port));
}

std::string TlsFileResponse(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Records of "NAME LENGTH\n" followed by LENGTH bytes and "\n".
static std::vector<TlsRequest> ReadRecords(const wchar_t* log) {
  std::vector<TlsRequest> records;
  std::string bytes = ReadFileBytes(RoutesFolder() + L"\\" + log);
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) break;
    std::string header = bytes.substr(at, end - at);
    size_t blank = header.find(' ');
    if (blank == std::string::npos) break;
    size_t length = static_cast<size_t>(atol(header.c_str() + blank + 1));
    records.push_back(TlsRequest{header.substr(0, blank), bytes.substr(end + 1, length)});
    at = end + 1 + length + 1;
  }
  return records;
}

std::vector<TlsRequest> TlsRequests() {
  return ReadRecords(L"requests.log");
}

std::vector<std::string> TlsProxyRequests() {
  std::vector<std::string> lines;
  for (const TlsRequest& record : ReadRecords(L"proxy.log")) lines.push_back(record.bytes);
  return lines;
}

static const WCHAR CONNECTIONS_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// A version-counted record: the flags, then the proxy, its bypass list and the script's address.
static void AppendCounted(std::string* record, const std::string& text) {
  DWORD length = static_cast<DWORD>(text.size());
  record->append(reinterpret_cast<const char*>(&length), sizeof length);
  record->append(text);
}

bool SetUserProxySettings(unsigned long flags, const std::string& proxy, const std::string& bypass,
                          const std::string& script) {
  const DWORD head[3] = {0x46, 1, static_cast<DWORD>(flags)};
  std::string record(reinterpret_cast<const char*>(head), sizeof head);
  AppendCounted(&record, proxy);
  AppendCounted(&record, bypass);
  AppendCounted(&record, script);
  record.append(32, '\0');
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, CONNECTIONS_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    return false;
  LONG set = RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(record.data()), static_cast<DWORD>(record.size()));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

void ClearUserProxySettings() {
  // Back to the test prefix's "direct" (tests/harness/prefix-settings.reg).
  SetUserProxySettings(SETTINGS_DIRECT, "", "", "");
}
