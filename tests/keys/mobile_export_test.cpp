// Mobile key export: the encrypted record decrypted with OpenSSL's own
// triple-DES and checked field by field against the certificate and its key;
// the PFX and personal-store routes with their dialogs and failure codes.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/sha.h>

#include <ctime>

#include "keys/mobile_key_record.h"
#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

// A key integer as the record holds it: big-endian, left-padded to `width`.
std::vector<uint8_t> Param(EVP_PKEY* key, const char* name, size_t width) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(1, EVP_PKEY_get_bn_param(key, name, &bn)) << name;
  std::vector<uint8_t> out(width);
  BN_bn2binpad(bn, out.data(), static_cast<int>(width));
  BN_free(bn);
  return out;
}

// Local time of an ASN.1 time, "YYYYMMDDhhmmss".
std::string LocalDigits(const ASN1_TIME* t) {
  struct tm utc = {};
  ASN1_TIME_to_tm(t, &utc);
  time_t when = timegm(&utc);
  struct tm local = {};
  localtime_r(&when, &local);
  char text[32];
  snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
           local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

// Decrypts a record with the command-line tool: key SHA-1(password) || "QMZB", IV zero.
std::vector<uint8_t> DecryptWithOpenSsl(const std::string& base64, const std::string& ansiPassword,
                                        const std::string& folder) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(ansiPassword.data()), ansiPassword.size(), digest);
  std::vector<uint8_t> key(digest, digest + SHA_DIGEST_LENGTH);
  for (char c : std::string("QMZB")) key.push_back(static_cast<uint8_t>(c));
  std::vector<uint8_t> cipher = FromBase64(base64);
  WriteFile(folder + "/record.enc", std::string(cipher.begin(), cipher.end()));
  std::string out;
  int status = RunCommand("openssl enc -d -des-ede3-cbc -K " + Hex(key) + " -iv 0000000000000000 -in '" + folder +
                              "/record.enc' -out '" + folder + "/record.bin' 2>&1",
                          &out);
  EXPECT_EQ(0, status) << out;
  std::string plain = ReadFile(folder + "/record.bin");
  return std::vector<uint8_t>(plain.begin(), plain.end());
}

// Checks every field of a decrypted record against `cert` and its key.
void CheckRecord(const std::vector<uint8_t>& r, const TestCert& cert, const std::string& ansiCommonName) {
  ASSERT_GE(r.size(), 12u);
  EXPECT_EQ(std::string("VELK"), std::string(r.begin(), r.begin() + 4));
  const uint32_t bits = Be32(r, 4);
  EXPECT_EQ(static_cast<uint32_t>(EVP_PKEY_get_bits(cert.key())), bits);
  const size_t full = bits / 8, half = bits / 16;
  const size_t n = ansiCommonName.size(), c = cert.size();
  // The serial number's DER content bytes, a leading zero included.
  unsigned char* serialDer = nullptr;
  int serialLength = i2d_ASN1_INTEGER(X509_get0_serialNumber(cert.x509()), &serialDer);
  ASSERT_GT(serialLength, 2);
  std::vector<uint8_t> serial(serialDer + 2, serialDer + serialLength);
  OPENSSL_free(serialDer);
  const size_t s = serial.size();
  ASSERT_EQ(72 + 9 * bits / 16 + n + s + c, r.size());

  size_t at = 8;
  BIGNUM* e = nullptr;
  EVP_PKEY_get_bn_param(cert.key(), OSSL_PKEY_PARAM_RSA_E, &e);
  EXPECT_EQ(BN_get_word(e), Be32(r, at));
  BN_free(e);
  at += 4;
  struct Field {
    const char* name;
    size_t width;
  } fields[] = {{OSSL_PKEY_PARAM_RSA_N, full},         {OSSL_PKEY_PARAM_RSA_FACTOR1, half},
                {OSSL_PKEY_PARAM_RSA_FACTOR2, half},   {OSSL_PKEY_PARAM_RSA_EXPONENT1, half},
                {OSSL_PKEY_PARAM_RSA_EXPONENT2, half}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, half},
                {OSSL_PKEY_PARAM_RSA_D, full}};
  for (const Field& f : fields) {
    EXPECT_EQ(Param(cert.key(), f.name, f.width), std::vector<uint8_t>(r.begin() + at, r.begin() + at + f.width))
        << f.name;
    at += f.width;
  }
  EXPECT_EQ(n, Be32(r, at));
  at += 4;
  EXPECT_EQ(ansiCommonName, std::string(r.begin() + at, r.begin() + at + n));
  at += n;
  EXPECT_EQ(s, Be32(r, at));
  at += 4;
  EXPECT_EQ(serial, std::vector<uint8_t>(r.begin() + at, r.begin() + at + s));
  at += s;
  EXPECT_EQ(cert.Sha1(), std::vector<uint8_t>(r.begin() + at, r.begin() + at + 20));
  at += 20;
  EXPECT_EQ(LocalDigits(X509_get0_notBefore(cert.x509())), std::string(r.begin() + at, r.begin() + at + 14));
  at += 14;
  EXPECT_EQ(LocalDigits(X509_get0_notAfter(cert.x509())), std::string(r.begin() + at, r.begin() + at + 14));
  at += 14;
  EXPECT_EQ(c, Be32(r, at));
  at += 4;
  EXPECT_EQ(cert.der(), std::vector<uint8_t>(r.begin() + at, r.end()));
}

class MobileExportTest : public PfxTest {
 protected:
  void SetUp() override {
    PfxTest::SetUp();
    CertSpec spec;
    spec.subject = SimpleName("行動憑證");
    spec.keyBits = 2048;
    spec.serial = {0x80, 0x12, 0x34};  // high bit set: encoded with a leading zero
    spec.keyUsage = 0xC0;
    mobile_ = IssueCert(spec, root_.get());
  }
  std::string FromPfx(const std::string& name, const char* password, LONG flags = 0, LONG keyUsage = 0) {
    return TakeText(engine_.ExportMobileFromPfx(Folder(), Utf8Bstr(name), Utf8Bstr(password), flags, keyUsage));
  }
  CertPtr mobile_;
};

TEST_F(MobileExportTest, FromPfxRecordMatchesTheKeyAndCertificate) {
  WritePfx("phone.pfx", *mobile_, {root_.get()}, "密碼1234");
  SetLastError(0xdeadbeef);
  std::string text = FromPfx("phone.pfx", "密碼1234");
  ASSERT_EQ(0, engine_.Code());
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
  EXPECT_EQ(folder_.path(), TakeText(engine_.GetExportedPfxFilePath()));
  EXPECT_EQ("phone.pfx", TakeText(engine_.GetExportedPfxFileName()));
  std::vector<uint8_t> record = DecryptWithOpenSsl(text, Ansi("密碼1234"), folder_.path());
  // 1152 key bytes for a 2048-bit key: the record is 1224 + n + s + c.
  EXPECT_EQ(1224 + Ansi("行動憑證").size() + 4 + mobile_->size(), record.size());  // serial 00 80 12 34
  CheckRecord(record, *mobile_, Ansi("行動憑證"));
  // Padding is always present: the ciphertext is longer than the record.
  EXPECT_EQ((record.size() / 8 + 1) * 8, FromBase64(text).size());
}

TEST_F(MobileExportTest, FromPersonalStoreTakesTheFirstMatchWithoutChooser) {
  AddToMyWithKey(*mobile_, true);
  CertPtr second = MakeEndEntity("Second", *root_);
  AddToMyWithKey(*second, true);
  // Flags 2 with several matches: no chooser (none could be shown here).
  std::string text = TakeText(engine_.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr("pw"), 2, 0));
  ASSERT_EQ(0, engine_.Code());
  EXPECT_EQ("", TakeText(engine_.GetExportedPfxFileName()));
  std::vector<uint8_t> record = DecryptWithOpenSsl(text, "pw", folder_.path());
  ASSERT_GT(record.size(), 8u);
  if (Be32(record, 4) == 2048)
    CheckRecord(record, *mobile_, Ansi("行動憑證"));
  else
    CheckRecord(record, *second, "Second");

  text = TakeText(engine_.ExportMobileFromIE(Utf8Bstr("S_CN=Second"), Utf8Bstr("pw"), 8, 0));
  ASSERT_EQ(0, engine_.Code());
  CheckRecord(DecryptWithOpenSsl(text, "pw", folder_.path()), *second, "Second");
  // Several matches and no policy: the chooser, which cannot be shown.
  EXPECT_EQ("", TakeText(engine_.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr("pw"), 0, 0)));
  EXPECT_EQ(ERR_MEM_ALLOC, engine_.Code());
}

TEST_F(MobileExportTest, KeyFailuresFromThePersonalStore) {
  AddToMyWithKey(*mobile_, false);
  SetLastError(0xdeadbeef);
  EXPECT_EQ("", TakeText(engine_.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr("pw"), 0, 0)));
  EXPECT_EQ(ERR_KEY_NOT_EXPORTABLE, engine_.Code());
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEY_STATE), engine_.PlatformError());

  CertPtr bare = MakeEndEntity("Bare", *root_);
  AddCertOnly("MY", *bare);
  SetLastError(0xdeadbeef);
  EXPECT_EQ("", TakeText(engine_.ExportMobileFromIE(Utf8Bstr("S_CN=Bare"), Utf8Bstr("pw"), 8, 0)));
  EXPECT_EQ(ERR_NO_PRIVATE_KEY, engine_.Code());
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY), engine_.PlatformError());
  EXPECT_EQ("", TakeText(engine_.ExportMobileFromIE(Utf8Bstr("S_CN=Nobody"), Utf8Bstr("pw"), 8, 0)));
  EXPECT_EQ(ERR_CERT_NOT_FOUND, engine_.Code());
}

TEST_F(MobileExportTest, FromPfxFailureCodes) {
  WritePfx("phone.pfx", *mobile_, {}, "pw");
  EXPECT_EQ("", FromPfx("none.pfx", "pw"));
  EXPECT_EQ(ERR_FILE_NOT_FOUND, engine_.Code());
  EXPECT_EQ("", FromPfx("phone.pfx", "bad"));
  EXPECT_EQ(ERR_PKCS12_PASSWORD, engine_.Code());
  EXPECT_EQ("", FromPfx("phone.pfx", "pw", 0, CERT_DATA_ENCIPHERMENT_KEY_USAGE));
  EXPECT_EQ(ERR_CERT_KEY_USAGE, engine_.Code());
  EXPECT_EQ("", TakeText(engine_.GetExportedPfxFileName()));

  HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(memory, X509_ASN_ENCODING, root_->data(), root_->size(),
                                                CERT_STORE_ADD_ALWAYS, nullptr));
  CRYPT_DATA_BLOB blob = {0, nullptr};
  ASSERT_TRUE(PFXExportCertStore(memory, &blob, reinterpret_cast<LPCWSTR>(u"pw"), 0));
  std::string certsOnly(blob.cbData, '\0');
  blob.pbData = reinterpret_cast<BYTE*>(&certsOnly[0]);
  ASSERT_TRUE(PFXExportCertStore(memory, &blob, reinterpret_cast<LPCWSTR>(u"pw"), 0));
  CertCloseStore(memory, 0);
  folder_.File("certs.pfx", certsOnly);
  EXPECT_EQ("", FromPfx("certs.pfx", "pw"));
  EXPECT_EQ(ERR_CERT_NOT_FOUND, engine_.Code());
}

TEST_F(MobileExportTest, SignerFlagAndDialogWithThePageRange) {
  WritePfx("phone.pfx", *mobile_, {}, "longpass");
  engine_.PresetPasswdLengthRange(6, 10);
  {
    // An empty password opens the dialog although folder and file are given.
    ScriptedDialogs run(R"({"dialog": 207, "press": 2})");
    EXPECT_EQ("", FromPfx("phone.pfx", ""));
    EXPECT_EQ(ERR_USER_CANCEL, engine_.Code());
  }
  {
    // OK is refused below the page's minimum.
    ScriptedDialogs run(R"([{"dialog": 207, "set": {"303": "short"}, "press": 1},
                            {"dialog": 207, "set": {"303": "longpass"}, "press": 1}])");
    std::string text = FromPfx("phone.pfx", "");
    ASSERT_EQ(0, engine_.Code());
    EXPECT_EQ(1u, run.Events("ignored").size());
    CheckRecord(DecryptWithOpenSsl(text, "longpass", folder_.path()), *mobile_, Ansi("行動憑證"));
  }
  // 0x4000 takes the selected PFX signer's file and password.
  ASSERT_EQ(0, SelectPfx(engine_, "phone.pfx", "longpass"));
  std::string text = TakeText(engine_.ExportMobileFromPfx(Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), 0x4000, 0));
  ASSERT_EQ(0, engine_.Code());
  EXPECT_EQ("phone.pfx", TakeText(engine_.GetExportedPfxFileName()));

  // The personal-store route's password dialog applies the same range.
  AddToMyWithKey(*mobile_, true);
  ScriptedDialogs run(R"([{"dialog": 205, "set": {"303": "abc"}, "press": 1},
                          {"dialog": 205, "set": {"303": "abcdefghijklmnop"}, "press": 1}])");
  text = TakeText(engine_.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr(""), 2, 0));
  ASSERT_EQ(0, engine_.Code());
  // Typing stops at the maximum of 10.
  CheckRecord(DecryptWithOpenSsl(text, "abcdefghij", folder_.path()), *mobile_, Ansi("行動憑證"));
}

TEST(MobileKeyRecord, RefusesMissingOrForeignInput) {
  std::string text = "x";
  CByteBuffer blob;
  EXPECT_EQ(ERR_ENCRYPT, kv::keys::BuildMobileKeyRecord(nullptr, "pw", blob, &text));
  EXPECT_EQ("", text);
  ScopedHome home;
  CertPtr root = MakeRootCa("R");
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, root->data(), root->size());
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(ERR_ENCRYPT, kv::keys::BuildMobileKeyRecord(cert, "pw", blob, &text));
  // A public-key blob, and a private-key blob cut short.
  BYTE header[20] = {0x06, 0x02, 0, 0, 0x00, 0xA4, 0, 0, 'R', 'S', 'A', '1', 0x00, 0x04, 0, 0, 1, 0, 1, 0};
  ASSERT_TRUE(blob.Append(header, sizeof header));
  EXPECT_EQ(ERR_ENCRYPT, kv::keys::BuildMobileKeyRecord(cert, "pw", blob, &text));
  header[0] = PRIVATEKEYBLOB;
  header[11] = '2';
  blob.Clear();
  ASSERT_TRUE(blob.Append(header, sizeof header));
  std::vector<BYTE> part(100, 1);
  ASSERT_TRUE(blob.Append(part.data(), static_cast<int32_t>(part.size())));
  EXPECT_EQ(ERR_ENCRYPT, kv::keys::BuildMobileKeyRecord(cert, "pw", blob, &text));
  EXPECT_EQ("", text);
  CertFreeCertificateContext(cert);
}

}  // namespace
}  // namespace kv::test
