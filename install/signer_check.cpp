#include "install/signer_check.h"

#include <softpub.h>
#include <wintrust.h>

#include "download/system_library.h"
#include "install/certificate_key.h"
#include "install/file_digest.h"
#include "log/run_log.h"

struct WinTrustFunctions {
  decltype(&WinVerifyTrust) verifyTrust;
  decltype(&WTHelperProvDataFromStateData) providerData;
  decltype(&WTHelperGetProvSignerFromChain) signerFromChain;
  decltype(&WTHelperGetProvCertFromChain) certificateFromChain;
};

static WinTrustFunctions Functions;
static volatile LONG FunctionsReady;

// Null, with a log line, when the library or a function is missing.
static const WinTrustFunctions* LoadWinTrust() {
  if (FunctionsReady != 0) return &Functions;
  HMODULE library = LoadSystemLibrary(L"wintrust.dll");
  if (library == NULL) {
    LogFormat(L"wintrust.dll not loaded %d", static_cast<int>(GetLastError()));
    return NULL;
  }
  // Kept loaded; checks run one at a time on the install worker.
  WinTrustFunctions* f = &Functions;
  bool found = LookUpFunction(library, L"wintrust.dll", "WinVerifyTrust", &f->verifyTrust) &&
               LookUpFunction(library, L"wintrust.dll", "WTHelperProvDataFromStateData", &f->providerData) &&
               LookUpFunction(library, L"wintrust.dll", "WTHelperGetProvSignerFromChain", &f->signerFromChain) &&
               LookUpFunction(library, L"wintrust.dll", "WTHelperGetProvCertFromChain", &f->certificateFromChain);
  if (!found) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
  }
  InterlockedExchange(&FunctionsReady, 1);
  return &Functions;
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
  CertificateParts parts;
  SignerRead result = SIGNER_UNREADABLE;
  DWORD failure = 0;

  *trustResult = static_cast<unsigned long>(TRUST_E_NOSIGNATURE);
  *chainStatus = 0;
  if (trust == NULL) return SIGNER_CHECK_UNAVAILABLE;
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path;
  // The handle the check holds: the file cannot have changed since it was hashed.
  fileInfo.hFile = file;
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // No revocation check, nor any other fetch over the network while the chain is built.
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  SetFilePointer(file, 0, NULL, FILE_BEGIN);
  *trustResult = static_cast<unsigned long>(trust->verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));

  provider = trust->providerData(data.hWVTStateData);
  if (provider != NULL) signer = trust->signerFromChain(provider, 0, FALSE, 0);
  if (signer != NULL) leaf = trust->certificateFromChain(signer, 0);
  if (leaf == NULL || leaf->pCert == NULL) {
    result = SIGNER_NONE;
    goto done;
  }
  if (signer->pChainContext != NULL) *chainStatus = signer->pChainContext->TrustStatus.dwErrorStatus;
  // The key's encoding as the certificate carries it, hashed by our own road:
  // the system offers no SHA-256 of it everywhere (Wine has none).
  if (!ReadCertificateParts(leaf->pCert->pbCertEncoded, leaf->pCert->cbCertEncoded, &parts)) {
    failure = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
    goto done;
  }
  switch (DigestBytes(leaf->pCert->pbCertEncoded + parts.subjectPublicKeyInfo.start,
                      static_cast<DWORD>(parts.subjectPublicKeyInfo.end - parts.subjectPublicKeyInfo.start), keyDigest)) {
    case DIGEST_OK:
      result = SIGNER_READ;
      break;
    case DIGEST_NO_PROVIDER:
      failure = GetLastError();
      result = SIGNER_CHECK_UNAVAILABLE;
      break;
    default:
      failure = GetLastError();
      break;
  }

done:
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  trust->verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (result != SIGNER_READ) SetLastError(failure);
  return result;
}
