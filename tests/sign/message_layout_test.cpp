// SignPkcs7's messages byte for byte against the layout rebuilt here from the
// signer certificate, the content and a signature made with OpenSSL (RSA
// PKCS#1 v1.5 is deterministic, and the signing time is taken from the
// message): the MD5 and SHA-1 forms stay exactly what stored signatures and
// peers know, and the SHA-2 forms differ from them only in the digest and,
// with attributes, the ESS signing-certificate-v2 attribute.
#include <gtest/gtest.h>

#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>

#include "sign/sign_test_support.h"

namespace {

using namespace kv::test;
using Bytes = std::vector<uint8_t>;

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(uint8_t(n));
  } else {
    Bytes length;
    for (size_t v = n; v; v >>= 8) length.insert(length.begin(), uint8_t(v));
    out.push_back(uint8_t(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Object identifiers as their content octets.
const Bytes kPkcs9 = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09};
Bytes Pkcs9(std::initializer_list<uint8_t> tail) {
  Bytes oid = kPkcs9;
  oid.insert(oid.end(), tail);
  return Tlv(0x06, oid);
}
const Bytes kOidData = Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01});
const Bytes kOidSignedData = Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02});
const Bytes kOidRsa = Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01});
const Bytes kOidMd5Rsa = Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04});
const Bytes kOidSha1 = Tlv(0x06, {0x2B, 0x0E, 0x03, 0x02, 0x1A});
Bytes NistHash(uint8_t last) { return Tlv(0x06, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, last}); }
const Bytes kNull = {0x05, 0x00};

Bytes SignDigest(EVP_PKEY* key, const EVP_MD* md, const Bytes& digest) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  size_t length = static_cast<size_t>(EVP_PKEY_get_size(key));
  Bytes out(length);
  if (!ctx || EVP_PKEY_sign_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(ctx, md) != 1 || EVP_PKEY_sign(ctx, out.data(), &length, digest.data(), digest.size()) != 1)
    out.clear();
  EVP_PKEY_CTX_free(ctx);
  out.resize(length);
  return out;
}

Bytes Encoded(X509_NAME* name) {
  unsigned char* der = nullptr;
  int n = i2d_X509_NAME(name, &der);
  Bytes out(der, der + (n > 0 ? n : 0));
  OPENSSL_free(der);
  return out;
}
Bytes Encoded(const ASN1_INTEGER* serial) {
  unsigned char* der = nullptr;
  int n = i2d_ASN1_INTEGER(serial, &der);
  Bytes out(der, der + (n > 0 ? n : 0));
  OPENSSL_free(der);
  return out;
}

// The UTCTime text of the signingTime attribute in `message`.
Bytes SigningTimeOf(const Bytes& message) {
  const Bytes head = Cat({Pkcs9({0x05}), {0x31, 0x0F, 0x17, 0x0D}});
  auto at = std::search(message.begin(), message.end(), head.begin(), head.end());
  if (message.end() - at < std::ptrdiff_t(head.size() + 13)) return {};
  return Bytes(at + head.size(), at + head.size() + 13);
}

struct Shape {
  LONG flags;
  const char* name;
};

// The digest a message of these flags is made with, and its identifier.
struct DigestOf {
  const EVP_MD* md;
  Bytes oid;
};
DigestOf ForFlags(LONG flags) {
  if (flags & 0x40000) return {EVP_sha512(), NistHash(3)};
  if (flags & 0x20000) return {EVP_sha384(), NistHash(2)};
  if (flags & 0x10000) return {EVP_sha256(), NistHash(1)};
  if (flags & 0x1000) return {EVP_md5(), kOidMd5Rsa};
  return {EVP_sha1(), kOidSha1};
}

class MessageLayoutTest : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    WritePfx("signer.pfx", *signer_, {root_.get()});
    ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  }

  // The message the layout prescribes for `flags`, given the signing time
  // the engine wrote.
  Bytes Expected(LONG flags, const std::string& text, const Bytes& signingTime) {
    const DigestOf choice = ForFlags(flags);
    const EVP_MD* md = choice.md;
    const Bytes algorithm = Tlv(0x30, Cat({choice.oid, kNull}));
    const Bytes content = (flags & 0x800) ? Bytes(text.begin(), text.end()) : Utf16Bytes(text);
    const Bytes digest = Digest(md, content);
    X509* cert = signer_->x509();
    const Bytes issuer = Encoded(X509_get_issuer_name(cert));
    const Bytes serial = Encoded(X509_get0_serialNumber(cert));

    Bytes attributes, toSign = digest;
    if (flags & 0x2000) {
      std::vector<Bytes> set = {Tlv(0x30, Cat({Pkcs9({0x03}), Tlv(0x31, kOidData)})),
                                Tlv(0x30, Cat({Pkcs9({0x05}), Tlv(0x31, Tlv(0x17, signingTime))})),
                                Tlv(0x30, Cat({Pkcs9({0x04}), Tlv(0x31, Tlv(0x04, digest))}))};
      if (flags & 0x70000) {
        // SigningCertificateV2 { { ESSCertIDv2 { SHA-256 of the certificate, IssuerSerial } } }
        const Bytes issuerSerial = Tlv(0x30, Cat({Tlv(0x30, Tlv(0xA4, issuer)), serial}));
        const Bytes certId = Tlv(0x30, Cat({Tlv(0x04, Digest(EVP_sha256(), signer_->der())), issuerSerial}));
        set.push_back(Tlv(0x30, Cat({Pkcs9({0x10, 0x02, 0x2F}), Tlv(0x31, Tlv(0x30, Tlv(0x30, certId)))})));
      }
      std::sort(set.begin(), set.end());  // DER's SET OF order
      for (const Bytes& attribute : set) attributes.insert(attributes.end(), attribute.begin(), attribute.end());
      toSign = Digest(md, Tlv(0x31, attributes));
    }
    const Bytes issuerAndSerial = Tlv(0x30, Cat({issuer, serial}));
    const Bytes signerInfo = Tlv(0x30, Cat({{0x02, 0x01, 0x01}, issuerAndSerial, algorithm,
                                            attributes.empty() ? Bytes() : Tlv(0xA0, attributes),
                                            Tlv(0x30, Cat({kOidRsa, kNull})),
                                            Tlv(0x04, SignDigest(signer_->key(), md, toSign))}));
    const Bytes contentInfo =
        Tlv(0x30, Cat({kOidData, (flags & 0x400) ? Bytes() : Tlv(0xA0, Tlv(0x04, content))}));
    const Bytes certificates = (flags & 0x100) ? Bytes() : Tlv(0xA0, signer_->der());
    const Bytes signedData =
        Tlv(0x30, Cat({{0x02, 0x01, 0x01}, Tlv(0x31, algorithm), contentInfo, certificates, Tlv(0x31, signerInfo)}));
    return Tlv(0x30, Cat({kOidSignedData, Tlv(0xA0, signedData)}));
  }

  // Signs `text` with each shape and compares with the expected layout;
  // OpenSSL also verifies the SHA-2 messages, the signing certificate too.
  void Check(const std::vector<Shape>& shapes) {
    const std::string text = "Order 2330 x 1000";
    for (const Shape& shape : shapes) {
      const std::string base64 = TakeText(engine_.SignPkcs7(Utf8Bstr(text), shape.flags));
      ASSERT_EQ(0, engine_.Code()) << shape.name;
      const Bytes message = FromBase64(base64);
      const Bytes time = (shape.flags & 0x2000) ? SigningTimeOf(message) : Bytes();
      if (shape.flags & 0x2000) {
        ASSERT_EQ(13u, time.size()) << shape.name;
      }
      EXPECT_EQ(Expected(shape.flags, text, time), message) << shape.name;
      if (!(shape.flags & 0x70000)) continue;
      const Bytes content = (shape.flags & 0x800) ? Bytes(text.begin(), text.end()) : Utf16Bytes(text);
      const int verifyFlags = CMS_BINARY | ((shape.flags & 0x2000) ? CMS_CADES : 0);
      CmsResult r = VerifyCms(base64, *root_, (shape.flags & 0x400) ? &content : nullptr, {signer_.get()}, verifyFlags);
      EXPECT_TRUE(r.verified) << shape.name << ": " << r.error;
      if (!(shape.flags & 0x400)) {
        EXPECT_EQ(content, r.content) << shape.name;
      }
    }
  }
};

TEST_F(MessageLayoutTest, Sha1AndMd5MessagesKeepTheirLayout) {
  Check({{0, "SHA-1"},
         {0x400, "detached"},
         {0x100 | 0x200, "no certificates"},
         {0x800, "ANSI content"},
         {0x2000, "attributes"},
         {0x1000, "MD5"},
         {0x1000 | 0x2000 | 0x400, "MD5 attributes detached"}});
}

TEST_F(MessageLayoutTest, Sha2MessagesDifferOnlyInTheDigestAndTheSigningCertificate) {
  Check({{0x10000, "SHA-256"},
         {0x20000 | 0x400, "SHA-384 detached"},
         {0x40000 | 0x800, "SHA-512 ANSI"},
         {0x10000 | 0x2000, "SHA-256 attributes"},
         {0x20000 | 0x2000 | 0x800 | 0x400, "SHA-384 attributes ANSI detached"},
         {0x40000 | 0x2000 | 0x100, "SHA-512 attributes no certificates"},
         // SHA-2 outranks MD5, and the longest of several wins.
         {0x10000 | 0x1000, "SHA-256 over MD5"},
         {0x70000 | 0x2000, "all three: SHA-512"},
         {0x30000, "SHA-256 and SHA-384: SHA-384"}});
}

}  // namespace
