// SignPkcs1 and SignPkcs7 with SHA-2, checked by OpenSSL: the flags' digest
// choice, keys of the personal store and of PFX files (whose providers know
// no SHA-2 and sign through the AES-capable one), the chain, DER's order of
// the signed attributes, and the administrator's default digest.
#include <gtest/gtest.h>

#include <openssl/cms.h>

#include "sign/sign_test_support.h"
#include "support/machine_values.h"

namespace {

using namespace kv::test;

const std::string kText = "Order 2330 x 1000";

class Sha2SigningTest : public SigningTest {
 protected:
  Sha2SigningTest() : machine_(home_.path()) {}

  void SetMachineDefault(DWORD value) { ASSERT_TRUE(machine_.SetDword("DefaultDigestSha256", value)); }
  std::string Pkcs1(LONG flags, const std::string& text = kText) {
    std::string out = TakeText(engine_.SignPkcs1(Utf8Bstr(text), flags));
    EXPECT_EQ(0, engine_.Code()) << std::hex << flags;
    return out;
  }
  std::string Pkcs7(LONG flags) {
    std::string out = TakeText(engine_.SignPkcs7(Utf8Bstr(kText), flags));
    EXPECT_EQ(0, engine_.Code()) << std::hex << flags;
    return out;
  }
  // The signed attributes' types in the order the message holds them.
  static std::vector<int> AttributeOrder(const std::string& base64) {
    std::vector<uint8_t> der = FromBase64(base64);
    const unsigned char* p = der.data();
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
    std::vector<int> nids;
    if (!cms) return nids;
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
    for (int i = 0; i < CMS_signed_get_attr_count(si); ++i)
      nids.push_back(OBJ_obj2nid(X509_ATTRIBUTE_get0_object(CMS_signed_get_attr(si, i))));
    CMS_ContentInfo_free(cms);
    return nids;
  }

  MachineValues machine_;
};

TEST_F(Sha2SigningTest, Pkcs1DigestChoiceAndForms) {
  WritePfx("signer.pfx", *signer_, {});
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  const std::vector<uint8_t> utf16 = Utf16Bytes(kText), ansi(kText.begin(), kText.end());
  const struct {
    LONG flags;
    const EVP_MD* md;
  } cases[] = {
      {0x10000, EVP_sha256()},
      {0x20000, EVP_sha384()},
      {0x40000 | 0x100, EVP_sha512()},
      {0x10000 | 0x1000, EVP_sha256()},         // outranks MD5
      {0x10000 | 0x2000, EVP_sha256()},         // and SHA-1 of MD5: the content's own digest
      {0x10000 | 0x40000, EVP_sha512()},        // the longest wins
      {0x20000 | 0x800, EVP_sha384()},          // ANSI content
      {0x10000 | 0x4000, EVP_sha256()},         // platform byte order
  };
  for (const auto& c : cases) {
    const std::string text = Pkcs1(c.flags);
    std::vector<uint8_t> signature = (c.flags & 0x100) ? FromBase64(text) : FromHex(text);
    if (c.flags & 0x4000) signature = Reversed(signature);
    EXPECT_TRUE(VerifyDigestSignature(signer_->key(), c.md, Digest(c.md, (c.flags & 0x800) ? ansi : utf16), signature))
        << std::hex << c.flags;
  }
}

TEST_F(Sha2SigningTest, StoreKeyAndChain) {
  AddToMy(*signer_);
  ASSERT_EQ(0, engine_.SelectSigner(Utf8Bstr(""), 0x100, 0));
  EXPECT_TRUE(VerifyDigestSignature(signer_->key(), EVP_sha256(), Digest(EVP_sha256(), Utf16Bytes(kText)),
                                    FromHex(Pkcs1(0x10000))));
  CmsResult r = VerifyCms(Pkcs7(0x20000 | 0x2000), *root_, nullptr, {}, CMS_BINARY | CMS_CADES);
  EXPECT_TRUE(r.verified) << r.error;

  CertPtr intermediate = MakeIntermediateCa("Test Intermediate", *root_);
  CertPtr leaf = MakeEndEntity("Chained Signer", *intermediate);
  WritePfx("chain.pfx", *leaf, {intermediate.get(), root_.get()});
  ASSERT_EQ(0, SelectPfx(engine_, "chain.pfx"));
  r = VerifyCms(Pkcs7(0x10000 | 0x2000 | 0x200), *root_, nullptr, {}, CMS_BINARY | CMS_CADES);
  EXPECT_TRUE(r.verified) << r.error;
}

// With a short issuer name and serial, and SHA-512's long messageDigest, the
// signing-certificate attribute is the shorter encoding and DER puts it
// first (a verifier that re-encodes the set in DER would otherwise digest
// other bytes than were signed; OpenSSL takes them as received).
TEST_F(Sha2SigningTest, SignedAttributesInDerOrder) {
  CertSpec spec;
  spec.subject = SimpleName("a");
  spec.ca = true;
  spec.keyUsage = 0x06;
  CertPtr tiny = IssueCert(spec);
  spec.subject = SimpleName("Signer");
  spec.ca = false;
  spec.keyUsage = 0xC0;
  CertPtr leaf = IssueCert(spec, tiny.get());  // serial 01
  WritePfx("tiny.pfx", *leaf, {});
  ASSERT_EQ(0, SelectPfx(engine_, "tiny.pfx"));
  const std::string message = Pkcs7(0x40000 | 0x2000);
  EXPECT_EQ((std::vector<int>{NID_pkcs9_contentType, NID_pkcs9_signingTime, NID_id_smime_aa_signingCertificateV2,
                              NID_pkcs9_messageDigest}),
            AttributeOrder(message));
  CmsResult r = VerifyCms(message, *tiny, nullptr, {}, CMS_BINARY | CMS_CADES);
  EXPECT_TRUE(r.verified) << r.error;
  // With the usual names it follows the three.
  WritePfx("signer.pfx", *signer_, {});
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  EXPECT_EQ((std::vector<int>{NID_pkcs9_contentType, NID_pkcs9_signingTime, NID_pkcs9_messageDigest,
                              NID_id_smime_aa_signingCertificateV2}),
            AttributeOrder(Pkcs7(0x10000 | 0x2000)));
}

TEST_F(Sha2SigningTest, MachineDefaultMovesCallsThatNameNoDigest) {
  WritePfx("signer.pfx", *signer_, {});
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  const std::vector<uint8_t> content = Utf16Bytes(kText);
  EVP_PKEY* key = signer_->key();
  for (DWORD value : {0u, 2u}) {  // only 1 turns it on
    SetMachineDefault(value);
    EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha1(), Digest(EVP_sha1(), content), FromHex(Pkcs1(0))));
  }
  SetMachineDefault(1);
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha256(), Digest(EVP_sha256(), content), FromHex(Pkcs1(0))));
  // Calls that name a digest keep it.
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_md5(), Digest(EVP_md5(), content), FromHex(Pkcs1(0x1000))));
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha1(), Digest(EVP_sha1(), Digest(EVP_md5(), content)),
                                    FromHex(Pkcs1(0x2000))));
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha512(), Digest(EVP_sha512(), content), FromHex(Pkcs1(0x40000))));

  const std::string message = Pkcs7(0x2000);
  const std::vector<uint8_t> sha256Id = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                         0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00};
  EXPECT_EQ(2u, CountBytes(FromBase64(message), sha256Id));
  CmsResult r = VerifyCms(message, *root_, nullptr, {}, CMS_BINARY | CMS_CADES);
  EXPECT_TRUE(r.verified) << r.error;
  const std::vector<uint8_t> md5Id = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04};
  EXPECT_EQ(2u, CountBytes(FromBase64(Pkcs7(0x1000)), md5Id));
}

}  // namespace
