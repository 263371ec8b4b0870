// SignPkcs1 and SignPkcs7 checked by OpenSSL: every flag that changes the
// signed bytes, the digest or the message layout, and the failure codes of
// the shared preparation.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <cstdio>

#include "sign/sign_test_support.h"
#include "sign/signer_cache.h"
#include "sign/signer_state.h"

namespace {

using namespace kv::test;

const std::string kText = "Order 2330 x 1000";
const std::string kChinese = "中文";  // Big5: A4 A4 A4 E5

std::vector<uint8_t> Ascii(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class SignPkcs1Test : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    WritePfx("signer.pfx", *signer_, {root_.get()});
    ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  }
  std::string Sign(const std::string& text, LONG flags) { return TakeText(engine_.SignPkcs1(Utf8Bstr(text), flags)); }
};

TEST_F(SignPkcs1Test, DigestAndContentVariantsVerify) {
  EVP_PKEY* key = signer_->key();
  std::string hex = Sign(kText, 0);
  ASSERT_EQ(0, engine_.Code());
  EXPECT_EQ(2u * EVP_PKEY_get_size(key), hex.size());
  EXPECT_EQ(std::string::npos, hex.find_first_not_of("0123456789ABCDEF"));
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha1(), Digest(EVP_sha1(), Utf16Bytes(kText)), FromHex(hex)));

  std::string ansi = Sign(kText, 0x800);
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha1(), Digest(EVP_sha1(), Ascii(kText)), FromHex(ansi)));

  std::string big5 = Sign(kChinese, 0x800);
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha1(), Digest(EVP_sha1(), {0xA4, 0xA4, 0xA4, 0xE5}), FromHex(big5)));

  std::string md5 = Sign(kText, 0x1000 | 0x2000);
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_md5(), Digest(EVP_md5(), Utf16Bytes(kText)), FromHex(md5)));

  std::string sha1OfMd5 = Sign(kText, 0x2000);
  EXPECT_TRUE(VerifyDigestSignature(key, EVP_sha1(), Digest(EVP_sha1(), Digest(EVP_md5(), Utf16Bytes(kText))),
                                    FromHex(sha1OfMd5)));

  // RSA PKCS#1 v1.5 is deterministic: the platform order is the exact reverse.
  std::string lsbFirst = Sign(kText, 0x4000);
  EXPECT_EQ(Reversed(FromHex(hex)), FromHex(lsbFirst));
}

TEST_F(SigningTest, Pkcs1Base64HasNoLineBreaksForLargeKeys) {
  CertSpec spec;
  spec.subject = SimpleName("Big Key");
  spec.keyUsage = 0xC0;
  spec.keyBits = 2048;
  CertPtr big = IssueCert(spec, root_.get());
  WritePfx("big.pfx", *big, {});
  ASSERT_EQ(0, SelectPfx(engine_, "big.pfx"));
  std::string text = TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0x100));
  ASSERT_EQ(0, engine_.Code());
  EXPECT_EQ(344u, text.size());
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
  std::vector<uint8_t> signature = FromBase64(text);
  EXPECT_EQ(256u, signature.size());
  EXPECT_TRUE(VerifyDigestSignature(big->key(), EVP_sha1(), Digest(EVP_sha1(), Utf16Bytes(kText)), signature));
}

TEST_F(SigningTest, PreparationFailures) {
  // Empty content is refused before protected mode is looked at.
  engine_.OverrideProtectedMode(true);
  EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr(""), 0)));
  EXPECT_EQ(ERR_BAD_PARAM, engine_.Code());
  EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr(""), 0)));
  EXPECT_EQ(ERR_BAD_PARAM, engine_.Code());
  EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr("x"), 0)));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine_.Code());
  engine_.OverrideProtectedMode(false);

  EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr("x"), 0)));
  EXPECT_EQ(ERR_NO_SIGNER, engine_.Code());
  EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr("x"), 0)));
  EXPECT_EQ(ERR_NO_SIGNER, engine_.Code());

  std::string path = WritePfx("moved.pfx", *signer_, {});
  ASSERT_EQ(0, SelectPfx(engine_, "moved.pfx"));
  ASSERT_EQ(0, std::rename(path.c_str(), (path + ".old").c_str()));
  EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr("x"), 0)));
  EXPECT_EQ(ERR_CERT_FILE_READ, engine_.Code());
  EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr("x"), 0)));
  EXPECT_EQ(ERR_CERT_FILE_READ, engine_.Code());
  ASSERT_EQ(0, std::rename((path + ".old").c_str(), path.c_str()));

  // A failed selection leaves no signer behind.
  EXPECT_EQ(ERR_BAD_PARAM, engine_.SelectSignerEx(Utf8Bstr(""), Utf8Bstr(folder_.path()), Utf8Bstr("moved.pfx"),
                                                  Utf8Bstr("1234"), Utf8Bstr("2014"), 0x200, 0));
  EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr("x"), 0)));
  EXPECT_EQ(ERR_NO_SIGNER, engine_.Code());
}

TEST_F(SigningTest, ConfirmationDialog) {
  WritePfx("signer.pfx", *signer_, {});
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  // Nothing can show the dialog here.
  EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0x8000)));
  EXPECT_EQ(ERR_MEM_ALLOC, engine_.Code());
  {
    ScriptedDialogs run(R"([{"dialog": 201, "press": 2}, {"dialog": 201, "press": 2}])");
    EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0x8000)));
    EXPECT_EQ(ERR_USER_CANCEL, engine_.Code());
    EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0x8000)));
    EXPECT_EQ(ERR_USER_CANCEL, engine_.Code());
    EXPECT_EQ(2u, run.Events("dialog").size());
  }
  {
    ScriptedDialogs run(R"([{"dialog": 201, "press": 1}, {"dialog": 201, "press": 1}])");
    std::string hex = TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0x8000));
    EXPECT_EQ(0, engine_.Code());
    EXPECT_TRUE(VerifyDigestSignature(signer_->key(), EVP_sha1(), Digest(EVP_sha1(), Utf16Bytes(kText)), FromHex(hex)));
    std::string p7 = TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0x8000));
    EXPECT_EQ(0, engine_.Code());
    EXPECT_TRUE(VerifyCms(p7, *root_).verified);
    std::vector<kv::json::Value> shown = run.Events("dialog");
    ASSERT_EQ(2u, shown.size());
  }
}

class SignPkcs7Test : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    WritePfx("signer.pfx", *signer_, {root_.get()});
    ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  }
  std::string Sign(const std::string& text, LONG flags) {
    std::string out = TakeText(engine_.SignPkcs7(Utf8Bstr(text), flags));
    EXPECT_EQ(0, engine_.Code()) << std::hex << flags;
    return out;
  }
  static CMS_ContentInfo* Parse(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    return d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
  }
};

TEST_F(SignPkcs7Test, AttachedDetachedAndContentForms) {
  std::string attached = Sign(kText, 0);
  EXPECT_EQ(std::string::npos, attached.find_first_of("\r\n"));
  CmsResult r = VerifyCms(attached, *root_);
  EXPECT_TRUE(r.verified) << r.error;
  EXPECT_EQ(Utf16Bytes(kText), r.content);
  std::vector<uint8_t> der = FromBase64(attached);
  CMS_ContentInfo* cms = Parse(der);
  ASSERT_NE(cms, nullptr);
  STACK_OF(X509)* certs = CMS_get1_certs(cms);
  ASSERT_EQ(1, sk_X509_num(certs));
  EXPECT_EQ(0, X509_cmp(sk_X509_value(certs, 0), signer_->x509()));
  sk_X509_pop_free(certs, X509_free);
  EXPECT_EQ(0, CMS_signed_get_attr_count(sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0)) > 0 ? 1 : 0);
  CMS_ContentInfo_free(cms);
  // SHA-1 identifier with NULL parameters.
  EXPECT_EQ(2u, CountBytes(der, {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00}));

  std::string detached = Sign(kText, 0x400);
  std::vector<uint8_t> detachedDer = FromBase64(detached);
  const std::vector<uint8_t> bareData = {0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
  EXPECT_EQ(1u, CountBytes(detachedDer, bareData));
  std::vector<uint8_t> content = Utf16Bytes(kText);
  r = VerifyCms(detached, *root_, &content);
  EXPECT_TRUE(r.verified) << r.error;
  std::vector<uint8_t> tampered = content;
  tampered[0] ^= 1;
  EXPECT_FALSE(VerifyCms(detached, *root_, &tampered).verified);

  r = VerifyCms(Sign(kChinese, 0x800), *root_);
  EXPECT_TRUE(r.verified) << r.error;
  EXPECT_EQ((std::vector<uint8_t>{0xA4, 0xA4, 0xA4, 0xE5}), r.content);
  r = VerifyCms(Sign(kChinese, 0), *root_);
  EXPECT_TRUE(r.verified) << r.error;
  EXPECT_EQ(Utf16Bytes(kChinese), r.content);
}

TEST_F(SignPkcs7Test, AuthenticatedAttributesInOrder) {
  std::string text = Sign(kText, 0x2000);
  CmsResult r = VerifyCms(text, *root_);
  EXPECT_TRUE(r.verified) << r.error;
  std::vector<uint8_t> der = FromBase64(text);
  CMS_ContentInfo* cms = Parse(der);
  ASSERT_NE(cms, nullptr);
  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
  ASSERT_EQ(3, CMS_signed_get_attr_count(si));
  const int expected[] = {NID_pkcs9_contentType, NID_pkcs9_signingTime, NID_pkcs9_messageDigest};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(expected[i], OBJ_obj2nid(X509_ATTRIBUTE_get0_object(CMS_signed_get_attr(si, i))));
  ASN1_TYPE* time = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, 1), 0);
  ASSERT_EQ(V_ASN1_UTCTIME, time->type);
  std::string when(reinterpret_cast<const char*>(time->value.utctime->data), time->value.utctime->length);
  ASSERT_EQ(13u, when.size());
  EXPECT_EQ(std::string::npos, when.substr(0, 12).find_first_not_of("0123456789"));
  EXPECT_EQ('Z', when[12]);
  ASN1_TYPE* digest = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, 2), 0);
  ASSERT_EQ(V_ASN1_OCTET_STRING, digest->type);
  std::vector<uint8_t> value(digest->value.octet_string->data,
                             digest->value.octet_string->data + digest->value.octet_string->length);
  EXPECT_EQ(Digest(EVP_sha1(), Utf16Bytes(kText)), value);
  // The signing time is now, in UTC.
  ASN1_TIME* now = ASN1_TIME_set(nullptr, ::time(nullptr));
  int days = 0, seconds = 0;
  ASSERT_EQ(1, ASN1_TIME_diff(&days, &seconds, time->value.utctime, now));
  EXPECT_EQ(0, days);
  EXPECT_LE(std::abs(seconds), 120);
  ASN1_TIME_free(now);
  CMS_ContentInfo_free(cms);

  // MD5 attributes: a 16-byte digest, md5WithRSAEncryption in both digest fields.
  std::string md5 = Sign(kText, 0x2000 | 0x1000 | 0x100 | 0x200);
  std::vector<uint8_t> md5Der = FromBase64(md5);
  EXPECT_EQ(2u, CountBytes(md5Der, {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04}));
  std::vector<uint8_t> md5Digest = Digest(EVP_md5(), Utf16Bytes(kText));
  std::vector<uint8_t> octets = {0x04, 0x10};
  octets.insert(octets.end(), md5Digest.begin(), md5Digest.end());
  EXPECT_EQ(1u, CountBytes(md5Der, octets));
  CmsResult md5Result = VerifyCms(md5, *root_, nullptr, {signer_.get()});
  EXPECT_TRUE(md5Result.verified) << md5Result.error;
}

TEST_F(SignPkcs7Test, Md5AndNoCertificates) {
  std::string none = Sign(kText, 0x100 | 0x200);
  CMS_ContentInfo* cms = Parse(FromBase64(none));
  ASSERT_NE(cms, nullptr);
  STACK_OF(X509)* certs = CMS_get1_certs(cms);
  EXPECT_EQ(0, certs ? sk_X509_num(certs) : 0);
  sk_X509_pop_free(certs, X509_free);
  CMS_ContentInfo_free(cms);
  EXPECT_TRUE(VerifyCms(none, *root_, nullptr, {signer_.get()}).verified);

  std::string md5 = Sign(kText, 0x1000 | 0x100);
  std::vector<uint8_t> der = FromBase64(md5);
  EXPECT_EQ(2u, CountBytes(der, {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04}));
  CmsResult verified = VerifyCms(md5, *root_, nullptr, {signer_.get()});
  EXPECT_TRUE(verified.verified) << verified.error;
  // The signature is a PKCS#1 MD5 signature of the content.
  cms = Parse(der);
  ASSERT_NE(cms, nullptr);
  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
  ASN1_OCTET_STRING* sig = CMS_SignerInfo_get0_signature(si);
  std::vector<uint8_t> signature(sig->data, sig->data + sig->length);
  EXPECT_TRUE(VerifyDigestSignature(signer_->key(), EVP_md5(), Digest(EVP_md5(), Utf16Bytes(kText)), signature));
  CMS_ContentInfo_free(cms);
}

TEST_F(SigningTest, Pkcs7ChainUpToUntrustedRoot) {
  CertPtr intermediate = MakeIntermediateCa("Test Intermediate", *root_);
  CertPtr leaf = MakeEndEntity("Chained Signer", *intermediate);
  WritePfx("chain.pfx", *leaf, {intermediate.get(), root_.get()});
  ASSERT_EQ(0, SelectPfx(engine_, "chain.pfx"));
  std::string text = TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0x200));
  ASSERT_EQ(0, engine_.Code());
  CmsResult r = VerifyCms(text, *root_);
  EXPECT_TRUE(r.verified) << r.error;
  const unsigned char* p = nullptr;
  std::vector<uint8_t> der = FromBase64(text);
  p = der.data();
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(cms, nullptr);
  STACK_OF(X509)* certs = CMS_get1_certs(cms);
  ASSERT_EQ(3, sk_X509_num(certs));
  EXPECT_EQ(0, X509_cmp(sk_X509_value(certs, 0), leaf->x509()));
  EXPECT_EQ(0, X509_cmp(sk_X509_value(certs, 1), intermediate->x509()));
  EXPECT_EQ(0, X509_cmp(sk_X509_value(certs, 2), root_->x509()));
  sk_X509_pop_free(certs, X509_free);
  CMS_ContentInfo_free(cms);
}

TEST_F(SigningTest, Pkcs7SerialAndCertificateVersion) {
  CertSpec spec;
  spec.subject = SimpleName("High Serial");
  spec.keyUsage = 0xC0;
  spec.serial = {0x80, 0x11, 0x22};
  CertPtr high = IssueCert(spec, root_.get());
  WritePfx("high.pfx", *high, {});
  ASSERT_EQ(0, SelectPfx(engine_, "high.pfx"));
  std::string text = TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0x100));
  ASSERT_EQ(0, engine_.Code());
  EXPECT_EQ(1u, CountBytes(FromBase64(text), {0x02, 0x04, 0x00, 0x80, 0x11, 0x22}));
  EXPECT_TRUE(VerifyCms(text, *root_, nullptr, {high.get()}).verified);

  spec.subject = SimpleName("Version One");
  spec.version = 1;
  spec.keyUsage = -1;
  spec.serial = {0x05};
  CertPtr v1 = IssueCert(spec, root_.get());
  WritePfx("v1.pfx", *v1, {});
  ASSERT_EQ(0, SelectPfx(engine_, "v1.pfx"));
  EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0)));
  EXPECT_EQ(ERR_CERT_FORMAT, engine_.Code());
}

TEST_F(SigningTest, StoreSignerSignsBothForms) {
  AddToMy(*signer_);
  ASSERT_EQ(0, engine_.SelectSigner(Utf8Bstr(""), 0x100, 0));
  EXPECT_EQ(1, engine_.Signer().Source());
  std::string hex = TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0));
  ASSERT_EQ(0, engine_.Code());
  EXPECT_TRUE(VerifyDigestSignature(signer_->key(), EVP_sha1(), Digest(EVP_sha1(), Utf16Bytes(kText)), FromHex(hex)));
  std::string p7 = TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0x2000));
  ASSERT_EQ(0, engine_.Code());
  EXPECT_TRUE(VerifyCms(p7, *root_).verified);
}

TEST_F(SigningTest, NewerCachedPasswordForTheSameFileIgnoringCase) {
  WritePfx("Signer.pfx", *signer_, {}, "1234");
  {
    ScriptedDialogs run(R"({"dialog": 202, "set": {"303": "1234"}, "press": 1})");
    ASSERT_EQ(0, engine_.SelectSignerEx2(Utf8Bstr(""), Utf8Bstr(folder_.path()), Utf8Bstr("Signer.pfx"), 0,
                                         Utf8Bstr(""), 0x200, 0));
  }
  // Another process changed the password and left it in the cache.
  WritePfx("Signer.pfx", *signer_, {}, "5678");
  EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0)));
  EXPECT_NE(0, engine_.Code());
  {
    CCapiEngine other;
    other.Signer().SetSource(2);
    other.Signer().SetFingerprint(signer_->Sha1Hex());
    ASSERT_TRUE(other.Signer().AppendCertificate(signer_->data(), static_cast<int32_t>(signer_->size())));
    other.Signer().SetPfxPassword("5678");
    other.Signer().SetPfxFile(engine_.Signer().PfxPath(), "SIGNER.PFX");
    CSignerCache(other).SaveSigner();
    std::string hex = TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0));
    EXPECT_EQ(0, engine_.Code());
    EXPECT_EQ("5678", engine_.Signer().PfxPassword());
    EXPECT_TRUE(VerifyDigestSignature(signer_->key(), EVP_sha1(), Digest(EVP_sha1(), Utf16Bytes(kText)), FromHex(hex)));
  }
}

}  // namespace

namespace {

using namespace kv::test;

// An expired signer still ships its chain: time problems are tolerated.
TEST_F(SigningTest, Pkcs7ChainOfExpiredSignerIsAccepted) {
  CertSpec spec;
  spec.subject = SimpleName("Expired Signer");
  spec.keyUsage = 0xC0;
  spec.notBefore = UtcTime(2020, 1, 1);
  spec.notAfter = UtcTime(2021, 1, 1);
  CertPtr expired = IssueCert(spec, root_.get());
  WritePfx("expired.pfx", *expired, {root_.get()});
  ASSERT_EQ(0, SelectPfx(engine_, "expired.pfx"));
  std::string text = TakeText(engine_.SignPkcs7(Utf8Bstr("late"), 0x200));
  ASSERT_EQ(0, engine_.Code());
  std::vector<uint8_t> der = FromBase64(text);
  const unsigned char* p = der.data();
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(cms, nullptr);
  STACK_OF(X509)* certs = CMS_get1_certs(cms);
  EXPECT_EQ(2, sk_X509_num(certs));
  sk_X509_pop_free(certs, X509_free);
  CMS_ContentInfo_free(cms);
}

}  // namespace
