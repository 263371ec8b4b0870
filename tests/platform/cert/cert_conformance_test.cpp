// Certificates and stores where Windows' documented behaviour is easy to miss:
// an unsigned certificate body is still a certificate, and a system store
// that cannot exist is a missing file.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/conformance.h"
#include "support/temp_home.h"

namespace {

class CertConformance : public kv::test::HomeTest {};

// The body of a certificate with no signature around it, serial 5, empty
// algorithm identifiers, CN=Body as issuer and subject and an empty key.
const std::vector<BYTE> kUnsignedBody = {
    0x30, 0x52, 0x02, 0x01, 0x05, 0x30, 0x02, 0x06, 0x00,
    // issuer
    0x30, 0x0f, 0x31, 0x0d, 0x30, 0x0b, 0x06, 0x03, 0x55, 0x04, 0x03, 0x13, 0x04, 'B', 'o', 'd', 'y',
    // validity
    0x30, 0x1e, 0x17, 0x0d, '2', '0', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z', 0x17, 0x0d, '3', '0',
    '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z',
    // subject
    0x30, 0x0f, 0x31, 0x0d, 0x30, 0x0b, 0x06, 0x03, 0x55, 0x04, 0x03, 0x13, 0x04, 'B', 'o', 'd', 'y',
    // key
    0x30, 0x07, 0x30, 0x02, 0x06, 0x00, 0x03, 0x01, 0x00};

TEST_F(CertConformance, UnsignedBodyDecodesAndLinks) {
  ASSERT_EQ(kUnsignedBody.size(), 0x54u);
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING, kUnsignedBody.data(),
                                                    static_cast<DWORD>(kUnsignedBody.size()));
  ASSERT_NE(ctx, nullptr) << std::hex << GetLastError();
  EXPECT_EQ(ctx->cbCertEncoded, kUnsignedBody.size());
  EXPECT_EQ(ctx->pCertInfo->dwVersion, (DWORD)CERT_V1);
  ASSERT_EQ(ctx->pCertInfo->SerialNumber.cbData, 1u);
  EXPECT_EQ(ctx->pCertInfo->SerialNumber.pbData[0], 5);
  EXPECT_EQ(ctx->pCertInfo->SubjectPublicKeyInfo.PublicKey.cbData, 0u);
  char name[32];
  CertNameToStrA(X509_ASN_ENCODING, &ctx->pCertInfo->Subject, CERT_X500_NAME_STR, name, sizeof name);
  EXPECT_STREQ(name, "CN=Body");

  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, kUnsignedBody.data(),
                                               static_cast<DWORD>(kUnsignedBody.size()), CERT_STORE_ADD_ALWAYS,
                                               nullptr));
  PCCERT_CONTEXT linked = nullptr;
  ASSERT_TRUE(CertAddCertificateLinkToStore(store, ctx, CERT_STORE_ADD_ALWAYS, &linked));
  EXPECT_EQ(linked->hCertStore, store);
  CertFreeCertificateContext(linked);
  CertCloseStore(store, 0);

  const char* oid = ctx->pCertInfo->SignatureAlgorithm.pszObjId;
  const std::string emptyOid = oid ? oid : "(null)";
  CertFreeCertificateContext(ctx);
  KV_WINE_DIFFERS("crypt32 decodes an empty OBJECT IDENTIFIER as a null pszObjId, not an empty string");
  EXPECT_EQ(emptyOid, "");
}

TEST_F(CertConformance, SystemStoresThatCannotExistAreMissingFiles) {
  const struct {
    const char* what;
    LPCSTR provider;
    DWORD flags;
    const void* name;
  } cases[] = {
      {"no name", CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER, nullptr},
      {"no location", CERT_STORE_PROV_SYSTEM_A, 0, "My"},
      {"two locations", CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_SYSTEM_STORE_CURRENT_USER,
       u"My"},
  };
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CertOpenStore(c.provider, 0, 0, c.flags, c.name), nullptr) << c.what;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND) << c.what;
  }
}

}  // namespace
