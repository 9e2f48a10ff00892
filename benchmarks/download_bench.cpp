// Times DownloadToFile against a bare Winsock loop with the same 4,096-byte
// receives and WriteFile calls (the most the client's design can reach here),
// and DownloadToFile followed by the payload pin check (the file read back and
// hashed), DownloadToFile of the same body from ".../broken3.bin", whose
// server cuts the connection at a quarter, a half and three quarters (with
// the shipped pauses between the tries, and without them); given an https://
// address of the same body and the CA that signed its server's certificate,
// DownloadToFile over HTTPS as well; given the digest of the key that signs
// the body (a signed exe), DownloadToFile followed by the publisher pin check
// instead of the SHA-256 one.
// Usage: download_bench.exe URL RUNS [HTTPS_URL CA_DER_FILE [SIGNER_DIGEST]].
// Prints one "rate"
// line per contender, in MB/s (10^6 bytes), the median of RUNS runs, the
// check's own time, and the median of the runs' ratios, for
// scripts/bench-download.sh.
// Or: download_bench.exe --connections N URL TARGET: one DownloadToFile of URL
// into TARGET, given N as its number of connections; prints "seconds S", for
// scripts/bench-parallel.sh.
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <ws2tcpip.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "config/setup_config.h"
#include "download/download_file.h"
#include "download/http_client.h"
#include "http/url.h"
#include "http/request.h"
#include "http/head.h"
#include "http/head_reader.h"
#include "http/body_rules.h"
#include "install/file_digest.h"
#include "install/payload_check.h"
#include "install/signer_pin.h"

static void IgnoreProgress(DownloadStep, int) {}

static double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

static long long FileSize(const WCHAR* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
  return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// The same socket set-up, request and one-byte head reads as the client, then the
// plainest body loop: no percentages, no checks, no log.
static long long BareDownload(const char* url, const WCHAR* targetPath) {
  char host[HOST_BUFFER_SIZE], path[PATH_BUFFER_SIZE], port[PORT_BUFFER_SIZE];
  char request[REQUEST_BUFFER_SIZE], chunk[BODY_CHUNK_SIZE];
  const char* refusal = "";
  addrinfo hints = {};
  addrinfo* addresses = NULL;
  long long received = -1;
  if (SplitUrl(url, host, path, port, &refusal) != URL_SPLIT) return -1;
  int requestLength = BuildRequest(host, path, port, request);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (getaddrinfo(host, port, &hints, &addresses) != 0) return -1;
  SOCKET connection = socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
  DWORD timeout = HTTP_RECEIVE_TIMEOUT_MS;
  if (connection != INVALID_SOCKET)
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout);
  if (connection != INVALID_SOCKET &&
      connect(connection, addresses->ai_addr, (int)addresses->ai_addrlen) == 0 &&
      send(connection, request, requestLength, 0) == requestLength) {
    HeadReader reader;
    BeginHeadReader(&reader, HEAD_SIZE_LIMIT, GetTickCount(), HEAD_TIME_LIMIT_MS);
    ReceiveHead(connection, &reader);
    const HeadState& head = reader.head;
    HANDLE file = CreateFileW(targetPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      received = 0;
      while (received < head.contentLength) {
        int got = recv(connection, chunk, BodyReceiveSize(head.contentLength, received), 0);
        if (got <= 0) break;
        DWORD wrote = 0;
        WriteFile(file, chunk, (DWORD)got, &wrote, NULL);
        received += got;
      }
      CloseHandle(file);
    }
  }
  if (connection != INVALID_SOCKET) closesocket(connection);
  freeaddrinfo(addresses);
  return received;
}

static double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The pin checks as setup.exe makes them after a download: the SHA-256 pin
// (the written file read back and hashed) or the publisher pin (its signature
// verified, its signer's key compared), each alone: the other key is one that
// the configuration does not give.
static bool CheckPin(const WCHAR* target, bool publisher) {
  HANDLE held = INVALID_HANDLE_VALUE;
  InstallerPins pins;
  ReadInstallerPins(publisher ? L"none" : PRODUCT_PIN_KEY_V4, publisher ? PRODUCT_SIGNER_KEY : L"none", &pins);
  bool matched = CheckPinnedDownload(target, pins, &held) == PIN_MATCHED;
  ReleasePinnedDownload(&held);
  return matched;
}

// The file's digest, for the pin the measured runs check against (not timed).
static bool LearnPin(const WCHAR* target, const char* signerDigest) {
  HANDLE file = CreateFileW(target, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char digest[SHA256_SIZE];
  bool hashed = DigestFile(file, digest) == DIGEST_OK;
  CloseHandle(file);
  wchar_t text[PIN_DIGITS + 1];
  FormatDigest(digest, text);
  wchar_t line[64 + 2 * PIN_DIGITS];
  _snwprintf(line, 64 + 2 * PIN_DIGITS, L"%ls=%ls\n%ls=%hs\n", PRODUCT_PIN_KEY_V4, text, PRODUCT_SIGNER_KEY, signerDigest);
  line[63 + 2 * PIN_DIGITS] = L'\0';
  return hashed && ParseConfigText(line, lstrlenW(line), &SetupConfig) == CONFIG_PARSED;
}

// Puts the CA into the local machine's trusted roots, where the HTTP library looks.
static bool TrustCa(const char* derPath) {
  HANDLE file = CreateFileA(derPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  BYTE der[16384];
  DWORD size = 0;
  BOOL read = ReadFile(file, der, sizeof der, &size, NULL);
  CloseHandle(file);
  HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!read || roots == NULL) return false;
  BOOL added = CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, der, size, CERT_STORE_ADD_USE_EXISTING, NULL);
  CertCloseStore(roots, 0);
  return added != FALSE;
}

enum Contender { CLIENT, BARE, PINNED, BROKEN, BROKEN_NO_PAUSES, HTTPS, SIGNED, CONTENDERS };
static const char* const NAMES[CONTENDERS] = {"DownloadToFile",          "bare loop",
                                              "DownloadToFile+pin",      "DownloadToFile broken 3 times",
                                              "broken 3 times, no pauses", "DownloadToFile https",
                                              "DownloadToFile+signer"};

// One download given `connections`, timed; the file stays for the caller to compare.
static int TimeOneDownload(const char* connections, const char* url, const char* target) {
  WCHAR wideUrl[URL_BUFFER_SIZE];
  WCHAR wideTarget[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, URL_BUFFER_SIZE);
  MultiByteToWideChar(CP_ACP, 0, target, -1, wideTarget, MAX_PATH);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  int result = DownloadToFile(wideUrl, wideTarget, IgnoreProgress, DownloadLimits{atoi(connections), 0});
  QueryPerformanceCounter(&end);
  if (result != DOWNLOAD_OK) {
    fprintf(stderr, "DownloadToFile failed: %d\n", result);
    return 1;
  }
  printf("seconds %.3f\n", Seconds(start, end));
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "--connections") == 0) return TimeOneDownload(argv[2], argv[3], argv[4]);
  if (argc < 3 || argc == 4 || argc > 6) {
    fprintf(stderr, "usage: download_bench URL RUNS [HTTPS_URL CA_DER_FILE [SIGNER_DIGEST]]\n"
                    "       download_bench --connections N URL TARGET\n");
    return 2;
  }
  const char* url = argv[1];
  int runs = atoi(argv[2]);
  if (runs < 1 || runs > 20) runs = 3;
  WCHAR wideUrl[URL_BUFFER_SIZE];
  MultiByteToWideChar(CP_ACP, 0, url, -1, wideUrl, URL_BUFFER_SIZE);
  int contenders = argc == 6 ? CONTENDERS : argc == 5 ? SIGNED : HTTPS;
  const char* signerDigest = argc == 6 ? argv[5] : "";
  WCHAR httpsUrl[URL_BUFFER_SIZE] = L"";
  // The same server's address that breaks three times: the last path segment replaced.
  WCHAR brokenUrl[URL_BUFFER_SIZE];
  lstrcpyW(brokenUrl, wideUrl);
  WCHAR* lastSlash = wcsrchr(brokenUrl, L'/');
  if (lastSlash == NULL || lastSlash - brokenUrl > URL_BUFFER_SIZE - 16) return 2;
  lstrcpyW(lastSlash, L"/broken3.bin");
  if (argc >= 5) {
    MultiByteToWideChar(CP_ACP, 0, argv[3], -1, httpsUrl, URL_BUFFER_SIZE);
    if (!TrustCa(argv[4])) {
      fprintf(stderr, "the CA %s could not be trusted\n", argv[4]);
      return 1;
    }
  }
  WCHAR target[MAX_PATH];
  GetTempPathW(MAX_PATH - 32, target);
  // Named as an installer is: the system tells a signed exe by its contents, but some look at the name.
  lstrcatW(target, L"download-bench.exe");

  WSADATA winsock;
  WSAStartup(MAKEWORD(2, 2), &winsock);
  if (DownloadToFile(wideUrl, target, IgnoreProgress) != DOWNLOAD_OK || !LearnPin(target, signerDigest)) {
    fprintf(stderr, "the first download, for the pin, failed\n");
    return 1;
  }
  DeleteFileW(target);
  std::vector<double> rates[CONTENDERS], seconds[CONTENDERS], checks, signerChecks;
  long long size = 0;
  // The contenders take turns at going first, so that none always gets a cold or warm start.
  for (int run = 0; run < runs; ++run) {
    for (int turn = 0; turn < contenders; ++turn) {
      Contender contender = static_cast<Contender>((turn + run) % contenders);
      const WCHAR* address = contender == HTTPS ? httpsUrl : wideUrl;
      if (contender == BROKEN || contender == BROKEN_NO_PAUSES) address = brokenUrl;
      DownloadSettings.pausePercent = contender == BROKEN_NO_PAUSES ? 0 : 100;
      LARGE_INTEGER start, downloaded, end;
      QueryPerformanceCounter(&start);
      long long received = contender == BARE ? BareDownload(url, target)
                                             : (DownloadToFile(address, target, IgnoreProgress) == DOWNLOAD_OK ? 0 : -1);
      QueryPerformanceCounter(&downloaded);
      bool checked = (contender != PINNED && contender != SIGNED) || (received == 0 && CheckPin(target, contender == SIGNED));
      QueryPerformanceCounter(&end);
      long long written = FileSize(target);
      DeleteFileW(target);
      if (contender != BARE) received = received == 0 ? written : -1;
      if (!checked || received <= 0 || written != received || (size != 0 && written != size)) {
        fprintf(stderr, "%s failed: %lld received, %lld written%s\n", NAMES[contender], received, written,
                checked ? "" : ", pin not matched");
        return 1;
      }
      size = written;
      double rate = (double)size / Seconds(start, end) / 1e6;
      rates[contender].push_back(rate);
      seconds[contender].push_back(Seconds(start, end));
      if (contender == PINNED) checks.push_back(Seconds(downloaded, end));
      if (contender == SIGNED) signerChecks.push_back(Seconds(downloaded, end));
      printf("run %d %s %.1f MB/s\n", run + 1, NAMES[contender], rate);
      fflush(stdout);
    }
  }
  WSACleanup();
  printf("bytes %lld\n", size);
  printf("rate DownloadToFile %.2f\n", Median(rates[CLIENT]));
  printf("rate bare %.2f\n", Median(rates[BARE]));
  printf("rate pinned %.2f\n", Median(rates[PINNED]));
  if (contenders > HTTPS) printf("rate https %.2f\n", Median(rates[HTTPS]));
  if (contenders > SIGNED) printf("rate signer %.2f\n", Median(rates[SIGNED]));
  if (contenders > SIGNED) printf("signer check seconds %.4f\n", Median(signerChecks));
  printf("seconds unbroken %.2f\n", Median(seconds[CLIENT]));
  printf("seconds broken %.2f\n", Median(seconds[BROKEN]));
  printf("seconds broken-no-pauses %.2f\n", Median(seconds[BROKEN_NO_PAUSES]));
  // The check alone, as a rate over the file's size.
  printf("check seconds %.4f\n", Median(checks));
  // Each run's downloads follow each other closely, so their ratios drift less
  // with the machine's load than the rates themselves.
  std::vector<double> ratios, pinnedRatios, httpsRatios, signerRatios, brokenRatios, noPauseRatios;
  for (int run = 0; run < runs; ++run) {
    ratios.push_back(rates[CLIENT][run] / rates[BARE][run]);
    brokenRatios.push_back(seconds[BROKEN][run] / seconds[CLIENT][run]);
    noPauseRatios.push_back(seconds[BROKEN_NO_PAUSES][run] / seconds[CLIENT][run]);
    pinnedRatios.push_back(rates[PINNED][run] / rates[CLIENT][run]);
    if (contenders > HTTPS) httpsRatios.push_back(rates[HTTPS][run] / rates[CLIENT][run]);
    if (contenders > SIGNED) signerRatios.push_back(rates[SIGNED][run] / rates[PINNED][run]);
  }
  printf("ratio %.4f\n", Median(ratios));
  printf("ratio pinned %.4f\n", Median(pinnedRatios));
  printf("ratio broken %.4f\n", Median(brokenRatios));
  printf("ratio broken-no-pauses %.4f\n", Median(noPauseRatios));
  if (contenders > HTTPS) printf("ratio https %.4f\n", Median(httpsRatios));
  if (contenders > SIGNED) printf("ratio signer %.4f\n", Median(signerRatios));
  return 0;
}
