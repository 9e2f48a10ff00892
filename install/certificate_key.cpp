#include "install/certificate_key.h"

bool ReadDerElement(const unsigned char* bytes, size_t at, size_t limit, DerElement* element) {
  if (at >= limit || limit - at < 2) return false;
  element->tag = bytes[at];
  // Tags of more than one byte (low bits all set) appear nowhere we look.
  if ((element->tag & 0x1F) == 0x1F) return false;
  size_t length = bytes[at + 1];
  size_t next = at + 2;
  if (length & 0x80) {
    size_t count = length & 0x7F;
    // 0x80 is the indefinite length of BER, not DER; more than four bytes is no real size.
    if (count == 0 || count > 4 || limit - next < count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[next + i];
    next += count;
  }
  if (limit - next < length) return false;
  element->start = at;
  element->contents = next;
  element->end = next + length;
  return true;
}

bool ReadDerElementTagged(const unsigned char* bytes, size_t at, size_t limit, unsigned char tag, DerElement* element) {
  return ReadDerElement(bytes, at, limit, element) && element->tag == tag;
}

bool ReadCertificateParts(const unsigned char* certificate, size_t size, CertificateParts* parts) {
  // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL,
  //   serialNumber, signature, issuer, validity, subject, subjectPublicKeyInfo, ... }, ... }
  DerElement whole, tbs, item;
  if (!ReadDerElementTagged(certificate, 0, size, DER_SEQUENCE, &whole) ||
      !ReadDerElementTagged(certificate, whole.contents, whole.end, DER_SEQUENCE, &tbs) ||
      !ReadDerElement(certificate, tbs.contents, tbs.end, &item))
    return false;
  if (item.tag == DER_CONTEXT_0 && !ReadDerElement(certificate, item.end, tbs.end, &item)) return false;
  if (item.tag != DER_INTEGER) return false;
  parts->serialNumber = item;
  DerElement signature, validity, subject;
  return ReadDerElementTagged(certificate, item.end, tbs.end, DER_SEQUENCE, &signature) &&
         ReadDerElementTagged(certificate, signature.end, tbs.end, DER_SEQUENCE, &parts->issuer) &&
         ReadDerElementTagged(certificate, parts->issuer.end, tbs.end, DER_SEQUENCE, &validity) &&
         ReadDerElementTagged(certificate, validity.end, tbs.end, DER_SEQUENCE, &subject) &&
         ReadDerElementTagged(certificate, subject.end, tbs.end, DER_SEQUENCE, &parts->subjectPublicKeyInfo);
}
