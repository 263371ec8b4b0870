// Name rendering: CertNameToStrA and CertGetNameStringA as Windows renders
// them, in the ANSI code page (950 here), with short buffers and size queries.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertSpec;
using kv::test::NameEntry;

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const DWORD kX500 = CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG;

class CertNames : public ::testing::Test {
 protected:
  kv::test::ScopedEnv codepage_{"KORVESSA_CODEPAGE", nullptr};  // 950

  PCCERT_CONTEXT Make(const std::vector<NameEntry>& subject, const kv::test::TestCert* issuer = nullptr,
                      const std::string& altEmail = "") {
    CertSpec spec;
    spec.subject = subject;
    spec.altEmail = altEmail;
    cert_ = kv::test::IssueCert(spec, issuer);
    return CertCreateCertificateContext(kEnc, cert_->data(), cert_->size());
  }
  std::string NameToStr(CERT_NAME_BLOB* name, DWORD type, DWORD size = 512) {
    std::string buf(size, '\x7f');
    DWORD n = CertNameToStrA(kEnc, name, type, &buf[0], size);
    EXPECT_GE(n, 1u);
    return std::string(buf.c_str());
  }
  kv::test::CertPtr cert_;
};

TEST_F(CertNames, X500KeysInEncodedOrder) {
  PCCERT_CONTEXT ctx = Make({{"C", "TW", V_ASN1_PRINTABLESTRING},
                             {"S", "Taiwan"},
                             {"L", "Taipei"},
                             {"O", "Test Bank"},
                             {"OU", "Retail"},
                             {"CN", "A123456789"},
                             {"E", "a@example.com", V_ASN1_IA5STRING},
                             {"STREET", "Road 1"},
                             {"SN", "Wang"},
                             {"SERIALNUMBER", "X1", V_ASN1_PRINTABLESTRING},
                             {"T", "Dr"},
                             {"G", "Hsiao"},
                             {"I", "HM"},
                             {"DC", "example", V_ASN1_IA5STRING},
                             {"2.5.4.15", "Private"}});
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, kX500),
            "C=TW, S=Taiwan, L=Taipei, O=Test Bank, OU=Retail, CN=A123456789, E=a@example.com, STREET=Road 1, "
            "SN=Wang, SERIALNUMBER=X1, T=Dr, G=Hsiao, I=HM, DC=example, OID.2.5.4.15=Private");
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, kX500 | CERT_NAME_STR_REVERSE_FLAG).substr(0, 30),
            "OID.2.5.4.15=Private, DC=examp");
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, CERT_OID_NAME_STR).substr(0, 20), "2.5.4.6=TW, 2.5.4.8=");
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, CERT_SIMPLE_NAME_STR).substr(0, 22), "TW, Taiwan, Taipei, Te");
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, kX500 | CERT_NAME_STR_SEMICOLON_FLAG).substr(0, 16),
            "C=TW; S=Taiwan; ");
  CertFreeCertificateContext(ctx);
}

TEST_F(CertNames, QuotingAndMultiValuedRdn) {
  PCCERT_CONTEXT ctx = Make({{"O", "Bank, \"Ltd\""}, {"CN", "A"}, {"OU", "B", V_ASN1_UTF8STRING, true}});
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, CERT_X500_NAME_STR), "O=\"Bank, \"\"Ltd\"\"\", CN=A + OU=B");
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, kX500), "O=Bank, \"Ltd\", CN=A + OU=B");
  CertFreeCertificateContext(ctx);
}

TEST_F(CertNames, ChineseBmpAndUtf8ToCodePage950) {
  PCCERT_CONTEXT ctx = Make({{"C", "TW", V_ASN1_PRINTABLESTRING},
                             {"O", "測試憑證", V_ASN1_BMPSTRING},
                             {"CN", "王小明", V_ASN1_UTF8STRING}});
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, kX500),
            "C=TW, O=\xB4\xFA\xB8\xD5\xBE\xCC\xC3\xD2, CN=\xA4\xFD\xA4\x70\xA9\xFA");
  char cn[100];
  SetLastError(0xdeadbeef);
  DWORD n = CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), cn, sizeof cn);
  EXPECT_EQ(n, 7u);
  EXPECT_STREQ(cn, "\xA4\xFD\xA4\x70\xA9\xFA");
  // A buffer short of the whole name gets none of it.
  char small[4];
  n = CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), small, sizeof small);
  EXPECT_EQ(n, 1u);
  EXPECT_STREQ(small, "");
  CertFreeCertificateContext(ctx);
}

// Renderings are kept between calls: a repeated call must still follow the
// format asked for and the code page in force at the time of the call.
TEST_F(CertNames, RepeatedRenderingsFollowFormatAndCodePage) {
  PCCERT_CONTEXT ctx = Make({{"O", "測試憑證", V_ASN1_BMPSTRING}, {"CN", "王小明", V_ASN1_UTF8STRING}});
  ASSERT_NE(ctx, nullptr);
  struct Case {
    const char* codePage;  // null: the default, 950
    DWORD type;
    std::string expected;
  } cases[] = {
      {nullptr, kX500, "O=\xB4\xFA\xB8\xD5\xBE\xCC\xC3\xD2, CN=\xA4\xFD\xA4\x70\xA9\xFA"},
      {nullptr, CERT_SIMPLE_NAME_STR, "\xB4\xFA\xB8\xD5\xBE\xCC\xC3\xD2, \xA4\xFD\xA4\x70\xA9\xFA"},
      {"65001", kX500, "O=測試憑證, CN=王小明"},
      {nullptr, kX500, "O=\xB4\xFA\xB8\xD5\xBE\xCC\xC3\xD2, CN=\xA4\xFD\xA4\x70\xA9\xFA"},
  };
  for (const Case& c : cases) {
    kv::test::ScopedEnv codePage("KORVESSA_CODEPAGE", c.codePage);
    for (int round = 0; round < 2; ++round)
      EXPECT_EQ(NameToStr(&ctx->pCertInfo->Subject, c.type), c.expected) << c.type << " round " << round;
  }
  CertFreeCertificateContext(ctx);
}

TEST_F(CertNames, SizeQueryAndTruncation) {
  PCCERT_CONTEXT ctx = Make(kv::test::SimpleName("Leaf", "Bank", "TW"));
  ASSERT_NE(ctx, nullptr);
  const std::string full = "C=TW, O=Bank, CN=Leaf";
  EXPECT_EQ(CertNameToStrA(kEnc, &ctx->pCertInfo->Subject, kX500, nullptr, 0), full.size() + 1);
  char buf[8];
  EXPECT_EQ(CertNameToStrA(kEnc, &ctx->pCertInfo->Subject, kX500, buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "");
  // Not a name: an empty string and the count 1.
  BYTE junk[] = {0x04, 0x01, 0x00};
  CERT_NAME_BLOB bad{sizeof junk, junk};
  buf[0] = 'x';
  EXPECT_EQ(CertNameToStrA(kEnc, &bad, kX500, buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "");
  CertFreeCertificateContext(ctx);
}

TEST_F(CertNames, GetNameStringIssuerAndDisplay) {
  auto root = kv::test::MakeRootCa("Issuing CA");
  PCCERT_CONTEXT ctx = Make({{"C", "TW", V_ASN1_PRINTABLESTRING}, {"O", "Only Org"}}, root.get(), "x@example.com");
  ASSERT_NE(ctx, nullptr);
  char buf[100];
  EXPECT_EQ(CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, CERT_NAME_ISSUER_FLAG, const_cast<char*>(szOID_COMMON_NAME),
                               buf, sizeof buf),
            11u);
  EXPECT_STREQ(buf, "Issuing CA");
  // No CN in the subject: the attribute query is empty, the display name falls back to O.
  EXPECT_EQ(CertGetNameStringA(ctx, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), buf, sizeof buf),
            1u);
  EXPECT_STREQ(buf, "");
  CertGetNameStringA(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "Only Org");
  CertGetNameStringA(ctx, CERT_NAME_EMAIL_TYPE, 0, nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "x@example.com");
  EXPECT_EQ(CertGetNameStringA(ctx, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, nullptr, 0), 11u);
  CertFreeCertificateContext(ctx);
}

// What Windows gives beyond the plain rendering: whole-or-nothing narrow
// strings, the last error of CertNameToStr, the default string and attribute
// types, and the older alternative-name extensions.
TEST_F(CertNames, WindowsDefaultsAndErrors) {
  PCCERT_CONTEXT ctx = Make({{"C", "TW", V_ASN1_PRINTABLESTRING},
                             {"CN", "Leaf", V_ASN1_UTF8STRING},
                             {"E", "leaf@example.com", V_ASN1_IA5STRING}});
  ASSERT_NE(ctx, nullptr);
  CERT_NAME_BLOB* subject = &ctx->pCertInfo->Subject;
  char buf[100];
  for (DWORD size : {0u, 5u}) {
    SetLastError(0xdeadbeef);
    buf[0] = 'x';
    EXPECT_EQ(CertNameToStrA(0, subject, kX500, size ? buf : nullptr, size), 1u) << size;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND) << size;
    if (size) {
      EXPECT_STREQ(buf, "");
    }
  }
  WCHAR wide[100];
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, subject, CERT_SIMPLE_NAME_STR, wide, 100), 27u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
  // The wide call cuts the string instead.
  EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, subject, CERT_SIMPLE_NAME_STR, wide, 4), 4u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(wide)), u"TW,");

  const DWORD zero = 0, oid = CERT_OID_NAME_STR;
  const struct {
    DWORD type;
    const void* para;
    const char* expected;
  } cases[] = {
      {CERT_NAME_RDN_TYPE, nullptr, "TW, Leaf, leaf@example.com"},
      {CERT_NAME_RDN_TYPE, &zero, "TW, Leaf, leaf@example.com"},
      {CERT_NAME_RDN_TYPE, &oid, "2.5.4.6=TW, 2.5.4.3=Leaf, 1.2.840.113549.1.9.1=leaf@example.com"},
      {CERT_NAME_ATTR_TYPE, nullptr, "leaf@example.com"},
      {0, nullptr, ""},
  };
  for (const auto& c : cases) {
    DWORD n = CertGetNameStringA(ctx, c.type, 0, const_cast<void*>(c.para), buf, sizeof buf);
    EXPECT_STREQ(buf, c.expected) << c.type;
    EXPECT_EQ(n, strlen(c.expected) + 1) << c.type;
  }
  CertFreeCertificateContext(ctx);

  // The alternative name under its older identifier (2.5.29.7) still counts.
  PCCERT_CONTEXT current = Make({{"O", "Org"}}, nullptr, "alt@example.com");
  ASSERT_NE(current, nullptr);
  std::vector<BYTE> der(current->pbCertEncoded, current->pbCertEncoded + current->cbCertEncoded);
  CertFreeCertificateContext(current);
  const BYTE sanOid[] = {0x06, 0x03, 0x55, 0x1d, 0x11};
  auto at = std::search(der.begin(), der.end(), std::begin(sanOid), std::end(sanOid));
  ASSERT_NE(at, der.end());
  at[4] = 0x07;
  ctx = CertCreateCertificateContext(kEnc, der.data(), static_cast<DWORD>(der.size()));
  ASSERT_NE(ctx, nullptr);
  CertGetNameStringA(ctx, CERT_NAME_EMAIL_TYPE, 0, nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "alt@example.com");
  CertFreeCertificateContext(ctx);
}

}  // namespace
