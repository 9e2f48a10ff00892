#include "tools/setupstamp/signer_option.h"

#include <wchar.h>

#include "install/certificate_key.h"
#include "tools/setupstamp/pe_image.h"
#include "tools/setupstamp/pin_option.h"

static const size_t WIN_CERTIFICATE_HEADER = 8;  // dwLength, wRevision, wCertificateType
static const unsigned WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2;
static const unsigned char DER_CONTEXT_1 = 0xA1;

static const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

static bool SameElement(const std::string& a, const DerElement& x, const std::string& b, const DerElement& y) {
  return x.end - x.start == y.end - y.start && a.compare(x.start, x.end - x.start, b, y.start, y.end - y.start) == 0;
}

static int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The first "CERTIFICATE" block of a PEM text, decoded.
static bool PemCertificate(const std::string& text, std::string& der) {
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  size_t start = text.find(begin);
  if (start == std::string::npos) return false;
  size_t end = text.find("-----END CERTIFICATE-----", start);
  if (end == std::string::npos) return false;
  der.clear();
  unsigned bits = 0;
  int count = 0;
  for (size_t i = start + begin.size(); i < end; ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') break;
    int value = Base64Value(c);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      der += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return !der.empty();
}

// The signer's certificate in a PKCS#7 SignedData (Authenticode's), by the
// issuer and serial number that its SignerInfo names.
static bool SignerCertificate(const std::string& p7, std::string& certificate, std::wstring& problem) {
  const unsigned char* b = Bytes(p7);
  size_t size = p7.size();
  // ContentInfo { contentType, [0] SignedData { version, digestAlgorithms,
  //   encapContentInfo, [0] certificates OPTIONAL, [1] crls OPTIONAL, signerInfos } }
  DerElement info, type, wrapper, signedData, version, algorithms, content, item;
  if (!ReadDerElementTagged(b, 0, size, DER_SEQUENCE, &info) ||
      !ReadDerElementTagged(b, info.contents, info.end, DER_OBJECT_IDENTIFIER, &type) ||
      !ReadDerElementTagged(b, type.end, info.end, DER_CONTEXT_0, &wrapper) ||
      !ReadDerElementTagged(b, wrapper.contents, wrapper.end, DER_SEQUENCE, &signedData) ||
      !ReadDerElementTagged(b, signedData.contents, signedData.end, DER_INTEGER, &version) ||
      !ReadDerElementTagged(b, version.end, signedData.end, DER_SET, &algorithms) ||
      !ReadDerElementTagged(b, algorithms.end, signedData.end, DER_SEQUENCE, &content) ||
      !ReadDerElement(b, content.end, signedData.end, &item)) {
    problem = L"its signature is not a PKCS #7 SignedData";
    return false;
  }
  DerElement certificates = {};
  if (item.tag == DER_CONTEXT_0) {
    certificates = item;
    if (!ReadDerElement(b, item.end, signedData.end, &item)) item.tag = 0;
  }
  if (item.tag == DER_CONTEXT_1 && !ReadDerElement(b, item.end, signedData.end, &item)) item.tag = 0;
  // signerInfos { SignerInfo { version 1, sid { issuer, serialNumber }, ... } }: the first is the signer.
  DerElement signerInfo, signerVersion, sid, issuer, serial;
  if (item.tag != DER_SET || !ReadDerElementTagged(b, item.contents, item.end, DER_SEQUENCE, &signerInfo) ||
      !ReadDerElementTagged(b, signerInfo.contents, signerInfo.end, DER_INTEGER, &signerVersion) ||
      !ReadDerElementTagged(b, signerVersion.end, signerInfo.end, DER_SEQUENCE, &sid) ||
      !ReadDerElementTagged(b, sid.contents, sid.end, DER_SEQUENCE, &issuer) ||
      !ReadDerElementTagged(b, issuer.end, sid.end, DER_INTEGER, &serial)) {
    problem = L"its signature names no signer by issuer and serial number";
    return false;
  }
  for (size_t at = certificates.contents; certificates.end != 0 && at < certificates.end; at = item.end) {
    CertificateParts parts;
    if (!ReadDerElementTagged(b, at, certificates.end, DER_SEQUENCE, &item)) break;
    if (ReadCertificateParts(b + item.start, item.end - item.start, &parts)) {
      std::string candidate = p7.substr(item.start, item.end - item.start);
      if (SameElement(candidate, parts.issuer, p7, issuer) && SameElement(candidate, parts.serialNumber, p7, serial)) {
        certificate = candidate;
        return true;
      }
    }
  }
  problem = L"its signature does not carry the signer's certificate";
  return false;
}

bool SignerKeyOfFile(const std::string& file, std::string& subjectPublicKeyInfo, std::wstring& problem) {
  std::string certificate;
  PeLayout layout;
  if (file.compare(0, 2, "MZ") == 0) {
    if (!ReadPeLayout(file, layout)) {
      problem = L"it is not a Windows program that can be read";
      return false;
    }
    size_t offset = layout.certificateOffset;
    size_t size = layout.certificateSize;
    if (size == 0) {
      problem = L"it is not signed (no certificate table)";
      return false;
    }
    const unsigned char* b = Bytes(file);
    if (offset > file.size() || size > file.size() - offset || size < WIN_CERTIFICATE_HEADER ||
        static_cast<unsigned>(b[offset + 6] | b[offset + 7] << 8) != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
      problem = L"its certificate table holds no Authenticode signature";
      return false;
    }
    if (!SignerCertificate(file.substr(offset + WIN_CERTIFICATE_HEADER, size - WIN_CERTIFICATE_HEADER), certificate,
                           problem))
      return false;
  } else if (file.find("-----BEGIN") != std::string::npos) {
    if (!PemCertificate(file, certificate)) {
      problem = L"it holds no PEM certificate that can be read";
      return false;
    }
  } else {
    certificate = file;
  }
  CertificateParts parts;
  if (!ReadCertificateParts(Bytes(certificate), certificate.size(), &parts)) {
    problem = L"it is not a signed exe nor a certificate (PEM or DER)";
    return false;
  }
  subjectPublicKeyInfo = certificate.substr(parts.subjectPublicKeyInfo.start,
                                            parts.subjectPublicKeyInfo.end - parts.subjectPublicKeyInfo.start);
  return true;
}

// The same keys, whatever their order, case or repetition.
static bool SameKeys(const std::wstring& a, const std::wstring& b) {
  SignerPins x, y;
  if (!ParseSignerPins(a.c_str(), &x) || !ParseSignerPins(b.c_str(), &y)) return false;
  for (int i = 0; i < x.count; ++i)
    if (!SignerPinsMatch(y, x.keys[i])) return false;
  for (int i = 0; i < y.count; ++i)
    if (!SignerPinsMatch(x, y.keys[i])) return false;
  return true;
}

void ApplySigner(std::vector<ConfigLine>& lines, const std::wstring& key, const std::wstring& digests,
                 const std::wstring& sources, std::vector<CheckMessage>& messages) {
  ApplyStampedValue(lines, key, digests, SameKeys,
                    L"--signer sets it to \"" + digests + L"\", the signing key of " + sources, messages);
}
