#include "download/https_protocol.h"

#include <stddef.h>


DownloadStep HttpsStepOfNotice(unsigned long notice) {
  if (notice == HTTPS_NOTICE_CONNECTING_TO_SERVER) return STEP_CONNECTING;
  if (notice == HTTPS_NOTICE_SENDING_REQUEST) return STEP_SENDING;
  return STEP_LOOKING_UP;
}

// The library's steps follow each other in the order of DownloadStep.
static_assert(STEP_CONNECTING == STEP_LOOKING_UP + 1 && STEP_SENDING == STEP_CONNECTING + 1 &&
                  STEP_PARSING == STEP_SENDING + 1,
              "the library's steps in a row");

void ReachHttpsStep(DownloadStep* reached, DownloadStep step, ProgressCallback progress) {
  while (*reached < step) {
    *reached = static_cast<DownloadStep>(*reached + 1);
    if (progress != NULL) progress(*reached, PROGRESS_HIDDEN);
  }
}

struct CodeMeaning {
  unsigned long code;
  const char* meaning;
};

// The codes a download can meet; the names in the comments are the library's.
// Some versions of the library hand on the network's own codes.
static const CodeMeaning MEANINGS[] = {
    {10053, "the connection was aborted"},                           // WSAECONNABORTED
    {10054, "the connection was reset by the server"},               // WSAECONNRESET
    {10060, "timed out: the server did not answer in time"},         // WSAETIMEDOUT
    {10061, "the server refused the connection"},                    // WSAECONNREFUSED
    {12001, "out of handles"},                                        // OUT_OF_HANDLES
    {12002, "timed out: the server did not answer in time"},         // TIMEOUT
    {12004, "internal error of the http library"},                   // INTERNAL_ERROR
    {12005, "invalid url"},                                          // INVALID_URL
    {12006, "unrecognized scheme"},                                  // UNRECOGNIZED_SCHEME
    {12007, "the server name could not be resolved"},                // NAME_NOT_RESOLVED
    {12009, "invalid option"},                                       // INVALID_OPTION
    {12012, "the http library is shutting down"},                    // SHUTDOWN
    {12015, "login failure"},                                        // LOGIN_FAILURE
    {12017, "operation cancelled"},                                  // OPERATION_CANCELLED
    {12029, "could not connect to the server"},                      // CANNOT_CONNECT
    {12030, "the connection was reset or closed"},                   // CONNECTION_ERROR
    {12032, "the request would have to be sent again"},              // RESEND_REQUEST
    {12037, "the certificate has expired or is not yet valid"},      // SECURE_CERT_DATE_INVALID
    {12038, "the certificate does not name this host"},              // SECURE_CERT_CN_INVALID
    {12044, "the server asks for a client certificate"},             // CLIENT_AUTH_CERT_NEEDED
    {12045, "the certificate's issuer is not trusted"},              // SECURE_INVALID_CA
    {12057, "the certificate's revocation could not be checked"},    // SECURE_CERT_REV_FAILED
    {12150, "a header is missing"},                                  // HEADER_NOT_FOUND
    {12152, "the server's answer is not valid http"},                // INVALID_SERVER_RESPONSE
    {12156, "the redirect failed"},                                  // REDIRECT_FAILED
    {12157, "secure channel error: the tls handshake failed (a refused certificate, or no tls "
            "version or cipher shared)"},       // SECURE_CHANNEL_ERROR
    {12166, "the proxy script has an error"},                        // BAD_AUTO_PROXY_SCRIPT
    {12167, "the proxy script could not be downloaded"},             // UNABLE_TO_DOWNLOAD_SCRIPT
    {12169, "the certificate is invalid"},                           // SECURE_INVALID_CERT
    {12170, "the certificate has been revoked"},                     // SECURE_CERT_REVOKED
    {12175, "secure failure: the certificate failed its checks"},    // SECURE_FAILURE
    {12178, "the proxy detection service failed"},                   // AUTO_PROXY_SERVICE_ERROR
    {12179, "the certificate is not meant for a server"},            // SECURE_CERT_WRONG_USAGE
    {12180, "no proxy configuration was detected"},                  // AUTODETECTION_FAILED
    {12181, "too many headers in the answer"},                       // HEADER_COUNT_EXCEEDED
    {12182, "the answer's head is too large"},                       // HEADER_SIZE_OVERFLOW
    {12185, "the client certificate has no private key"},            // CLIENT_CERT_NO_PRIVATE_KEY
    {12186, "the client certificate's private key cannot be used"},  // CLIENT_CERT_NO_ACCESS_PRIVATE_KEY
    {12187, "the proxy asks for a client certificate"},              // CLIENT_AUTH_CERT_NEEDED_PROXY
    {12188, "the proxy's certificate failed its checks"},            // SECURE_FAILURE_PROXY
};

const char* WinHttpErrorMeaning(unsigned long code) {
  for (size_t i = 0; i < sizeof MEANINGS / sizeof MEANINGS[0]; ++i)
    if (MEANINGS[i].code == code) return MEANINGS[i].meaning;
  return "not a known http library or network error; see the system's error codes";
}

struct FlagName {
  unsigned long flag;
  const char* name;
};

// The secure-failure flags in the order of the library's header.
static const FlagName CERTIFICATE_FLAGS[] = {
    {0x00000001, "revocation not checked"},   // CERT_REV_FAILED
    {0x00000002, "invalid certificate"},      // INVALID_CERT
    {0x00000004, "revoked"},                  // CERT_REVOKED
    {0x00000008, "untrusted issuer"},         // INVALID_CA
    {0x00000010, "wrong name"},               // CERT_CN_INVALID
    {0x00000020, "expired or not yet valid"}, // CERT_DATE_INVALID
    {0x00000040, "wrong usage"},              // CERT_WRONG_USAGE
    {0x80000000, "secure channel error"},     // SECURITY_CHANNEL_ERROR
};

// Appends `piece` to the text of `size` bytes, cut to fit, always terminated.
static void AppendCut(char* text, int size, int* length, const char* piece) {
  for (; *piece != '\0' && *length < size - 1; ++piece) text[(*length)++] = *piece;
  text[*length] = '\0';
}

int DescribeCertificateFlags(unsigned long flags, char* text, int size) {
  int length = 0;
  int named = 0;
  if (size <= 0) return 0;
  text[0] = '\0';
  for (size_t i = 0; i < sizeof CERTIFICATE_FLAGS / sizeof CERTIFICATE_FLAGS[0]; ++i) {
    if ((flags & CERTIFICATE_FLAGS[i].flag) == 0) continue;
    if (named > 0) AppendCut(text, size, &length, ", ");
    AppendCut(text, size, &length, CERTIFICATE_FLAGS[i].name);
    ++named;
  }
  return named;
}

int HttpsReadSize(long long contentLength, long long received, unsigned long available) {
  long long remaining = contentLength - received;
  int size = remaining < HTTPS_READ_SIZE ? static_cast<int>(remaining) : HTTPS_READ_SIZE;
  return available < static_cast<unsigned long>(size) ? static_cast<int>(available) : size;
}

bool HeaderValueHoldsNul(const wchar_t* value, unsigned long bytes) {
  unsigned long units = bytes / sizeof(wchar_t);
  for (unsigned long i = 0; i < units; ++i)
    if (value[i] == L'\0') return true;
  return false;
}
