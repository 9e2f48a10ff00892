#include "install/signer_check.h"

#include <softpub.h>
#include <wintrust.h>

#include "install/certificate_key.h"
#include "install/file_digest.h"
#include "log/platform_log.h"
#include "platform/function_table.h"

struct WinTrustFunctions {
  decltype(&WinVerifyTrust) verifyTrust;
  decltype(&WTHelperProvDataFromStateData) providerData;
  decltype(&WTHelperGetProvSignerFromChain) signerFromChain;
  decltype(&WTHelperGetProvCertFromChain) certificateFromChain;
};

static WinTrustFunctions Functions;

static const FunctionSlot SLOTS[] = {
    Slot(&Functions.verifyTrust, "WinVerifyTrust"),
    Slot(&Functions.providerData, "WTHelperProvDataFromStateData"),
    Slot(&Functions.signerFromChain, "WTHelperGetProvSignerFromChain"),
    Slot(&Functions.certificateFromChain, "WTHelperGetProvCertFromChain"),
};
static const WCHAR* const LIBRARIES[] = {L"wintrust.dll", NULL};
static FunctionTable Table = {LIBRARIES, SLOTS, sizeof SLOTS / sizeof SLOTS[0], 0};

// Null, with a log line, when the library or a function is missing.
static const WinTrustFunctions* LoadWinTrust() {
  FunctionTableFailure failure;
  if (FillFunctionTable(&Table, &failure)) return &Functions;
  LogFunctionTableFailure(failure);
  return NULL;
}

// The request to verify the very file that `file` holds, without UI and
// without revocation checks over the network.
static void DescribeVerification(HANDLE file, const WCHAR* path, WINTRUST_FILE_INFO* fileInfo, WINTRUST_DATA* data) {
  fileInfo->cbStruct = sizeof *fileInfo;
  fileInfo->pcwszFilePath = path;
  // The handle the check holds: the file cannot have changed since it was hashed.
  fileInfo->hFile = file;
  data->cbStruct = sizeof *data;
  data->dwUIChoice = WTD_UI_NONE;
  data->fdwRevocationChecks = WTD_REVOKE_NONE;
  data->dwUnionChoice = WTD_CHOICE_FILE;
  data->pFile = fileInfo;
  data->dwStateAction = WTD_STATEACTION_VERIFY;
  // No revocation check, nor any other fetch over the network while the chain is built.
  data->dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
}

// The SHA-256 of the certificate's SubjectPublicKeyInfo, its encoding as the
// certificate carries it, hashed by our own road: the system offers no SHA-256
// of it everywhere (Wine has none). On a failure GetLastError tells why.
static SignerRead DigestSignerKey(const CERT_CONTEXT& certificate, unsigned char keyDigest[SHA256_SIZE]) {
  CertificateParts parts;
  if (!ReadCertificateParts(certificate.pbCertEncoded, certificate.cbCertEncoded, &parts)) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return SIGNER_UNREADABLE;
  }
  const DerElement& key = parts.subjectPublicKeyInfo;
  switch (DigestBytes(certificate.pbCertEncoded + key.start, static_cast<DWORD>(key.end - key.start), keyDigest)) {
    case DIGEST_OK:
      return SIGNER_READ;
    case DIGEST_NO_PROVIDER:
      return SIGNER_CHECK_UNAVAILABLE;
    default:
      return SIGNER_UNREADABLE;
  }
}

SignerRead ReadFileSigner(HANDLE file, const WCHAR* path, unsigned long* trustResult, unsigned long* chainStatus,
                          unsigned char keyDigest[SHA256_SIZE]) {
  const WinTrustFunctions* trust = LoadWinTrust();
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO fileInfo = {};
  WINTRUST_DATA data = {};
  CRYPT_PROVIDER_DATA* provider = NULL;
  CRYPT_PROVIDER_SGNR* signer = NULL;
  CRYPT_PROVIDER_CERT* leaf = NULL;
  SignerRead result = SIGNER_NONE;
  DWORD failure = 0;

  *trustResult = static_cast<unsigned long>(TRUST_E_NOSIGNATURE);
  *chainStatus = 0;
  if (trust == NULL) return SIGNER_CHECK_UNAVAILABLE;
  DescribeVerification(file, path, &fileInfo, &data);
  SetFilePointer(file, 0, NULL, FILE_BEGIN);
  *trustResult = static_cast<unsigned long>(trust->verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));

  provider = trust->providerData(data.hWVTStateData);
  if (provider != NULL) signer = trust->signerFromChain(provider, 0, FALSE, 0);
  if (signer != NULL) leaf = trust->certificateFromChain(signer, 0);
  if (leaf != NULL && leaf->pCert != NULL) {
    if (signer->pChainContext != NULL) *chainStatus = signer->pChainContext->TrustStatus.dwErrorStatus;
    result = DigestSignerKey(*leaf->pCert, keyDigest);
    failure = GetLastError();
  }

  data.dwStateAction = WTD_STATEACTION_CLOSE;
  trust->verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (result != SIGNER_READ) SetLastError(failure);
  return result;
}
