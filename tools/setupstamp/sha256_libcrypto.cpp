// SHA-256 through the system's libcrypto (OpenSSL), for the native tool.
#include <openssl/evp.h>

#include "tools/setupstamp/sha256.h"

Sha256Result Sha256Begin(Sha256& hash) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  hash.state = context;
  if (context == NULL) return SHA256_FAILED;
  if (EVP_DigestInit_ex(context, EVP_sha256(), NULL) != 1) {
    EVP_MD_CTX_free(context);
    hash.state = NULL;
    return SHA256_UNAVAILABLE;
  }
  return SHA256_OK;
}

Sha256Result Sha256Add(Sha256& hash, const void* data, size_t size) {
  EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(hash.state);
  return context != NULL && EVP_DigestUpdate(context, data, size) == 1 ? SHA256_OK : SHA256_FAILED;
}

Sha256Result Sha256End(Sha256& hash, unsigned char* digest) {
  EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(hash.state);
  hash.state = NULL;
  if (context == NULL) return SHA256_FAILED;
  Sha256Result result = SHA256_OK;
  unsigned int size = 0;
  unsigned char value[EVP_MAX_MD_SIZE];
  if (EVP_DigestFinal_ex(context, value, &size) != 1 || size != static_cast<unsigned int>(SHA256_SIZE))
    result = SHA256_FAILED;
  else if (digest != NULL)
    for (int i = 0; i < SHA256_SIZE; ++i) digest[i] = value[i];
  EVP_MD_CTX_free(context);
  return result;
}
