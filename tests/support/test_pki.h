// Test certificates and PKCS#12 files made with OpenSSL: self-signed roots,
// intermediates and end-entity certificates with chosen names (including
// BMPString and UTF8String values), serials, key usages, validity windows
// and versions, and PKCS#12 images with chosen passwords and algorithms.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace kv::test {

// One attribute of a distinguished name, in encoded order.
struct NameEntry {
  std::string key;    // C, O, OU, CN, E, L, S, STREET, SN, SERIALNUMBER, T, G, I, DC or a dotted OID
  std::string value;  // UTF-8 text
  int type = V_ASN1_UTF8STRING;  // V_ASN1_PRINTABLESTRING, V_ASN1_UTF8STRING, V_ASN1_BMPSTRING, V_ASN1_IA5STRING, ...
  bool sameRdn = false;          // joins the previous attribute's RDN (multi-valued RDN)
};

struct CertSpec {
  std::vector<NameEntry> subject;
  std::vector<uint8_t> serial = {0x01};  // big-endian magnitude; a set high bit gets a leading 00 on encoding
  int keyUsage = -1;                     // first key-usage byte (CERT_*_KEY_USAGE bits); -1: no extension
  bool ca = false;                       // basicConstraints cA = TRUE
  int version = 3;                       // 1 or 3 (a version 1 certificate has no extensions)
  time_t notBefore = 0;                  // 0: one day ago
  time_t notAfter = 0;                   // 0: one year from now
  int keyBits = 1024;
  bool ecKey = false;                    // a P-256 key instead of RSA
  const EVP_MD* digest = nullptr;        // null: SHA-256
  std::string altEmail;                  // subjectAltName rfc822Name when not empty
};

// A certificate with its private key.
class TestCert {
 public:
  TestCert(X509* cert, EVP_PKEY* key);
  ~TestCert();
  TestCert(const TestCert&) = delete;
  TestCert& operator=(const TestCert&) = delete;

  X509* x509() const { return cert_; }
  EVP_PKEY* key() const { return key_; }
  const std::vector<uint8_t>& der() const { return der_; }
  const uint8_t* data() const { return der_.data(); }
  unsigned size() const { return static_cast<unsigned>(der_.size()); }
  std::vector<uint8_t> Sha1() const;
  std::string Sha1Hex() const;  // upper case
  std::string Pem() const;

 private:
  X509* cert_;
  EVP_PKEY* key_;
  std::vector<uint8_t> der_;
};
using CertPtr = std::shared_ptr<TestCert>;

// Convenience name: C=TW, O=..., CN=... as PrintableString/UTF8String.
std::vector<NameEntry> SimpleName(const std::string& cn, const std::string& o = "", const std::string& c = "");

// Issues a certificate; a null issuer makes it self-signed.
CertPtr IssueCert(const CertSpec& spec, const TestCert* issuer = nullptr);
// The certificate of `spec` for a key the caller made, under `issuer`'s name
// (the subject's own when null), signed with `issuerKey`; the caller frees it.
X509* BuildCert(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey);
// Shortcuts: a self-signed CA, an intermediate under `issuer`, an end entity under `issuer`.
CertPtr MakeRootCa(const std::string& cn);
CertPtr MakeIntermediateCa(const std::string& cn, const TestCert& issuer);
CertPtr MakeEndEntity(const std::string& cn, const TestCert& issuer, int keyUsage = 0xC0);

struct Pkcs12Spec {
  const char* password = "1234";  // null: the PKCS#12 null password (distinct from "")
  int keyPbe = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;  // or a cipher NID for PBES2 (NID_aes_256_cbc); -1 none
  int certPbe = NID_pbe_WithSHA1And40BitRC2_CBC;        // -1: certificates unencrypted
  int iterations = 2048;
  int macIterations = 2048;  // 0: no MAC
  const EVP_MD* macDigest = nullptr;  // null: SHA-1
  std::string friendlyName;
  // When set, the certificate bag's friendlyName attribute holds exactly these
  // BMPString bytes (UTF-16, most significant byte first), written here rather
  // than by the library's text conversion; the bags are then unencrypted
  // apart from the shrouded key.
  std::vector<uint8_t> friendlyNameBmp;
};

// A PKCS#12 image of `leaf` with its key and the `chain` certificates (keys not included).
std::vector<uint8_t> MakePkcs12(const TestCert& leaf, const std::vector<const TestCert*>& chain,
                                const Pkcs12Spec& spec = Pkcs12Spec());

// Parses a PKCS#12 image with OpenSSL; false when the password is wrong or it is malformed.
bool ParsePkcs12(const std::vector<uint8_t>& image, const char* password, EVP_PKEY** key, X509** cert,
                 STACK_OF(X509)** chain);

// Makes the legacy algorithms (RC2, DES) available to OpenSSL in this process.
void LoadLegacyProvider();

// Seconds since the epoch for a UTC calendar time.
time_t UtcTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace kv::test
