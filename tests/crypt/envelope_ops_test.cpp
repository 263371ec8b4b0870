// CertEncryptPkcs7 / CertDecryptPkcs7: envelopes that `openssl cms` opens and
// messages it made that we open, from the personal store and through the PFX
// file the user points to; recipients from certificates and bundles; every
// failure code the two operations can produce here.
#include <gtest/gtest.h>

#include <openssl/cms.h>
#include <openssl/pem.h>

#include "crypt/crypt_test_support.h"
#include "sign/sign_test_support.h"

namespace kv::test {
namespace {

// DER of the content-encryption algorithm identifiers.
const std::vector<uint8_t> kDesOid = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x07};
const std::vector<uint8_t> kTripleDesOid = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};
const std::vector<uint8_t> kRc4Oid = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x04};

std::string KeyPem(const TestCert& cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, cert.key(), nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

std::string Der(const TestCert& cert) { return std::string(cert.der().begin(), cert.der().end()); }
std::string Narrow(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }

// Recipients of an envelope as OpenSSL reads it; -1 when it is no CMS message.
int RecipientCount(const std::string& der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
  if (!cms) return -1;
  STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(cms);
  int count = infos ? sk_CMS_RecipientInfo_num(infos) : -1;
  CMS_ContentInfo_free(cms);
  return count;
}

class EnvelopeOps : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    // Recipients are told apart by issuer and serial number.
    CertSpec spec;
    spec.subject = SimpleName("Somebody Else");
    spec.serial = {0x02};
    spec.keyUsage = 0x30;
    other_ = IssueCert(spec, root_.get());
    certPem_ = folder_.File("signer.pem", signer_->Pem());
    keyPem_ = folder_.File("signer.key", KeyPem(*signer_));
    otherPem_ = folder_.File("other.pem", other_->Pem());
  }
  OpResult Encrypt(const std::u16string& text, const std::string& certB64, LONG algorithm, LONG flags) {
    return Outcome(engine_, engine_.CertEncryptPkcs7(WideBstr(text), Utf8Bstr(certB64), algorithm, flags));
  }
  OpResult Decrypt(const std::string& cipher, LONG flags) {
    return Outcome(engine_, engine_.CertDecryptPkcs7(Utf8Bstr(cipher), flags));
  }
  // A PKCS#7 certificate bundle (DER) made by OpenSSL from PEM files.
  std::string Bundle(const std::vector<std::string>& pems) {
    std::string command = "openssl crl2pkcs7 -nocrl -outform DER";
    for (const std::string& pem : pems) command += " -certfile '" + pem + "'";
    return RunOverFiles(folder_.path(), command + " -out {out}", {""})[0];
  }
  // `openssl cms -encrypt` of `plain` to the signer (or `recipientPem`) with
  // the given cipher options.
  std::string OpenSslEnvelope(const std::string& cipher, const std::string& plain, std::string recipientPem = "") {
    if (recipientPem.empty()) recipientPem = certPem_;
    return RunOverFiles(folder_.path(),
                        "openssl cms -encrypt -binary -outform DER" + std::string(kOpenSslLegacy) + " " + cipher +
                            " -in {in} -out {out} '" + recipientPem + "'",
                        {plain})[0];
  }

  CertPtr other_;
  std::string certPem_, keyPem_, otherPem_;
  const std::u16string text_ = Utf16("委託單 2330 買進 1000 股");
};

TEST_F(EnvelopeOps, RoundTripForEveryAlgorithmAndTextForm) {
  AddToMy(*signer_);
  const std::string cert = Base64(Der(*signer_));
  const std::vector<uint8_t>* oids[] = {&kTripleDesOid, &kDesOid, &kRc4Oid, &kTripleDesOid, &kTripleDesOid};
  const LONG algorithms[] = {0, 1, 2, 3, 42};
  for (int i = 0; i < 5; ++i) {
    for (LONG flags : {0, 0x800}) {
      OpResult sealed = Encrypt(text_, cert, algorithms[i], flags);
      ASSERT_EQ(0, sealed.code) << algorithms[i];
      std::string der = Unbase64(sealed.text);
      EXPECT_EQ(1u, CountBytes(std::vector<uint8_t>(der.begin(), der.end()), *oids[i])) << algorithms[i];
      OpResult opened = Decrypt(Narrow(sealed.text), flags);
      EXPECT_EQ(0, opened.code);
      EXPECT_EQ(0u, opened.capiError);
      EXPECT_EQ(text_, opened.text) << algorithms[i] << " " << flags;
    }
  }
  // Both sides must use the same text form.
  OpResult wide = Encrypt(text_, cert, 0, 0);
  OpResult crossed = Decrypt(Narrow(wide.text), 0x800);
  EXPECT_NE(text_, crossed.text);
  OpResult ansi = Encrypt(u"abcd", cert, 0, 0x800);
  crossed = Decrypt(Narrow(ansi.text), 0);
  EXPECT_EQ(0, crossed.code);
  EXPECT_NE(u"abcd", crossed.text);
  // Characters outside the code page survive the UTF-16 form.
  const std::u16string wider = Utf16("€ 😀 交易");
  EXPECT_EQ(wider, Decrypt(Narrow(Encrypt(wider, cert, 0, 0).text), 0).text);
}

TEST_F(EnvelopeOps, OpenSslOpensWhatWeSealed) {
  const std::string cert = Base64(Der(*signer_));
  std::vector<std::string> messages;
  for (LONG algorithm : {0, 1, 2}) {
    OpResult sealed = Encrypt(text_, cert, algorithm, 0);
    ASSERT_EQ(0, sealed.code);
    messages.push_back(Unbase64(sealed.text));
  }
  std::vector<std::string> opened =
      RunOverFiles(folder_.path(),
                   "openssl cms -decrypt -binary -inform DER" + std::string(kOpenSslLegacy) + " -in {in} -recip '" +
                       certPem_ + "' -inkey '" + keyPem_ + "' -out {out}",
                   messages);
  for (const std::string& plain : opened) EXPECT_EQ(Utf16LeBytes(text_), plain);
}

TEST_F(EnvelopeOps, OpenSslMessagesOpenFromTheStoreAndThroughAPfxFile) {
  const std::string plain = Utf16LeBytes(text_);
  const char* accepted[] = {"-des", "-des3", "-aes128", "-aes192", "-aes256"};
  std::vector<std::string> messages;
  for (const char* cipher : accepted) messages.push_back(OpenSslEnvelope(cipher, plain));
  // Recipients named by key identifier (CMS version 2). The signer's
  // certificate carries no such extension: its key's SHA-1 names it, as on
  // Windows; OpenSSL takes the identifier from a certificate for the same key
  // that has one.
  const std::string keyIdPem = folder_.File(
      "keyid.pem", RunOverFiles(folder_.path(),
                                "openssl req -new -x509 -days 1 -subj /CN=keyid -addext subjectKeyIdentifier=hash "
                                "-key '" + keyPem_ + "' -out {out}",
                                {""})[0]);
  for (const char* cipher : {"-des3 -keyid", "-aes256 -keyid"}) messages.push_back(OpenSslEnvelope(cipher, plain, keyIdPem));
  const std::string rc2 = OpenSslEnvelope("-rc2", plain);

  // Through the PFX file the user points to: the signer is not in the store yet.
  const std::string pfx = WritePfx("signer.pfx", *signer_, {});
  for (const std::string& message : messages) {
    ScriptedDialogs run(R"([{"dialog": 202, "set": {"302": ")" + pfx + R"(", "303": "1234"}, "press": 1}])");
    OpResult opened = Decrypt(Base64(message), 0);
    EXPECT_EQ(0, opened.code);
    EXPECT_EQ(text_, opened.text);
    EXPECT_EQ(1u, run.Events("dialog").size());
  }
  // From the personal store, without asking.
  AddToMy(*signer_);
  for (const std::string& message : messages) {
    ScriptedDialogs run("[]");
    OpResult opened = Decrypt(Base64(message), 0);
    EXPECT_EQ(0, opened.code);
    EXPECT_EQ(text_, opened.text);
    EXPECT_TRUE(run.Events("dialog").empty());
  }
  // RC2 is not among the platform's content algorithms.
  EXPECT_EQ(ERR_PKCS7_FORMAT, Decrypt(Base64(rc2), 0).code);
}

TEST_F(EnvelopeOps, RecipientsFromCertificatesAndBundles) {
  AddToMy(*signer_);
  // Several recipients, one of them ours: OpenSSL opens it with the other key too.
  const std::string both = Base64(Bundle({otherPem_, certPem_}));
  OpResult sealed = Encrypt(text_, both, 0, 0);
  ASSERT_EQ(0, sealed.code);
  EXPECT_EQ(2, RecipientCount(Unbase64(sealed.text)));
  EXPECT_EQ(text_, Decrypt(Narrow(sealed.text), 0).text);
  const std::string otherKey = folder_.File("other.key", KeyPem(*other_));
  std::string byOther =
      RunOverFiles(folder_.path(),
                   "openssl cms -decrypt -binary -inform DER -in {in} -recip '" + otherPem_ + "' -inkey '" + otherKey +
                       "' -out {out}",
                   {Unbase64(sealed.text)})[0];
  EXPECT_EQ(Utf16LeBytes(text_), byOther);

  // The same certificate twice is one recipient; an authority certificate is one too.
  EXPECT_EQ(1, RecipientCount(Unbase64(Encrypt(text_, Base64(Bundle({certPem_, certPem_})), 0, 0).text)));
  const std::string rootPem = folder_.File("root.pem", root_->Pem());
  EXPECT_EQ(2, RecipientCount(Unbase64(Encrypt(text_, Base64(Bundle({rootPem, certPem_})), 0, 0).text)));

  // Armour and line breaks are taken off.
  std::string pem;
  for (char c : signer_->Pem()) pem += c == '\n' ? std::string("\r\n") : std::string(1, c);
  OpResult armoured = Encrypt(text_, pem, 1, 0);
  ASSERT_EQ(0, armoured.code);
  EXPECT_EQ(1, RecipientCount(Unbase64(armoured.text)));
  EXPECT_EQ(text_, Decrypt(Narrow(armoured.text), 0).text);
  std::string bundleB64 = Base64(Bundle({certPem_}));
  OpResult p7 = Encrypt(text_, "-----BEGIN PKCS #7-----\n" + bundleB64.substr(0, 64) + "\n" + bundleB64.substr(64) +
                                   "\n-----END PKCS #7-----\n",
                        2, 0);
  ASSERT_EQ(0, p7.code);
  EXPECT_EQ(text_, Decrypt(Narrow(p7.text), 0).text);
}

TEST_F(EnvelopeOps, EncryptionFailureCodes) {
  const std::string cert = Base64(Der(*signer_));
  struct Row {
    std::string certB64;
    LONG expected;
    bool platformError;
  };
  CertSpec ecSpec;
  ecSpec.subject = SimpleName("EC Holder");
  ecSpec.ecKey = true;
  ecSpec.serial = {0x03};
  CertPtr ec = IssueCert(ecSpec, root_.get());
  const Row rows[] = {
      {"", ERR_BAD_PARAM, false},
      {"QUJD", ERR_CERT_FORMAT, false},              // Base64 of "ABC": does not begin with M
      {"MTIzNDU2", ERR_CERT_FORMAT, true},            // begins with M, neither a certificate nor PKCS#7
      {Base64(Bundle({})), ERR_CERT_FORMAT, false},  // a bundle without certificates
      {"-----BEGIN PKCS7-----\n" + Base64(Bundle({certPem_})) + "\n-----END PKCS7-----\n", ERR_CERT_FORMAT, false},
      {Base64(Der(*ec)), ERR_CIPHER_ENCRYPT, true},   // no RSA key to carry the content key
  };
  for (const Row& row : rows) {
    SetLastError(0xdeadbeef);
    OpResult r = Encrypt(text_, row.certB64, 0, 0);
    EXPECT_EQ(row.expected, r.code) << row.certB64;
    EXPECT_EQ(row.platformError, r.capiError != 0) << row.certB64 << " " << std::hex << r.capiError;
    EXPECT_TRUE(r.text.empty());
  }
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), Encrypt(text_, Base64(Der(*ec)), 0, 0).capiError);
  // A PKCS#7 message that is not a bundle: the platform says why.
  OpResult sealed = Encrypt(text_, cert, 0, 0);
  OpResult envelope = Encrypt(text_, Narrow(sealed.text), 0, 0);
  EXPECT_EQ(ERR_CERT_FORMAT, envelope.code);
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE), envelope.capiError);

  EXPECT_EQ(ERR_BAD_PARAM, Encrypt(u"", cert, 0, 0).code);
  engine_.OverrideProtectedMode(true);
  EXPECT_EQ(ERR_BAD_PARAM, Encrypt(u"", cert, 0, 0).code);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Encrypt(text_, "", 0, 0).code);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Encrypt(text_, cert, 0, 0).code);
}

TEST_F(EnvelopeOps, DecryptionFailureCodes) {
  const std::string cert = Base64(Der(*signer_));
  const std::string sealed = Narrow(Encrypt(text_, cert, 0, 0).text);
  ScriptedDialogs cancel(R"([{"dialog": 202, "press": 2}])");
  EXPECT_EQ(ERR_BAD_PARAM, Decrypt("", 0).code);
  EXPECT_EQ(ERR_CIPHER_FORMAT, Decrypt(" ", 0).code);
  EXPECT_EQ(ERR_CIPHER_FORMAT, Decrypt("-----BEGIN PKCS7-----", 0).code);
  // Failures of the decryption service keep its number.
  auto failsWith = [&](const std::string& cipher, ErrorCode code, HRESULT platformError) {
    OpResult r = Decrypt(cipher, 0);
    EXPECT_EQ(code, r.code);
    EXPECT_EQ(static_cast<DWORD>(platformError), r.capiError);
    EXPECT_TRUE(r.text.empty());
  };
  // Not an envelope: a certificate bundle.
  failsWith(Base64(Bundle({certPem_})), ERR_PKCS7_FORMAT, CRYPT_E_UNEXPECTED_MSG_TYPE);
  // Not PKCS#7 at all; a truncated envelope.
  failsWith(cert, ERR_CIPHER_DECRYPT, CRYPT_E_ASN1_BADTAG);
  const std::string whole = Unbase64(Encrypt(text_, cert, 0, 0).text);
  failsWith(Base64(whole.substr(0, whole.size() - 1)), ERR_CIPHER_DECRYPT, CRYPT_E_ASN1_EOD);
  // No key in the store and the user cancels the PFX dialog.
  OpResult cancelled = Decrypt(sealed, 0);
  EXPECT_EQ(ERR_USER_CANCEL, cancelled.code);
  EXPECT_TRUE(cancelled.text.empty());

  // A PFX file that does not open, and one that holds another key.
  const std::string pfx = WritePfx("signer.pfx", *signer_, {});
  const std::string otherPfx = WritePfx("other.pfx", *other_, {});
  {
    ScriptedDialogs run(R"([{"dialog": 202, "set": {"302": ")" + pfx + R"(", "303": "wrong"}, "press": 1}])");
    OpResult r = Decrypt(sealed, 0);
    EXPECT_EQ(ERR_CERT_NOT_FOUND, r.code);
    EXPECT_NE(0u, r.capiError);
  }
  {
    ScriptedDialogs run(R"([{"dialog": 202, "set": {"302": ")" + otherPfx + R"(", "303": "1234"}, "press": 1}])");
    failsWith(sealed, ERR_DECRYPT_NO_CERT, CRYPT_E_NO_DECRYPT_CERT);
  }

  // Damage that reaches the padding of the content; and a UTF-16 reading of
  // an odd number of bytes.
  AddToMy(*signer_);
  const std::u16string longer = Utf16("0123456789abcdefghij");
  std::string der = Unbase64(Encrypt(longer, cert, 0, 0).text);
  der[der.size() - 9] ^= 0x10;
  failsWith(Base64(der), ERR_CIPHER_DECRYPT, NTE_BAD_DATA);
  failsWith(Narrow(Encrypt(u"abc", cert, 0, 0x800).text), ERR_CIPHER_DECRYPT, NTE_BAD_DATA);

  engine_.OverrideProtectedMode(true);
  EXPECT_EQ(ERR_CIPHER_FORMAT, Decrypt(" ", 0).code);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Decrypt(sealed, 0).code);
  engine_.OverrideProtectedMode(false);
  OpResult ok = Decrypt(sealed, 0);
  EXPECT_EQ(0, ok.code);
  EXPECT_EQ(text_, ok.text);
}

}  // namespace
}  // namespace kv::test
