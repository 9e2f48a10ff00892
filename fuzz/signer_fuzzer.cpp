// The readers of a publisher's key: the DER certificate reader that setup.exe
// applies to a downloaded installer's signer, and the stamping tool's reading
// of a signed exe or a certificate (PEM or DER), over any bytes.
#include <string>

#include "fuzz/fuzz_support.h"
#include "install/certificate_key.h"
#include "tools/setupstamp/signer_option.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* bytes, size_t size) {
  // A copy of exactly the input's size: the sanitizer sees a read one byte past it.
  std::string input(reinterpret_cast<const char*>(bytes), size);
  const unsigned char* data = reinterpret_cast<const unsigned char*>(input.data());
  CertificateParts parts;
  if (ReadCertificateParts(data, size, &parts)) {
    const DerElement* inOrder[3] = {&parts.serialNumber, &parts.issuer, &parts.subjectPublicKeyInfo};
    for (int i = 0; i < 3; ++i) {
      const DerElement& e = *inOrder[i];
      FUZZ_CHECK(e.start < e.contents && e.contents <= e.end && e.end <= size, "a part lies within the bytes");
      FUZZ_CHECK(i == 0 || inOrder[i - 1]->end <= e.start, "the parts follow one another");
    }
    FUZZ_CHECK(data[parts.subjectPublicKeyInfo.start] == DER_SEQUENCE, "the key is a SEQUENCE");
  }
  std::string key;
  std::wstring problem;
  if (SignerKeyOfFile(input, key, problem)) {
    DerElement whole;
    FUZZ_CHECK(ReadDerElement(reinterpret_cast<const unsigned char*>(key.data()), 0, key.size(), &whole) &&
                   whole.tag == DER_SEQUENCE && whole.end == key.size(),
               "the key read is one whole DER SEQUENCE");
  } else {
    FUZZ_CHECK(!problem.empty(), "a refusal says why");
  }
  return 0;
}
