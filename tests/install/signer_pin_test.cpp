#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/certificate_key.h"
#include "install/signer_pin.h"

namespace {

const std::wstring A(64, L'a');
const std::wstring B = L"0123456789ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef";

TEST(SignerPins, ListsOfDigestsInEitherCaseAndNothingElse) {
  SignerPins pins;
  ASSERT_TRUE(ParseSignerPins((B + L"," + A).c_str(), &pins));
  ASSERT_EQ(2, pins.count);
  unsigned char a[SHA256_SIZE];
  ASSERT_TRUE(ParsePin(A.c_str(), a));
  EXPECT_TRUE(SignerPinsMatch(pins, a)) << "the second listed key";
  unsigned char b[SHA256_SIZE];
  ASSERT_TRUE(ParsePin(B.c_str(), b));
  EXPECT_TRUE(SignerPinsMatch(pins, b)) << "the first listed key";
  EXPECT_EQ(0xEF, pins.keys[0][7]);
  unsigned char other[SHA256_SIZE] = {};
  EXPECT_FALSE(SignerPinsMatch(pins, other));

  std::wstring eight = A;
  for (int i = 1; i < MAX_SIGNER_PINS; ++i) eight += L"," + B;
  EXPECT_TRUE(ParseSignerPins(eight.c_str(), &pins));
  EXPECT_EQ(MAX_SIGNER_PINS, pins.count);
  const std::wstring refused[] = {L"", L",", A + L",", L"," + A, A + L",," + B, A + L", " + B, L" " + A,
                                  A.substr(1), A + L"0", A.substr(1) + L"g", A + L";" + B, eight + L"," + B};
  for (const std::wstring& value : refused)
    EXPECT_FALSE(ParseSignerPins(value.c_str(), &pins)) << ::testing::PrintToString(value);
  EXPECT_LT(eight.size() + 1, static_cast<size_t>(SIGNER_VALUE_UNITS)) << "the longest list is read whole";
}

TEST(SignatureVerdict, OnlyChainComplaintsAreLeftToThePinnedKey) {
  const struct {
    unsigned long trust, chain;
    SignatureVerdict verdict;
  } cases[] = {
      {0, 0, SIGNATURE_VALID},
      {0x800B0109, 0, SIGNATURE_CHAIN_COMPLAINT},  // CERT_E_UNTRUSTEDROOT
      {0x800B010A, 0, SIGNATURE_CHAIN_COMPLAINT},  // CERT_E_CHAINING
      {0x800B0101, 0, SIGNATURE_CHAIN_COMPLAINT},  // CERT_E_EXPIRED
      {0x800B0112, 0, SIGNATURE_CHAIN_COMPLAINT},  // CERT_E_UNTRUSTEDCA
      {0x800B0100, 0, SIGNATURE_REFUSED},          // TRUST_E_NOSIGNATURE
      {0x80096010, 0, SIGNATURE_REFUSED},          // TRUST_E_BAD_DIGEST
      {0x800B0111, 0, SIGNATURE_REFUSED},          // TRUST_E_EXPLICIT_DISTRUST
      {0x800B010C, 0, SIGNATURE_REFUSED},          // CERT_E_REVOKED
      {0x800B0110, 0, SIGNATURE_REFUSED},          // CERT_E_WRONG_USAGE
      {0x80096004, 0, SIGNATURE_REFUSED},          // TRUST_E_CERT_SIGNATURE
      {0x80092026, 0, SIGNATURE_REFUSED},          // CRYPT_E_SECURITY_SETTINGS
      {0x80004005, 0, SIGNATURE_REFUSED},          // E_FAIL
      // An answer of 0 (Wine gives it whatever the chain) with a distrust in the chain.
      {0, 0x04000000, SIGNATURE_REFUSED},          // CERT_TRUST_IS_EXPLICIT_DISTRUST
      {0x800B0109, 0x00000004, SIGNATURE_REFUSED},  // CERT_TRUST_IS_REVOKED
      {0, 0x00010001, SIGNATURE_VALID},            // partial chain, not time valid: Wine's own answer
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.verdict, JudgeSignature(c.trust, c.chain)) << std::hex << c.trust << " chain " << c.chain;
}

// A certificate's shape, the contents cut down to the parts that are read.
const std::vector<unsigned char> CERTIFICATE = {
    0x30, 0x25,                                // Certificate
    0x30, 0x1E,                                //   tbsCertificate
    0xA0, 0x03, 0x02, 0x01, 0x02,              //     [0] version 3
    0x02, 0x02, 0x10, 0x01,                    //     serialNumber 0x1001
    0x30, 0x00,                                //     signature
    0x30, 0x03, 0x31, 0x01, 0x49,              //     issuer
    0x30, 0x00,                                //     validity
    0x30, 0x00,                                //     subject
    0x30, 0x81, 0x05, 0x06, 0x01, 0x2A,        //     subjectPublicKeyInfo (a long-form length)
    0x03, 0x00,                                //
    0x82, 0x00,                                //     [2] subjectUniqueID
    0x30, 0x00,                                //   signatureAlgorithm
    0x03, 0x01, 0x00,                          //   signatureValue
};

TEST(CertificateParts, FoundInACertificateAndNeverPastItsBytes) {
  CertificateParts parts;
  ASSERT_TRUE(ReadCertificateParts(CERTIFICATE.data(), CERTIFICATE.size(), &parts));
  EXPECT_EQ(9u, parts.serialNumber.start);
  EXPECT_EQ(15u, parts.issuer.start);
  EXPECT_EQ(24u, parts.subjectPublicKeyInfo.start);
  EXPECT_EQ(27u, parts.subjectPublicKeyInfo.contents);
  EXPECT_EQ(32u, parts.subjectPublicKeyInfo.end);
  // Without the optional version the serial number comes first.
  std::vector<unsigned char> v1(CERTIFICATE);
  v1.erase(v1.begin() + 4, v1.begin() + 9);
  v1[1] -= 5;
  v1[3] -= 5;
  ASSERT_TRUE(ReadCertificateParts(v1.data(), v1.size(), &parts));
  EXPECT_EQ(4u, parts.serialNumber.start);
  // Cut anywhere, every length is held to the bytes there are.
  for (size_t size = 0; size < CERTIFICATE.size(); ++size) {
    std::vector<unsigned char> cut(CERTIFICATE.begin(), CERTIFICATE.begin() + size);
    EXPECT_FALSE(ReadCertificateParts(cut.data(), cut.size(), &parts)) << size << " bytes";
  }
  const unsigned char indefinite[] = {0x30, 0x80, 0x00, 0x00};
  const unsigned char huge[] = {0x30, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00};
  DerElement element;
  EXPECT_FALSE(ReadDerElement(indefinite, 0, sizeof indefinite, &element));
  EXPECT_FALSE(ReadDerElement(huge, 0, sizeof huge, &element));
}

}  // namespace
