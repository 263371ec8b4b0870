// The certificate reader on real certificates made by OpenSSL: fields match
// what OpenSSL reports, a full re-encoding through the codec reproduces the
// certificate byte for byte, and inexact structures are refused.
#include <gtest/gtest.h>

#include <string>

#include "codec/der/der_certificate.h"
#include "codec/vector_file.h"
#include "support/temp_home.h"

namespace {

using kv::test::BytesToHex;

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }

// Re-encodes an element and, for constructed ones, every descendant, from
// the parsed views.
bool ReEncode(const BYTE* p, int32_t length, CDerBlob* out, int depth) {
  if (length < 1 || depth > 40) return false;
  const BYTE classBits = BYTE(p[0] & 0xE0);
  CDerReader reader;
  if (!reader.Parse(p, length, 0, classBits) || reader.EncodedLength() != length) return false;
  if ((classBits & 0x20) == 0) return reader.EncodeTo(out, reader.TagNumber(), classBits) == 1;
  CDerElement rebuilt;
  const BYTE* child = nullptr;
  int32_t childLength = 0;
  while (reader.NextChild(&child, &childLength)) {
    if (!ReEncode(child, childLength, &rebuilt.Value(), depth + 1)) return false;
  }
  return reader.AtEnd() && rebuilt.EncodeTo(out, reader.TagNumber(), classBits) == 1;
}

// A TBSCertificate's children re-encoded into a new certificate, with the
// child at `drop` left out (-1 keeps all).
std::string RebuildWithout(const CDerCertificate& certificate, int drop) {
  CDerReader tbs;
  if (!tbs.Parse(certificate.Tbs().Input(), certificate.Tbs().EncodedLength(), kDerSequence,
                 kDerUniversalConstructed)) {
    return "";
  }
  CDerElement newTbs, whole;
  const BYTE* child = nullptr;
  int32_t length = 0;
  for (int i = 0; tbs.NextChild(&child, &length); ++i) {
    if (i != drop && !newTbs.Value().Append(child, length)) return "";
  }
  if (!newTbs.EncodeTo(&whole.Value(), kDerSequence, kDerUniversalConstructed)) return "";
  const CDerReader& alg = certificate.OuterSignatureAlgorithm();
  const CDerElement& sig = certificate.SignatureValue();
  if (!whole.Value().Append(alg.Input(), alg.EncodedLength())) return "";
  if (!whole.Value().Append(sig.Input(), sig.EncodedLength())) return "";
  CDerBlob out;
  if (!whole.EncodeTo(&out, kDerSequence, kDerUniversalConstructed)) return "";
  return std::string(reinterpret_cast<const char*>(out.Bytes()), out.Length());
}

class DerCertificateTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& options) {
    const std::string der = home_.path() + "/" + name + ".der";
    const std::string command = "openssl req -x509 -nodes -keyout '" + home_.path() + "/" + name +
                                ".key' -outform DER -out '" + der + "' " + options + " 2>/dev/null";
    if (kv::test::RunCommand(command) != 0) return "";
    return kv::test::ReadFile(der);
  }
  std::string OpenSslSays(const std::string& name, const char* what) {
    std::string out;
    kv::test::RunCommand("openssl x509 -inform DER -in '" + home_.path() + "/" + name + ".der' -noout " + what, &out);
    return out;
  }
  kv::test::ScopedHome home_;
};

TEST_F(DerCertificateTest, ReadsRsaAndEcCertificatesAndReEncodesThemExactly) {
  const std::string rsa = Make("rsa", "-newkey rsa:2048 -days 365 -set_serial 0x0123456789abcdef "
                                      "-subj '/C=TW/O=Korvessa Test/OU=Unit/CN=Signer One'");
  const std::string ec = Make("ec", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 30 "
                                    "-set_serial 0x80112233 -subj '/CN=EC Signer/O=Korvessa Test' "
                                    "-addext keyUsage=critical,digitalSignature,nonRepudiation");
  ASSERT_FALSE(rsa.empty());
  ASSERT_FALSE(ec.empty());
  for (const auto& [name, der] : {std::pair<std::string, std::string>{"rsa", rsa}, {"ec", ec}}) {
    CDerCertificate certificate;
    ASSERT_TRUE(certificate.Parse(Bytes(der), int32_t(der.size()))) << name;
    EXPECT_EQ(certificate.EncodedLength(), int32_t(der.size()));

    // The serial as OpenSSL prints it (without the INTEGER's sign byte).
    std::string serial = BytesToHex(certificate.SerialNumber().ValueView(),
                                    size_t(certificate.SerialNumber().ValueViewLength()));
    if (serial.size() > 2 && serial.compare(0, 2, "00") == 0) serial.erase(0, 2);
    std::string expected = OpenSslSays(name, "-serial");
    for (char& c : expected) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ("serial=" + serial + "\n", expected) << name;

    // Self-signed: issuer and subject are the same encoding, one child per RDN.
    const CDerReader& issuer = certificate.Issuer();
    const CDerReader& subject = certificate.Subject();
    ASSERT_EQ(issuer.EncodedLength(), subject.EncodedLength());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(issuer.Input()), size_t(issuer.EncodedLength())),
              std::string(reinterpret_cast<const char*>(subject.Input()), size_t(subject.EncodedLength())));
    EXPECT_EQ(subject.ChildCount(), name == "rsa" ? 4u : 2u);
    EXPECT_EQ(certificate.NotBefore().TagNumber(), kDerUtcTime);
    EXPECT_EQ(certificate.NotBefore().ValueViewLength(), 13);  // YYMMDDhhmmssZ
    EXPECT_EQ(certificate.Version().TagNumber(), 0);
    EXPECT_EQ(certificate.SignatureValue().LeadingByte(), 0);

    ASSERT_TRUE(certificate.HasExtensions());
    EXPECT_GE(certificate.Extensions().ChildCount(), name == "ec" ? 4u : 3u);
    for (size_t i = 0; i < certificate.Extensions().ChildCount(); ++i) {
      CDerReader extension;
      const auto& child = certificate.Extensions().ChildAt(i);
      ASSERT_TRUE(extension.ParseList(child.encoding, child.length, kDerSequence, kDerUniversalConstructed));
      ASSERT_GE(extension.ChildCount(), 2u);
      EXPECT_EQ(extension.ChildAt(0).encoding[0], 0x06);
    }

    CDerBlob reencoded;
    ASSERT_TRUE(ReEncode(Bytes(der), int32_t(der.size()), &reencoded, 0)) << name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reencoded.Bytes()), reencoded.Length()), der) << name;
  }
}

TEST_F(DerCertificateTest, RefusesCertificatesWithoutExplicitVersion) {
  const std::string der = Make("v3", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 5 -subj /CN=x");
  ASSERT_FALSE(der.empty());
  CDerCertificate certificate;
  ASSERT_TRUE(certificate.Parse(Bytes(der), int32_t(der.size())));
  // Rebuilt unchanged it still parses; without the [0] version it does not.
  const std::string same = RebuildWithout(certificate, -1);
  EXPECT_EQ(same, der);
  const std::string versionOne = RebuildWithout(certificate, 0);
  ASSERT_FALSE(versionOne.empty());
  CDerCertificate other;
  EXPECT_FALSE(other.Parse(Bytes(versionOne), int32_t(versionOne.size())));
}

TEST_F(DerCertificateTest, RefusesGeneralizedTimeValidity) {
  // A validity ending after 2049 is written as GeneralizedTime.
  const std::string der = Make("long", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 40000 -subj /CN=x");
  ASSERT_FALSE(der.empty());
  CDerCertificate certificate;
  EXPECT_FALSE(certificate.Parse(Bytes(der), int32_t(der.size())));
}

TEST_F(DerCertificateTest, RefusesInexactOrTruncatedEncodings) {
  const std::string der = Make("t", "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 5 -subj /CN=x");
  ASSERT_FALSE(der.empty());
  CDerCertificate certificate;
  for (size_t cut = 0; cut < der.size(); ++cut) {
    ASSERT_FALSE(certificate.Parse(Bytes(der), int32_t(cut))) << cut;
  }
  // One byte more inside the outer SEQUENCE (its length grown by one).
  std::string extra = der;
  ASSERT_EQ(BYTE(extra[1]), 0x82);
  const int outer = (BYTE(extra[2]) << 8 | BYTE(extra[3])) + 1;
  extra[2] = char(outer >> 8);
  extra[3] = char(outer);
  extra.push_back('\0');
  EXPECT_FALSE(certificate.Parse(Bytes(extra), int32_t(extra.size())));
  EXPECT_FALSE(certificate.Parse(nullptr, 10));
  // Bytes after the certificate are not part of it.
  const std::string trailing = der + "xyz";
  EXPECT_TRUE(certificate.Parse(Bytes(trailing), int32_t(trailing.size())));
}

}  // namespace
