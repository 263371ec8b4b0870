// PKCS#7 messages: decoding SignedData (certificates-only and BER forms),
// envelopes made here and opened by OpenSSL, envelopes made by OpenSSL and
// opened here (recipients named either way, the reader cut short), and the
// private key of a certificate.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypt/envelope_parse.h"
#include "der/der_builder.h"
#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::Bytes;
using kv::test::crypt::SelfSignedCert;
using kv::test::crypt::SharedTestKey;

constexpr DWORD kEnc = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const std::string kLegacy = " -provider legacy -provider default";

class MessageTest : public kv::test::HomeTest {
 protected:
  void SetUp() override {
    dir_ = home_.path();
    cert0_ = SelfSignedCert(SharedTestKey(0), "Recipient Zero");
    cert1_ = SelfSignedCert(SharedTestKey(1), "Recipient One");
    kv::test::crypt::WriteCertPem(cert0_, dir_ + "/c0.pem");
    kv::test::crypt::WriteCertPem(cert1_, dir_ + "/c1.pem");
    kv::test::crypt::WritePrivateKeyPem(SharedTestKey(0), dir_ + "/k0.pem");
    kv::test::crypt::WritePrivateKeyPem(SharedTestKey(1), dir_ + "/k1.pem");
  }
  std::vector<BYTE> Run(const std::string& command) {
    std::string out;
    EXPECT_EQ(kv::test::RunCommand(command, &out), 0) << command;
    return std::vector<BYTE>(out.begin(), out.end());
  }
  std::vector<BYTE> File(const std::string& name) {
    std::string s = kv::test::ReadFile(dir_ + "/" + name);
    return std::vector<BYTE>(s.begin(), s.end());
  }
  // A memory store holding `cert` (cert0 when null) bound to a container
  // with key 0 in `slot`, made on first use.
  HCERTSTORE StoreWithKey(DWORD slot, const char16_t* container = u"recipient",
                          const std::vector<BYTE>* cert = nullptr) {
    if (!cert) cert = &cert0_;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    EXPECT_NE(store, nullptr);
    PCCERT_CONTEXT ctx = nullptr;
    EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, cert->data(), (DWORD)cert->size(),
                                                 CERT_STORE_ADD_ALWAYS, &ctx));
    if (container) {
      HCRYPTPROV prov = 0;
      if (!CryptAcquireContextA(&prov, "recipient", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0))
        prov = kv::test::crypt::ProviderWithKey("recipient", slot);
      CryptReleaseContext(prov, 0);
      CRYPT_KEY_PROV_INFO info = {};
      info.pwszContainerName = const_cast<LPWSTR>(container);
      info.pwszProvName = const_cast<LPWSTR>(u"Microsoft Enhanced Cryptographic Provider v1.0");
      info.dwProvType = PROV_RSA_FULL;
      info.dwKeySpec = slot;
      EXPECT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    }
    CertFreeCertificateContext(ctx);
    return store;
  }
  std::string dir_;
  std::vector<BYTE> cert0_, cert1_;
};

HCRYPTMSG Decode() {
  HCRYPTMSG msg = CryptMsgOpenToDecode(kEnc, 0, 0, 0, nullptr, nullptr);
  EXPECT_NE(msg, nullptr);
  return msg;
}

TEST_F(MessageTest, CertificatesOnlyMessageListsItsCertificates) {
  std::vector<BYTE> der = Run("openssl crl2pkcs7 -nocrl -certfile " + dir_ + "/c0.pem -certfile " + dir_ +
                              "/c1.pem -outform DER");
  HCRYPTMSG msg = Decode();
  // Fed in two pieces, the second final.
  ASSERT_TRUE(CryptMsgUpdate(msg, der.data(), 10, FALSE));
  ASSERT_TRUE(CryptMsgUpdate(msg, der.data() + 10, (DWORD)der.size() - 10, TRUE));
  DWORD value = 0, size = sizeof(value);
  ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &value, &size));
  EXPECT_EQ(value, (DWORD)CMSG_SIGNED);
  ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &value, &size));
  EXPECT_EQ(value, 2u);
  const std::vector<BYTE>* expected[] = {&cert0_, &cert1_};
  for (DWORD i = 0; i < 2; ++i) {
    size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, nullptr, &size));
    std::vector<BYTE> cert(size);
    DWORD small = size - 1;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, cert.data(), &small));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, cert.data(), &size));
    EXPECT_EQ(cert, *expected[i]);
  }
  size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, 2, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_INVALID_INDEX);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptMsgUpdate(msg, der.data(), 1, TRUE));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_MSG_ERROR);
  EXPECT_TRUE(CryptMsgClose(msg));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptMsgUpdate(msg, der.data(), 1, TRUE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(MessageTest, BerSignedDataWithContent) {
  kv::test::WriteFile(dir_ + "/msg.txt", "signed text");
  std::vector<BYTE> der = Run("openssl cms -sign -stream -nodetach -binary -outform DER -in " + dir_ +
                              "/msg.txt -signer " + dir_ + "/c0.pem -inkey " + dir_ + "/k0.pem");
  ASSERT_GT(der.size(), 2u);
  EXPECT_EQ(der[1], 0x80);  // indefinite length
  HCRYPTMSG msg = Decode();
  ASSERT_TRUE(CryptMsgUpdate(msg, der.data(), (DWORD)der.size(), TRUE));
  DWORD value = 0, size = sizeof(value);
  ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &value, &size));
  EXPECT_EQ(value, 1u);
  ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &value, &size));
  EXPECT_EQ(value, 1u);
  size = 0;
  ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size));
  std::vector<BYTE> content(size);
  ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, content.data(), &size));
  EXPECT_EQ(std::string(content.begin(), content.end()), "signed text");
  CryptMsgClose(msg);
}

TEST_F(MessageTest, NonMessagesAreRefused) {
  HCRYPTMSG msg = Decode();
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptMsgUpdate(msg, cert0_.data(), (DWORD)cert0_.size(), TRUE));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_ASN1_BADTAG);
  DWORD value = 0, size = sizeof(value);
  EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &value, &size));
  CryptMsgClose(msg);

  std::vector<BYTE> der = Run("openssl crl2pkcs7 -nocrl -certfile " + dir_ + "/c0.pem -outform DER");
  for (DWORD cut : {1u, 5u, 40u, (DWORD)der.size() - 1}) {
    msg = Decode();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptMsgUpdate(msg, der.data(), cut, TRUE)) << cut;
    DWORD error = GetLastError();
    EXPECT_TRUE(error == (DWORD)CRYPT_E_ASN1_EOD || error == (DWORD)CRYPT_E_ASN1_CORRUPT) << cut << " " << error;
    CryptMsgClose(msg);
  }
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CryptMsgOpenToDecode(X509_ASN_ENCODING, 0, 0, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)E_INVALIDARG);
}

std::vector<BYTE> EncryptFor(const char* oid, std::vector<PCCERT_CONTEXT> certs, const std::string& text) {
  CRYPT_ENCRYPT_MESSAGE_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwMsgEncodingType = kEnc;
  para.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(oid);
  DWORD size = 0;
  EXPECT_TRUE(CryptEncryptMessage(&para, (DWORD)certs.size(), certs.data(), reinterpret_cast<const BYTE*>(text.data()),
                                  (DWORD)text.size(), nullptr, &size));
  std::vector<BYTE> out(size);
  EXPECT_TRUE(CryptEncryptMessage(&para, (DWORD)certs.size(), certs.data(),
                                  reinterpret_cast<const BYTE*>(text.data()), (DWORD)text.size(), out.data(), &size));
  EXPECT_EQ(size, out.size());
  return out;
}

TEST_F(MessageTest, EnvelopesOpenWithOpensslForEveryRecipient) {
  PCCERT_CONTEXT c0 = CertCreateCertificateContext(X509_ASN_ENCODING, cert0_.data(), (DWORD)cert0_.size());
  PCCERT_CONTEXT c1 = CertCreateCertificateContext(X509_ASN_ENCODING, cert1_.data(), (DWORD)cert1_.size());
  ASSERT_TRUE(c0 && c1);
  const std::string text = "envelope \xE6\xB8\xAC\xE8\xA9\xA6 text";
  for (const char* oid : {"1.3.14.3.2.7", "1.2.840.113549.3.4", "1.2.840.113549.3.7"}) {
    std::vector<BYTE> env = EncryptFor(oid, {c0, c1}, text);
    kv::test::WriteFile(dir_ + "/env.der", std::string(env.begin(), env.end()));
    for (int r = 0; r < 2; ++r) {
      std::string idx = std::to_string(r);
      std::vector<BYTE> plain = Run("openssl cms -decrypt" + kLegacy + " -inform DER -in " + dir_ + "/env.der -recip " +
                                    dir_ + "/c" + idx + ".pem -inkey " + dir_ + "/k" + idx + ".pem");
      EXPECT_EQ(std::string(plain.begin(), plain.end()), text) << oid << " recipient " << r;
    }
  }
  std::vector<BYTE> env = EncryptFor("1.2.840.113549.3.7", {c0}, text);
  kv::test::WriteFile(dir_ + "/env.der", std::string(env.begin(), env.end()));
  std::vector<BYTE> plain = Run("openssl smime -decrypt -inform DER -in " + dir_ + "/env.der -recip " + dir_ +
                                "/c0.pem -inkey " + dir_ + "/k0.pem");
  EXPECT_EQ(std::string(plain.begin(), plain.end()), text);

  CRYPT_ENCRYPT_MESSAGE_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwMsgEncodingType = kEnc;
  para.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>("1.2.3.4");
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncryptMessage(&para, 1, &c0, reinterpret_cast<const BYTE*>("x"), 1, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_UNKNOWN_ALGO);
  para.cbSize = 4;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncryptMessage(&para, 1, &c0, reinterpret_cast<const BYTE*>("x"), 1, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)E_INVALIDARG);
  CertFreeCertificateContext(c0);
  CertFreeCertificateContext(c1);
}

BOOL DecryptWith(HCERTSTORE store, const std::vector<BYTE>& env, std::vector<BYTE>* plain,
                 PCCERT_CONTEXT* cert = nullptr) {
  CRYPT_DECRYPT_MESSAGE_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwMsgAndCertEncodingType = kEnc;
  para.cCertStore = 1;
  para.rghCertStore = &store;
  DWORD size = 0;
  if (!CryptDecryptMessage(&para, env.data(), (DWORD)env.size(), nullptr, &size, nullptr)) return FALSE;
  plain->assign(size, 0);
  BOOL ok = CryptDecryptMessage(&para, env.data(), (DWORD)env.size(), plain->data(), &size, cert);
  plain->resize(size);
  return ok;
}

// Content lengths on each side of the length forms DER switches between
// (one, two and three length bytes): RC4 keeps the plain length, triple-DES
// pads it to the next block. Then many-block contents the other way, whose
// blocks before the last are decrypted apart from it.
TEST_F(MessageTest, LongEnvelopesBothWays) {
  PCCERT_CONTEXT c0 = CertCreateCertificateContext(X509_ASN_ENCODING, cert0_.data(), (DWORD)cert0_.size());
  ASSERT_TRUE(c0);
  const struct {
    const char* oid;
    size_t size;
  } cases[] = {{"1.2.840.113549.3.4", 127}, {"1.2.840.113549.3.4", 128}, {"1.2.840.113549.3.4", 255},
               {"1.2.840.113549.3.4", 256}, {"1.2.840.113549.3.4", 65536}, {"1.2.840.113549.3.7", 70001}};
  for (const auto& c : cases) {
    std::string text(c.size, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    std::vector<BYTE> env = EncryptFor(c.oid, {c0}, text);
    kv::test::WriteFile(dir_ + "/env.der", std::string(env.begin(), env.end()));
    std::vector<BYTE> plain = Run("openssl cms -decrypt" + kLegacy + " -inform DER -in " + dir_ +
                                  "/env.der -recip " + dir_ + "/c0.pem -inkey " + dir_ + "/k0.pem");
    EXPECT_EQ(std::string(plain.begin(), plain.end()), text) << c.oid << " " << c.size;
  }
  CertFreeCertificateContext(c0);

  HCERTSTORE store = StoreWithKey(AT_KEYEXCHANGE);
  std::string text(70001, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  kv::test::WriteFile(dir_ + "/plain.txt", text);
  for (const char* option : {"-des3", "-rc4", "-aes128"}) {
    std::vector<BYTE> env = Run(std::string("openssl cms -encrypt") + kLegacy + " -binary " + option +
                                " -outform DER -in " + dir_ + "/plain.txt " + dir_ + "/c0.pem");
    std::vector<BYTE> plain;
    ASSERT_TRUE(DecryptWith(store, env, &plain)) << option << " " << std::hex << GetLastError();
    EXPECT_EQ(std::string(plain.begin(), plain.end()), text) << option;
  }
  CertCloseStore(store, 0);
}

TEST_F(MessageTest, DecryptsOwnAndOpensslEnvelopes) {
  HCERTSTORE store = StoreWithKey(AT_KEYEXCHANGE);
  kv::test::WriteFile(dir_ + "/plain.txt", "from openssl");
  struct {
    const char* option;
  } ciphers[] = {{"-des3"}, {"-des"}, {"-rc4"}, {"-aes128"}};
  for (const auto& c : ciphers) {
    std::vector<BYTE> env = Run(std::string("openssl cms -encrypt") + kLegacy + " -binary " + c.option +
                                " -outform DER -in " + dir_ + "/plain.txt " + dir_ + "/c1.pem " + dir_ + "/c0.pem");
    std::vector<BYTE> plain;
    PCCERT_CONTEXT used = nullptr;
    ASSERT_TRUE(DecryptWith(store, env, &plain, &used)) << c.option << " " << std::hex << GetLastError();
    EXPECT_EQ(std::string(plain.begin(), plain.end()), "from openssl") << c.option;
    ASSERT_NE(used, nullptr);
    EXPECT_EQ(std::vector<BYTE>(used->pbCertEncoded, used->pbCertEncoded + used->cbCertEncoded), cert0_);
    CertFreeCertificateContext(used);
  }

  PCCERT_CONTEXT c0 = CertCreateCertificateContext(X509_ASN_ENCODING, cert0_.data(), (DWORD)cert0_.size());
  std::vector<BYTE> env = EncryptFor("1.3.14.3.2.7", {c0}, "round trip");
  std::vector<BYTE> plain;
  ASSERT_TRUE(DecryptWith(store, env, &plain));
  EXPECT_EQ(std::string(plain.begin(), plain.end()), "round trip");

  CRYPT_DECRYPT_MESSAGE_PARA para = {sizeof(para), kEnc, 1, &store, 0};
  DWORD size = 3;
  BYTE small[3];
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecryptMessage(&para, env.data(), (DWORD)env.size(), small, &size, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);

  // A message for someone else.
  std::vector<BYTE> other = Run("openssl cms -encrypt -binary -des3 -outform DER -in " + dir_ + "/plain.txt " + dir_ +
                                "/c1.pem");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecryptMessage(&para, other.data(), (DWORD)other.size(), nullptr, &size, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NO_DECRYPT_CERT);
  // Not an envelope.
  std::vector<BYTE> certsOnly = Run("openssl crl2pkcs7 -nocrl -certfile " + dir_ + "/c0.pem -outform DER");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecryptMessage(&para, certsOnly.data(), (DWORD)certsOnly.size(), nullptr, &size, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_UNEXPECTED_MSG_TYPE);
  // A content cipher the provider does not offer.
  std::vector<BYTE> camellia = Run("openssl cms -encrypt -binary -camellia128 -outform DER -in " + dir_ +
                                   "/plain.txt " + dir_ + "/c0.pem");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecryptMessage(&para, camellia.data(), (DWORD)camellia.size(), nullptr, &size, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_ALGID);
  CertFreeCertificateContext(c0);
  CertCloseStore(store, 0);
}

// Recipients named by subject key identifier (CMS version 2), as `openssl
// cms -keyid` writes them, found as Windows finds them: by the certificate's
// extension, or by SHA-1 of its key's bits when it has none; an extension
// that says otherwise wins. BER (streamed) envelopes too.
TEST_F(MessageTest, DecryptsEnvelopesNamingTheKeyIdentifier) {
  const std::vector<BYTE> hashed = SelfSignedCert(SharedTestKey(0), "Recipient Zero", "hash");
  const std::vector<BYTE> own = SelfSignedCert(SharedTestKey(0), "Recipient Zero", "0102030405");
  kv::test::crypt::WriteCertPem(hashed, dir_ + "/hashed.pem");
  kv::test::crypt::WriteCertPem(own, dir_ + "/own.pem");
  kv::test::WriteFile(dir_ + "/plain.txt", "by key identifier");
  struct Case {
    const std::vector<BYTE>* inStore;
    const char* sealedFor;
    bool opens;
  } cases[] = {{&hashed, "hashed", true}, {&cert0_, "hashed", true}, {&own, "own", true}, {&own, "hashed", false}};
  for (const char* cipher : {"-des3", "-aes256", "-aes256 -stream"}) {
    for (const Case& c : cases) {
      HCERTSTORE store = StoreWithKey(AT_KEYEXCHANGE, u"recipient", c.inStore);
      std::vector<BYTE> env = Run(std::string("openssl cms -encrypt -keyid -binary ") + cipher + " -outform DER -in " +
                                  dir_ + "/plain.txt " + dir_ + "/" + c.sealedFor + ".pem");
      std::vector<BYTE> plain;
      SetLastError(0xdeadbeef);
      EXPECT_EQ(c.opens, !!DecryptWith(store, env, &plain)) << cipher << " " << c.sealedFor;
      if (c.opens) {
        EXPECT_EQ(std::string(plain.begin(), plain.end()), "by key identifier") << cipher;
      } else {
        EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NO_DECRYPT_CERT);
      }
      CertCloseStore(store, 0);

      HCRYPTMSG msg = Decode();
      ASSERT_TRUE(CryptMsgUpdate(msg, env.data(), (DWORD)env.size(), TRUE));
      DWORD value = 0, size = sizeof(value);
      ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &value, &size));
      EXPECT_EQ(value, (DWORD)CMSG_ENVELOPED);
      ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_RECIPIENT_COUNT_PARAM, 0, &value, &size));
      EXPECT_EQ(value, 1u);
      CryptMsgClose(msg);
    }
  }

  // The same certificate found by CERT_FIND_CERT_ID in each form of its id.
  HCERTSTORE store = StoreWithKey(AT_KEYEXCHANGE, u"recipient", &own);
  PCCERT_CONTEXT ctx = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(ctx, nullptr);
  BYTE ownId[] = {1, 2, 3, 4, 5}, sha1[20];
  DWORD sha1Size = sizeof(sha1);
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_SHA1_HASH_PROP_ID, sha1, &sha1Size));
  CERT_ID ids[3] = {};
  ids[0].dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
  ids[0].IssuerSerialNumber = {ctx->pCertInfo->Issuer, ctx->pCertInfo->SerialNumber};
  ids[1].dwIdChoice = CERT_ID_KEY_IDENTIFIER;
  ids[1].KeyId = {sizeof(ownId), ownId};
  ids[2].dwIdChoice = CERT_ID_SHA1_HASH;
  ids[2].HashId = {sha1Size, sha1};
  for (const CERT_ID& id : ids) {
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_CERT_ID, &id, nullptr);
    EXPECT_EQ(found, ctx) << id.dwIdChoice;
    CertFreeCertificateContext(found);
  }
  ownId[4] = 6;
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_CERT_ID, &ids[1], nullptr), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NOT_FOUND);
  CertFreeCertificateContext(ctx);
  CertCloseStore(store, 0);
}

// The envelope reader at every cut inside a recipient and inside the
// encrypted content information, with the enclosing lengths made to fit: a
// truncated element is CRYPT_E_ASN1_EOD; only the optional content may be
// missing.
TEST_F(MessageTest, EnvelopeReaderRefusesEveryTruncation) {
  namespace der = kv::der;
  kv::test::crypt::WriteCertPem(SelfSignedCert(SharedTestKey(0), "Recipient Zero", "hash"), dir_ + "/hashed.pem");
  kv::test::WriteFile(dir_ + "/plain.txt", "cut");
  const std::vector<BYTE> env = Run("openssl cms -encrypt -keyid -binary -aes256 -outform DER -in " + dir_ +
                                    "/plain.txt " + dir_ + "/hashed.pem");
  der::Span in(env.data(), env.size()), info, type, wrapped, body, version, recipients, recipient, encrypted;
  ASSERT_TRUE(in.Read(der::kSequence, &info) && info.Read(der::kOid, nullptr, &type) &&
              info.Read(der::kContext0, &wrapped) && wrapped.Read(der::kSequence, &body) &&
              body.Read(der::kInteger, nullptr, &version) && body.Read(der::kSet, &recipients) &&
              recipients.Read(der::kSequence, &recipient) && body.Read(der::kSequence, &encrypted));
  auto rebuilt = [&](der::Span recipientPart, der::Span encryptedPart) {
    der::Builder b;
    b.Open(der::kSequence);
    b.AddEncoded(type.data(), type.size());
    b.Open(der::kContext0);
    b.Open(der::kSequence);
    b.AddEncoded(version.data(), version.size());
    b.Open(der::kSet);
    b.Open(der::kSequence);
    b.AddEncoded(recipientPart.data(), recipientPart.size());
    b.Close();
    b.Close();
    b.Open(der::kSequence);
    b.AddEncoded(encryptedPart.data(), encryptedPart.size());
    b.Close();
    b.Close();
    b.Close();
    b.Close();
    der::Bytes out;
    EXPECT_TRUE(b.Finish(&out));
    return out;
  };
  kv::platform::crypt::Envelope whole;
  DWORD error = 0;
  der::Bytes message = rebuilt(recipient, encrypted);
  ASSERT_TRUE(kv::platform::crypt::ReadEnvelope(message.data(), message.size(), &whole, &error));
  ASSERT_EQ(whole.recipients.size(), 1u);
  EXPECT_EQ(whole.recipients[0].idChoice, (DWORD)CERT_ID_KEY_IDENTIFIER);
  EXPECT_EQ(whole.recipients[0].keyId.size(), 20u);
  EXPECT_EQ(whole.contentAlgorithm, "2.16.840.1.101.3.4.1.42");
  EXPECT_TRUE(whole.hasContent);

  for (size_t n = 0; n < recipient.size(); ++n) {
    kv::platform::crypt::Envelope cut;
    message = rebuilt(der::Span(recipient.data(), n), encrypted);
    EXPECT_FALSE(kv::platform::crypt::ReadEnvelope(message.data(), message.size(), &cut, &error)) << n;
    EXPECT_EQ(error, (DWORD)CRYPT_E_ASN1_EOD) << n;
  }
  der::Span algorithmEnd = encrypted, skipped;
  ASSERT_TRUE(algorithmEnd.Read(der::kOid, &skipped) && algorithmEnd.Read(der::kSequence, &skipped));
  const size_t withoutContent = encrypted.size() - algorithmEnd.size();
  for (size_t n = 0; n < encrypted.size(); ++n) {
    kv::platform::crypt::Envelope cut;
    message = rebuilt(recipient, der::Span(encrypted.data(), n));
    const bool read = kv::platform::crypt::ReadEnvelope(message.data(), message.size(), &cut, &error);
    EXPECT_EQ(read, n == withoutContent) << n;
    if (read) {
      EXPECT_FALSE(cut.hasContent);
    } else {
      EXPECT_EQ(error, (DWORD)CRYPT_E_ASN1_EOD) << n;
    }
  }
}

TEST_F(MessageTest, DecryptNeedsAnExchangeKey) {
  PCCERT_CONTEXT c0 = CertCreateCertificateContext(X509_ASN_ENCODING, cert0_.data(), (DWORD)cert0_.size());
  std::vector<BYTE> env = EncryptFor("1.2.840.113549.3.7", {c0}, "x");
  std::vector<BYTE> plain;
  HCERTSTORE noKey = StoreWithKey(AT_KEYEXCHANGE, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DecryptWith(noKey, env, &plain));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NO_DECRYPT_CERT);
  CertCloseStore(noKey, 0);
  HCERTSTORE signatureKey = StoreWithKey(AT_SIGNATURE);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DecryptWith(signatureKey, env, &plain));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY);
  CertCloseStore(signatureKey, 0);
  CertFreeCertificateContext(c0);
}

TEST_F(MessageTest, CertificatePrivateKeyWithAndWithoutCaching) {
  HCERTSTORE store = StoreWithKey(AT_KEYEXCHANGE);
  PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(cert, nullptr);
  HCRYPTPROV prov = 0, again = 0;
  DWORD spec = 0;
  BOOL callerFree = TRUE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov, &spec, &callerFree));
  EXPECT_EQ(spec, (DWORD)AT_KEYEXCHANGE);
  EXPECT_FALSE(callerFree);
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &again, &spec, &callerFree));
  EXPECT_EQ(again, prov);
  EXPECT_FALSE(callerFree);
  // Without the flag a cached handle is still returned, owned by the context.
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &again, &spec, &callerFree));
  EXPECT_EQ(again, prov);
  EXPECT_FALSE(callerFree);
  // Asking for the key-provider information gives a fresh handle for the caller.
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_USE_PROV_INFO_FLAG | CRYPT_ACQUIRE_COMPARE_KEY_FLAG,
                                                nullptr, &again, &spec, &callerFree));
  EXPECT_NE(again, prov);
  EXPECT_TRUE(callerFree);
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(again, CALG_SHA1, 0, 0, &hash));
  DWORD len = 0;
  EXPECT_TRUE(CryptSignHashA(hash, spec, nullptr, 0, nullptr, &len));
  CryptDestroyHash(hash);
  EXPECT_TRUE(CryptReleaseContext(again, 0));
  CertFreeCertificateContext(cert);

  PCCERT_CONTEXT bare = CertCreateCertificateContext(X509_ASN_ENCODING, cert1_.data(), (DWORD)cert1_.size());
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(bare, 0, nullptr, &again, &spec, &callerFree));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NO_KEY_PROPERTY);
  CRYPT_KEY_PROV_INFO info = {};
  info.pwszContainerName = const_cast<LPWSTR>(u"no such container");
  info.pwszProvName = const_cast<LPWSTR>(u"Microsoft Enhanced Cryptographic Provider v1.0");
  info.dwProvType = PROV_RSA_FULL;
  info.dwKeySpec = AT_KEYEXCHANGE;
  ASSERT_TRUE(CertSetCertificateContextProperty(bare, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(bare, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &again, &spec, &callerFree));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  // A smart-card vendor's provider that is not installed here.
  info.pwszProvName = const_cast<LPWSTR>(u"Vendor Smart Card CSP");
  ASSERT_TRUE(CertSetCertificateContextProperty(bare, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(bare, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &again, &spec, &callerFree));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_KEYSET_NOT_DEF);
  CertFreeCertificateContext(bare);
  CertCloseStore(store, 0);
}

}  // namespace
