// Reading an X.509 certificate's DER encoding far enough to find its serial
// number, issuer and SubjectPublicKeyInfo: the parts that pin a publisher's key
// and that match a signature's signer to its certificate. Plain bytes in,
// offsets out; every length is checked against the bytes there are.
#pragma once

#include <stddef.h>

// One DER element: its tag, where it starts, and where its contents start and end.
struct DerElement {
  unsigned char tag;
  size_t start;
  size_t contents;
  size_t end;
};

// DER tags that the readers here and in the stamping tool look for.
const unsigned char DER_INTEGER = 0x02;
const unsigned char DER_OCTET_STRING = 0x04;
const unsigned char DER_OBJECT_IDENTIFIER = 0x06;
const unsigned char DER_SEQUENCE = 0x30;
const unsigned char DER_SET = 0x31;
const unsigned char DER_CONTEXT_0 = 0xA0;  // [0], constructed

// Reads the element at `at`, which must end at or before `limit`. Only the
// definite lengths of DER, up to four length bytes; false for anything else.
bool ReadDerElement(const unsigned char* bytes, size_t at, size_t limit, DerElement* element);

// The same, and true only when the element has the tag `tag`.
bool ReadDerElementTagged(const unsigned char* bytes, size_t at, size_t limit, unsigned char tag, DerElement* element);

struct CertificateParts {
  DerElement serialNumber;
  DerElement issuer;
  DerElement subjectPublicKeyInfo;
};

// Finds the parts in a certificate (the whole DER encoding, `size` bytes).
// False when the bytes are not a certificate of that shape.
bool ReadCertificateParts(const unsigned char* certificate, size_t size, CertificateParts* parts);
