// Certificate fields as the host sees them: names, serial, fingerprint,
// local-time dates, key usage and the authority test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "cert/cert_info.h"
#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertSpec;
using kv::test::IssueCert;
using kv::test::MakeRootCa;
using kv::test::NameEntry;

class CertInfoTest : public kv::test::HomeTest {
 protected:
  void SetUp() override { root_ = MakeRootCa("Test Root CA"); }
  kv::test::CertPtr root_;
};

// Sets TZ for the scope and makes the C library read it.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) : env_("TZ", tz) { tzset(); }
  ~ScopedTimeZone() { tzset(); }

 private:
  kv::test::ScopedEnv env_;
};

TEST_F(CertInfoTest, NamesSerialFingerprintAndUsage) {
  CertSpec spec;
  spec.subject = {{"C", "TW", V_ASN1_PRINTABLESTRING}, {"O", "Bank"}, {"CN", "A123456789"}};
  spec.serial = {0x01, 0x0A};
  spec.keyUsage = 0xC0;
  auto cert = IssueCert(spec, root_.get());
  CCertInfo info(cert->data(), static_cast<int32_t>(cert->size()));
  ASSERT_TRUE(info.IsLoaded());
  EXPECT_EQ(info.GetSubject(), "C=TW, O=Bank, CN=A123456789");
  EXPECT_EQ(info.GetIssuer(), "C=TW, O=Test Root, CN=Test Root CA");
  EXPECT_EQ(info.GetSubjectCN(), "A123456789");
  EXPECT_EQ(info.GetIssuerCN(), "Test Root CA");
  EXPECT_EQ(info.GetSerial(), "010A");
  EXPECT_EQ(info.GetFingerprint(), cert->Sha1Hex());
  EXPECT_EQ(info.GetKeyUsage(), 192);
  EXPECT_FALSE(info.IsCA());
  EXPECT_EQ(info.GetBase64().size(), (cert->size() + 2) / 3 * 4);
}

// The getters' buffers hold a common name of 99 bytes and a subject of 511;
// a longer one comes back empty, as the system's name calls give it, never cut.
TEST_F(CertInfoTest, NamesLongerThanTheGettersHoldAreEmpty) {
  for (size_t length : {99u, 100u}) {
    CertSpec spec;
    spec.subject = {{"CN", std::string(length, 'n')}, {"OU", std::string(500, 'u')}};
    auto cert = IssueCert(spec, root_.get());
    CCertInfo info(cert->data(), static_cast<int32_t>(cert->size()));
    ASSERT_TRUE(info.IsLoaded());
    EXPECT_EQ(info.GetSubjectCN(), length == 99 ? std::string(99, 'n') : "") << length;
    EXPECT_EQ(info.GetSubject(), "") << length;
  }
}

TEST_F(CertInfoTest, AuthorityTest) {
  EXPECT_TRUE(CCertInfo(root_->data(), static_cast<int32_t>(root_->size())).IsCA());
  CertSpec selfSigned;
  selfSigned.subject = kv::test::SimpleName("Self");
  selfSigned.keyUsage = 0x80;
  auto self = IssueCert(selfSigned);
  EXPECT_TRUE(CCertInfo(self->data(), static_cast<int32_t>(self->size())).IsCA()) << "issuer equals subject";
  CertSpec crlSigner;
  crlSigner.subject = kv::test::SimpleName("CRL signer");
  crlSigner.keyUsage = 0x02;
  auto crl = IssueCert(crlSigner, root_.get());
  EXPECT_TRUE(CCertInfo(crl->data(), static_cast<int32_t>(crl->size())).IsCA());
  CertSpec noUsage;
  noUsage.subject = kv::test::SimpleName("Plain");
  auto plain = IssueCert(noUsage, root_.get());
  CCertInfo plainInfo(plain->data(), static_cast<int32_t>(plain->size()));
  EXPECT_EQ(plainInfo.GetKeyUsage(), 0);
  EXPECT_FALSE(plainInfo.IsCA());
}

TEST_F(CertInfoTest, DatesAreLocalTimeInThreeForms) {
  ScopedTimeZone tz("Asia/Taipei");
  CertSpec spec;
  spec.subject = kv::test::SimpleName("Dated");
  spec.notBefore = kv::test::UtcTime(2013, 12, 31, 16, 0, 0);
  spec.notAfter = kv::test::UtcTime(2015, 6, 30, 3, 4, 5);
  auto cert = IssueCert(spec, root_.get());
  CCertInfo info(cert->data(), static_cast<int32_t>(cert->size()));
  EXPECT_EQ(info.GetNotBefore(), "20140101000000");
  EXPECT_EQ(info.GetNotBeforeDate(), "2014/01/01");
  EXPECT_EQ(info.GetNotBeforeDateTime(), "2014/01/01 00:00:00");
  EXPECT_EQ(info.GetNotAfter(), "20150630110405");
  EXPECT_EQ(info.GetNotAfterDateTime(), "2015/06/30 11:04:05");
}

TEST_F(CertInfoTest, NotACertificateGivesEmptyValues) {
  const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  CCertInfo info(junk, sizeof junk);
  EXPECT_FALSE(info.IsLoaded());
  EXPECT_NE(info.LastError(), 0u);
  EXPECT_EQ(info.GetSubject(), "");
  EXPECT_EQ(info.GetSerial(), "");
  EXPECT_EQ(info.GetFingerprint(), "");
  EXPECT_EQ(info.GetNotAfter(), "");
  EXPECT_EQ(info.GetBase64(), "");
  EXPECT_EQ(info.GetKeyUsage(), 0);
  CCertInfo empty(junk, 0);
  EXPECT_FALSE(empty.IsLoaded());
  CCertInfo null(nullptr, 4);
  EXPECT_FALSE(null.IsLoaded());
}

TEST_F(CertInfoTest, AttachDoesNotTakeOwnership) {
  auto cert = kv::test::MakeEndEntity("Attached", *root_);
  PCCERT_CONTEXT context = CertCreateCertificateContext(kCertEncoding, cert->data(), cert->size());
  ASSERT_NE(context, nullptr);
  {
    CCertInfo info(context);
    EXPECT_EQ(info.GetSubjectCN(), "Attached");
  }
  // Still usable: the info did not free it.
  EXPECT_EQ(CCertInfo(context).GetSubjectCN(), "Attached");
  CertFreeCertificateContext(context);
}

TEST_F(CertInfoTest, ChineseNamesInCodePage950) {
  kv::test::ScopedEnv cp("KORVESSA_CODEPAGE", nullptr);
  CertSpec spec;
  spec.subject = {{"C", "TW", V_ASN1_PRINTABLESTRING}, {"CN", "王小明", V_ASN1_BMPSTRING}};
  auto cert = IssueCert(spec, root_.get());
  CCertInfo info(cert->data(), static_cast<int32_t>(cert->size()));
  EXPECT_EQ(info.GetSubjectCN(), "\xA4\xFD\xA4\x70\xA9\xFA");  // 王小明 in Big5
}

}  // namespace
