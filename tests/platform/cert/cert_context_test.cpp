// Certificate contexts: decoding into CERT_INFO, reference counting,
// properties and the errors Windows reports for bad input.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertSpec;
using kv::test::IssueCert;

const DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

TEST(CertContext, FillsCertInfoAsWindows) {
  auto root = kv::test::MakeRootCa("Root");
  CertSpec spec;
  spec.subject = kv::test::SimpleName("Leaf", "Bank", "TW");
  spec.serial = {0x8A, 0x01, 0x02};  // high bit set: encoded with a leading 00
  spec.keyUsage = 0xC0;
  spec.notBefore = kv::test::UtcTime(2013, 12, 31, 16, 0, 0);
  spec.notAfter = kv::test::UtcTime(2051, 1, 2, 3, 4, 5);  // GeneralizedTime
  auto leaf = IssueCert(spec, root.get());

  SetLastError(0xdeadbeef);
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, leaf->data(), leaf->size());
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->dwCertEncodingType, static_cast<DWORD>(X509_ASN_ENCODING));
  ASSERT_EQ(ctx->cbCertEncoded, leaf->size());
  EXPECT_EQ(0, memcmp(ctx->pbCertEncoded, leaf->data(), leaf->size()));
  const CERT_INFO* info = ctx->pCertInfo;
  EXPECT_EQ(info->dwVersion, static_cast<DWORD>(CERT_V3));
  // Least significant byte first, the sign byte kept at the end.
  ASSERT_EQ(info->SerialNumber.cbData, 4u);
  EXPECT_EQ(info->SerialNumber.pbData[0], 0x02);
  EXPECT_EQ(info->SerialNumber.pbData[2], 0x8A);
  EXPECT_EQ(info->SerialNumber.pbData[3], 0x00);
  EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, szOID_RSA_SHA256RSA);
  EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA);
  EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cUnusedBits, 0u);
  // Names are the encoded Name elements.
  X509_NAME* subject = X509_get_subject_name(leaf->x509());
  unsigned char* enc = nullptr;
  int n = i2d_X509_NAME(subject, &enc);
  ASSERT_EQ(info->Subject.cbData, static_cast<DWORD>(n));
  EXPECT_EQ(0, memcmp(info->Subject.pbData, enc, n));
  OPENSSL_free(enc);
  // 2013-12-31 16:00:00 UTC as FILETIME.
  uint64_t nb = (static_cast<uint64_t>(info->NotBefore.dwHighDateTime) << 32) | info->NotBefore.dwLowDateTime;
  EXPECT_EQ(nb, (1388505600ULL + 11644473600ULL) * 10000000ULL);
  uint64_t na = (static_cast<uint64_t>(info->NotAfter.dwHighDateTime) << 32) | info->NotAfter.dwLowDateTime;
  EXPECT_EQ(na, (static_cast<uint64_t>(kv::test::UtcTime(2051, 1, 2, 3, 4, 5)) + 11644473600ULL) * 10000000ULL);
  ASSERT_EQ(info->cExtension, 1u);
  EXPECT_STREQ(info->rgExtension[0].pszObjId, szOID_KEY_USAGE);
  EXPECT_TRUE(info->rgExtension[0].fCritical);
  // The extension value is the contents of extnValue: a BIT STRING.
  EXPECT_EQ(info->rgExtension[0].Value.pbData[0], 0x03);

  BYTE usage[2] = {0xff, 0xff};
  EXPECT_TRUE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, ctx->pCertInfo, usage, 2));
  EXPECT_EQ(usage[0], 0xC0);
  EXPECT_EQ(usage[1], 0x00);
  EXPECT_TRUE(CertFreeCertificateContext(ctx));
}

TEST(CertContext, VersionOneWithoutKeyUsage) {
  CertSpec spec;
  spec.subject = kv::test::SimpleName("V1");
  spec.version = 1;
  auto cert = IssueCert(spec);
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING, cert->data(), cert->size());
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->pCertInfo->dwVersion, static_cast<DWORD>(CERT_V1));
  EXPECT_EQ(ctx->pCertInfo->cExtension, 0u);
  BYTE usage = 0x55;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, ctx->pCertInfo, &usage, 1));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(usage, 0);
  CertFreeCertificateContext(ctx);
}

TEST(CertContext, BadInputGivesWindowsErrors) {
  auto cert = kv::test::MakeRootCa("R");
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertCreateCertificateContext(0, cert->data(), cert->size()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertCreateCertificateContext(kEnc, cert->data(), 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));

  const BYTE text[] = "hello, world";
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertCreateCertificateContext(kEnc, text, sizeof text - 1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));

  // Every truncation fails cleanly, with an end-of-data or corrupt error.
  for (unsigned cut = 1; cut < cert->size(); cut += 7) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CertCreateCertificateContext(kEnc, cert->data(), cut), nullptr) << cut;
    DWORD e = GetLastError();
    EXPECT_TRUE(e == static_cast<DWORD>(CRYPT_E_ASN1_EOD) || e == static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT) ||
                e == static_cast<DWORD>(CRYPT_E_ASN1_BADTAG))
        << std::hex << e << " at " << std::dec << cut;
  }
}

TEST(CertContext, ReferenceCounting) {
  auto cert = kv::test::MakeRootCa("R");
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, cert->data(), cert->size());
  ASSERT_NE(ctx, nullptr);
  PCCERT_CONTEXT dup = CertDuplicateCertificateContext(ctx);
  EXPECT_EQ(dup, ctx);
  EXPECT_TRUE(CertFreeCertificateContext(ctx));
  // Still alive through the duplicate.
  EXPECT_EQ(dup->cbCertEncoded, cert->size());
  EXPECT_TRUE(CertFreeCertificateContext(dup));
  EXPECT_TRUE(CertFreeCertificateContext(nullptr));
  EXPECT_EQ(CertDuplicateCertificateContext(nullptr), nullptr);
  // A pointer that is not a context is refused instead of dereferenced.
  CERT_CONTEXT fake{};
  SetLastError(0xdeadbeef);
  DWORD size = 0;
  EXPECT_FALSE(CertGetCertificateContextProperty(&fake, CERT_SHA1_HASH_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

TEST(CertContext, HashPropertiesAndSizeQuery) {
  auto cert = kv::test::MakeRootCa("R");
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, cert->data(), cert->size());
  ASSERT_NE(ctx, nullptr);
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_HASH_PROP_ID, nullptr, &size));
  EXPECT_EQ(size, 20u);
  BYTE hash[20];
  size = 19;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetCertificateContextProperty(ctx, CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 20u);
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_EQ(std::vector<uint8_t>(hash, hash + 20), cert->Sha1());
  BYTE md5[16];
  size = sizeof md5;
  EXPECT_TRUE(CertGetCertificateContextProperty(ctx, CERT_MD5_HASH_PROP_ID, md5, &size));
  EXPECT_EQ(size, 16u);

  SetLastError(0xdeadbeef);
  size = 0;
  EXPECT_FALSE(CertGetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  CertFreeCertificateContext(ctx);
}

TEST(CertContext, KeyProvInfoInOneBlock) {
  auto cert = kv::test::MakeRootCa("R");
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, cert->data(), cert->size());
  ASSERT_NE(ctx, nullptr);
  WCHAR container[] = u"container-1";
  WCHAR provider[] = u"Microsoft Enhanced Cryptographic Provider v1.0";
  CRYPT_KEY_PROV_INFO in{};
  in.pwszContainerName = container;
  in.pwszProvName = provider;
  in.dwProvType = 1;
  in.dwKeySpec = AT_KEYEXCHANGE;
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &in));
  DWORD size = 0;
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_GT(size, sizeof(CRYPT_KEY_PROV_INFO));
  std::vector<BYTE> block(size);
  DWORD small = sizeof(CRYPT_KEY_PROV_INFO);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(small, size);
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size));
  auto* out = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
  // The strings live inside the returned block.
  auto inside = [&](const void* p) {
    return p >= static_cast<const void*>(block.data()) && p < static_cast<const void*>(block.data() + size);
  };
  EXPECT_TRUE(inside(out->pwszContainerName));
  EXPECT_TRUE(inside(out->pwszProvName));
  EXPECT_EQ(std::u16string(out->pwszContainerName), u"container-1");
  EXPECT_EQ(std::u16string(out->pwszProvName), std::u16string(provider));
  EXPECT_EQ(out->dwProvType, 1u);
  EXPECT_EQ(out->dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
  EXPECT_EQ(out->cProvParam, 0u);

  // Removing the property with a null value.
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));

  CERT_KEY_CONTEXT key{};
  key.cbSize = sizeof key;
  key.hCryptProv = 0x1234;
  key.dwKeySpec = AT_SIGNATURE;
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_CONTEXT_PROP_ID, 0, &key));
  CERT_KEY_CONTEXT back{};
  size = sizeof back;
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_KEY_CONTEXT_PROP_ID, &back, &size));
  EXPECT_EQ(back.hCryptProv, 0x1234u);
  EXPECT_EQ(back.dwKeySpec, static_cast<DWORD>(AT_SIGNATURE));
  key.cbSize = 5;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CertSetCertificateContextProperty(ctx, CERT_KEY_CONTEXT_PROP_ID, 0, &key));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
  CertFreeCertificateContext(ctx);
}

TEST(CertContext, KeyContextOwnsItsProvider) {
  kv::test::ScopedHome home;
  auto cert = kv::test::MakeRootCa("R");
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, cert->data(), cert->size());
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  CERT_KEY_CONTEXT key{sizeof(CERT_KEY_CONTEXT), prov, AT_KEYEXCHANGE};
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_CONTEXT_PROP_ID, 0, &key));
  PCCERT_CONTEXT dup = CertDuplicateCertificateContext(ctx);
  CertFreeCertificateContext(ctx);
  // Still held through the duplicate: the handle works.
  BYTE random[4];
  EXPECT_TRUE(CryptGenRandom(prov, sizeof random, random));
  SetLastError(0x1234);
  CertFreeCertificateContext(dup);
  EXPECT_EQ(GetLastError(), 0x1234u);
  // The final free released it.
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptReleaseContext(prov, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CertContext, TimeValidityAndComparison) {
  CertSpec spec;
  spec.subject = kv::test::SimpleName("T");
  spec.notBefore = kv::test::UtcTime(2020, 1, 1);
  spec.notAfter = kv::test::UtcTime(2021, 1, 1);
  auto cert = IssueCert(spec);
  PCCERT_CONTEXT ctx = CertCreateCertificateContext(kEnc, cert->data(), cert->size());
  ASSERT_NE(ctx, nullptr);
  auto ft = [](time_t t) {
    uint64_t v = (static_cast<uint64_t>(t) + 11644473600ULL) * 10000000ULL;
    FILETIME f{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
    return f;
  };
  FILETIME before = ft(kv::test::UtcTime(2019, 12, 31, 23, 59, 59));
  FILETIME inside = ft(kv::test::UtcTime(2020, 6, 1));
  FILETIME after = ft(kv::test::UtcTime(2021, 1, 1, 0, 0, 1));
  EXPECT_EQ(CertVerifyTimeValidity(&before, ctx->pCertInfo), -1);
  EXPECT_EQ(CertVerifyTimeValidity(&inside, ctx->pCertInfo), 0);
  EXPECT_EQ(CertVerifyTimeValidity(&after, ctx->pCertInfo), 1);
  EXPECT_EQ(CertVerifyTimeValidity(nullptr, ctx->pCertInfo), 1);  // expired now
  PCCERT_CONTEXT again = CertCreateCertificateContext(kEnc, cert->data(), cert->size());
  EXPECT_TRUE(CertCompareCertificate(kEnc, ctx->pCertInfo, again->pCertInfo));
  CertFreeCertificateContext(again);
  CertFreeCertificateContext(ctx);
}

}  // namespace
