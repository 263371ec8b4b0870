// The signer certificate walk on certificates made by OpenSSL: issuer and
// serial match OpenSSL's own encodings, and inexact structures (no explicit
// version, GeneralizedTime validity, truncations, a grown outer length) are
// refused. Also the message builder's failing step numbers.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <string>

#include "der/der_builder.h"
#include "sign/pkcs7_builder.h"
#include "sign/signer_certificate.h"
#include "support/temp_home.h"

namespace {

using kv::sign::ReadSignerCertificate;
using kv::sign::SignerCertificateFields;

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }
std::string Text(const kv::der::Span& s) { return std::string(reinterpret_cast<const char*>(s.data()), s.size()); }

// The contents of the first element of `der`.
std::string ContentsOf(const unsigned char* der, int length) {
  kv::der::Span in(der, size_t(length > 0 ? length : 0)), contents;
  uint8_t tag;
  return in.ReadAny(&tag, &contents) ? Text(contents) : "<bad>";
}

class SignerCertificateTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& options) {
    const std::string der = home_.path() + "/" + name + ".der";
    const std::string command = "openssl req -x509 -nodes -keyout '" + home_.path() + "/" + name +
                                ".key' -outform DER -out '" + der + "' " + options + " 2>/dev/null";
    if (kv::test::RunCommand(command) != 0) return "";
    return kv::test::ReadFile(der);
  }
  kv::test::ScopedHome home_;
};

TEST_F(SignerCertificateTest, IssuerAndSerialAreTheCertificatesOwnEncodings) {
  const std::string rsa = Make("rsa", "-newkey rsa:2048 -days 365 -set_serial 0x0123456789abcdef "
                                      "-subj '/C=TW/O=Korvessa Test/OU=Unit/CN=Signer One'");
  const std::string ec = Make("ec", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 30 "
                                    "-set_serial 0x80112233 -subj '/CN=EC Signer/O=Korvessa Test' "
                                    "-addext keyUsage=critical,digitalSignature,nonRepudiation");
  for (const std::string& der : {rsa, ec}) {
    ASSERT_FALSE(der.empty());
    const unsigned char* p = Bytes(der);
    X509* x509 = d2i_X509(nullptr, &p, long(der.size()));
    ASSERT_NE(x509, nullptr);
    unsigned char* name = nullptr;
    unsigned char* serial = nullptr;
    const int nameLength = i2d_X509_NAME(X509_get_issuer_name(x509), &name);
    const int serialLength = i2d_ASN1_INTEGER(X509_get0_serialNumber(x509), &serial);
    const std::string expectedIssuer = ContentsOf(name, nameLength), expectedSerial = ContentsOf(serial, serialLength);
    OPENSSL_free(name);
    OPENSSL_free(serial);
    X509_free(x509);

    SignerCertificateFields fields;
    ASSERT_TRUE(ReadSignerCertificate(Bytes(der), der.size(), &fields));
    EXPECT_EQ(Text(fields.issuer), expectedIssuer);
    EXPECT_EQ(Text(fields.serial), expectedSerial);
    // Bytes after the certificate are not part of it.
    const std::string trailing = der + "xyz";
    EXPECT_TRUE(ReadSignerCertificate(Bytes(trailing), trailing.size(), &fields));
  }
}

TEST_F(SignerCertificateTest, InexactCertificatesAreRefused) {
  const std::string der = Make("t", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 5 -subj /CN=x");
  // A validity ending after 2049 is written as GeneralizedTime.
  const std::string late = Make("late", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 40000 -subj /CN=x");
  ASSERT_FALSE(der.empty());
  ASSERT_FALSE(late.empty());
  SignerCertificateFields fields;
  EXPECT_FALSE(ReadSignerCertificate(Bytes(late), late.size(), &fields));
  EXPECT_FALSE(ReadSignerCertificate(nullptr, 10, &fields));
  for (size_t cut = 0; cut < der.size(); ++cut) ASSERT_FALSE(ReadSignerCertificate(Bytes(der), cut, &fields)) << cut;

  // One byte more inside the outer SEQUENCE (its length grown by one).
  std::string extra = der;
  ASSERT_EQ(BYTE(extra[1]), 0x82);
  const int outer = (BYTE(extra[2]) << 8 | BYTE(extra[3])) + 1;
  extra[2] = char(outer >> 8);
  extra[3] = char(outer);
  extra.push_back('\0');
  EXPECT_FALSE(ReadSignerCertificate(Bytes(extra), extra.size(), &fields));

  // The TBSCertificate rebuilt without its [0] version: a version 1 layout.
  kv::der::Span in(Bytes(der), der.size()), certificate, tbs, version, rest;
  ASSERT_TRUE(in.Read(kv::der::kSequence, &certificate) && certificate.Read(kv::der::kSequence, &tbs) &&
              tbs.Read(kv::der::kContext0, &version));
  kv::der::Builder b;
  b.Open(kv::der::kSequence);
  b.Add(kv::der::kSequence, tbs.data(), tbs.size());
  b.AddEncoded(certificate.data(), certificate.size());
  b.Close();
  kv::der::Bytes versionOne;
  ASSERT_TRUE(b.Finish(&versionOne));
  EXPECT_FALSE(ReadSignerCertificate(versionOne.data(), versionOne.size(), &fields));
}

// Each failure the builder can meet reports its step number with code 5305.
TEST_F(SignerCertificateTest, BuilderFailuresReportTheirStep) {
  const std::string der = Make("s", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 5 -subj /CN=x");
  ASSERT_FALSE(der.empty());
  const kv::sign::SignDigest sha1 = kv::sign::Pkcs7Digest(0);
  CByteBuffer digest, none, signature, content;
  ASSERT_TRUE(digest.Append(reinterpret_cast<const BYTE*>("01234567890123456789"), 20));
  ASSERT_TRUE(signature.Append(reinterpret_cast<const BYTE*>("sig"), 3));
  ASSERT_TRUE(content.Append(reinterpret_cast<const BYTE*>("text"), 4));
  struct Case {
    const char* what;
    bool emptyDigest, emptySignature, emptyContent, detached, withCertificate;
    ErrorCode code;
    DWORD step;
  };
  const Case cases[] = {
      {"complete", false, false, false, false, true, ERR_SUCCESS, 0},
      {"detached needs no content", false, false, true, true, true, ERR_SUCCESS, 0},
      {"no content digest", true, false, false, false, true, ERR_ASN1_ENCODE, 3},
      {"no signature", false, true, true, false, false, ERR_ASN1_ENCODE, 22},
      {"no content", false, false, true, false, false, ERR_ASN1_ENCODE, 32},
      {"no certificate", false, false, false, false, false, ERR_ASN1_ENCODE, 52},
  };
  for (const Case& c : cases) {
    for (bool attributes : {false, true}) {
      kv::sign::CPkcs7Builder builder;
      kv::sign::Pkcs7Failure failure =
          builder.Prepare(Bytes(der), int32_t(der.size()), c.emptyDigest ? none : digest, sha1, attributes);
      if (failure.code == ERR_SUCCESS) {
        if (c.withCertificate) {
          ASSERT_TRUE(builder.AddCertificate(Bytes(der), DWORD(der.size())));
        }
        std::string base64;
        failure = builder.Finish(c.emptySignature ? none : signature, c.emptyContent ? none : content, c.detached,
                                 &base64);
        EXPECT_EQ(base64.empty(), failure.code != ERR_SUCCESS) << c.what;
      }
      EXPECT_EQ(failure.code, c.code) << c.what;
      EXPECT_EQ(failure.step, c.step) << c.what;
    }
  }
  kv::sign::CPkcs7Builder builder;
  EXPECT_EQ(builder.Prepare(Bytes(der), int32_t(der.size()) - 1, digest, sha1, true).code, ERR_CERT_FORMAT);
}

}  // namespace
