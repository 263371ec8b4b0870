// OpenSSL-made certificates and PKCS#12 images for the tests.
#include "support/test_pki.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <stdexcept>

#include "ossl/providers.h"

namespace kv::test {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    ERR_print_errors_fp(stderr);
    throw std::runtime_error(what);
  }
}

std::string OpenSslKey(const std::string& key) {
  static const struct {
    const char* ours;
    const char* theirs;
  } kMap[] = {{"C", "C"},          {"O", "O"},           {"OU", "OU"},      {"CN", "CN"},
              {"E", "emailAddress"}, {"L", "L"},         {"S", "ST"},       {"STREET", "street"},
              {"SN", "SN"},        {"SERIALNUMBER", "serialNumber"}, {"T", "title"},
              {"G", "GN"},         {"I", "initials"},    {"DC", "DC"}};
  for (const auto& m : kMap)
    if (key == m.ours) return m.theirs;
  return key;
}

std::vector<uint8_t> Utf8ToUtf16Be(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size();) {
    uint32_t c = static_cast<uint8_t>(text[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
    if (extra) c &= 0x3F >> extra;
    for (int k = 1; k <= extra && i + k < text.size(); ++k) c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    i += 1 + extra;
    auto put = [&](uint32_t u) {
      out.push_back(static_cast<uint8_t>(u >> 8));
      out.push_back(static_cast<uint8_t>(u));
    };
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

X509_NAME* BuildName(const std::vector<NameEntry>& entries) {
  X509_NAME* name = X509_NAME_new();
  for (const NameEntry& e : entries) {
    ASN1_OBJECT* obj = OBJ_txt2obj(OpenSslKey(e.key).c_str(), 0);
    Check(obj != nullptr, "unknown name attribute");
    std::vector<uint8_t> bytes;
    if (e.type == V_ASN1_BMPSTRING)
      bytes = Utf8ToUtf16Be(e.value);
    else
      bytes.assign(e.value.begin(), e.value.end());
    X509_NAME_ENTRY* ne =
        X509_NAME_ENTRY_create_by_OBJ(nullptr, obj, e.type, bytes.data(), static_cast<int>(bytes.size()));
    ASN1_OBJECT_free(obj);
    Check(ne != nullptr, "name entry");
    Check(X509_NAME_add_entry(name, ne, -1, e.sameRdn ? -1 : 0) == 1, "add name entry");
    X509_NAME_ENTRY_free(ne);
  }
  return name;
}

EVP_PKEY* NewRsaKey(int bits) {
  EVP_PKEY* key = EVP_RSA_gen(static_cast<unsigned>(bits));
  Check(key != nullptr, "RSA key generation");
  return key;
}

}  // namespace

TestCert::TestCert(X509* cert, EVP_PKEY* key) : cert_(cert), key_(key) {
  int n = i2d_X509(cert_, nullptr);
  der_.resize(static_cast<size_t>(n));
  unsigned char* p = der_.data();
  i2d_X509(cert_, &p);
}

TestCert::~TestCert() {
  X509_free(cert_);
  EVP_PKEY_free(key_);
}

std::vector<uint8_t> TestCert::Sha1() const {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(der_.data(), der_.size(), md, &n, EVP_sha1(), nullptr);
  return std::vector<uint8_t>(md, md + n);
}

std::string TestCert::Sha1Hex() const { return Hex(Sha1()); }

std::string TestCert::Pem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert_);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string out(data, static_cast<size_t>(n));
  BIO_free(bio);
  return out;
}

std::vector<NameEntry> SimpleName(const std::string& cn, const std::string& o, const std::string& c) {
  std::vector<NameEntry> name;
  if (!c.empty()) name.push_back({"C", c, V_ASN1_PRINTABLESTRING});
  if (!o.empty()) name.push_back({"O", o, V_ASN1_UTF8STRING});
  if (!cn.empty()) name.push_back({"CN", cn, V_ASN1_UTF8STRING});
  return name;
}

CertPtr IssueCert(const CertSpec& spec, const TestCert* issuer) {
  EVP_PKEY* key = spec.ecKey ? EVP_EC_gen("P-256") : NewRsaKey(spec.keyBits);
  Check(key != nullptr, "key generation");
  X509* x = BuildCert(spec, key, issuer ? issuer->x509() : nullptr, issuer ? issuer->key() : key);
  return std::make_shared<TestCert>(x, key);
}

X509* BuildCert(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
  X509* x = X509_new();
  Check(X509_set_version(x, spec.version == 1 ? X509_VERSION_1 : X509_VERSION_3) == 1, "version");
  BIGNUM* bn = BN_bin2bn(spec.serial.data(), static_cast<int>(spec.serial.size()), nullptr);
  ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
  X509_set_serialNumber(x, serial);
  ASN1_INTEGER_free(serial);
  BN_free(bn);
  time_t now = time(nullptr);
  ASN1_TIME_set(X509_getm_notBefore(x), spec.notBefore ? spec.notBefore : now - 86400);
  ASN1_TIME_set(X509_getm_notAfter(x), spec.notAfter ? spec.notAfter : now + 365 * 86400);
  X509_NAME* subject = BuildName(spec.subject);
  X509_set_subject_name(x, subject);
  X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : subject);
  X509_NAME_free(subject);
  X509_set_pubkey(x, key);
  if (spec.version != 1) {
    if (spec.ca) {
      BASIC_CONSTRAINTS* bc = BASIC_CONSTRAINTS_new();
      bc->ca = 0xFF;
      X509_add1_ext_i2d(x, NID_basic_constraints, bc, 1, 0);
      BASIC_CONSTRAINTS_free(bc);
    }
    if (spec.keyUsage >= 0) {
      ASN1_BIT_STRING* bits = ASN1_BIT_STRING_new();
      for (int i = 0; i < 8; ++i)
        if (spec.keyUsage & (0x80 >> i)) ASN1_BIT_STRING_set_bit(bits, i, 1);
      X509_add1_ext_i2d(x, NID_key_usage, bits, 1, 0);
      ASN1_BIT_STRING_free(bits);
    }
    if (!spec.altEmail.empty()) {
      GENERAL_NAMES* names = GENERAL_NAMES_new();
      GENERAL_NAME* gn = GENERAL_NAME_new();
      ASN1_IA5STRING* mail = ASN1_IA5STRING_new();
      ASN1_STRING_set(mail, spec.altEmail.data(), static_cast<int>(spec.altEmail.size()));
      GENERAL_NAME_set0_value(gn, GEN_EMAIL, mail);
      sk_GENERAL_NAME_push(names, gn);
      X509_add1_ext_i2d(x, NID_subject_alt_name, names, 0, 0);
      GENERAL_NAMES_free(names);
    }
  }
  Check(X509_sign(x, issuerKey, spec.digest ? spec.digest : EVP_sha256()) > 0, "sign");
  return x;
}

CertPtr MakeRootCa(const std::string& cn) {
  CertSpec spec;
  spec.subject = SimpleName(cn, "Test Root", "TW");
  spec.ca = true;
  spec.keyUsage = 0x06;
  return IssueCert(spec);
}

CertPtr MakeIntermediateCa(const std::string& cn, const TestCert& issuer) {
  CertSpec spec;
  spec.subject = SimpleName(cn, "Test Root", "TW");
  spec.serial = {0x10, 0x01};
  spec.ca = true;
  spec.keyUsage = 0x06;
  return IssueCert(spec, &issuer);
}

CertPtr MakeEndEntity(const std::string& cn, const TestCert& issuer, int keyUsage) {
  CertSpec spec;
  spec.subject = SimpleName(cn, "Test Bank", "TW");
  spec.serial = {0x20, 0x02};
  spec.keyUsage = keyUsage;
  return IssueCert(spec, &issuer);
}

void LoadLegacyProvider() {
  // One loading for the whole process, shared with the provider calls: a
  // second explicit load would hold references nobody releases.
  kv::platform::EnsureLegacyProviders();
}

namespace {

// A PKCS#12 image assembled bag by bag, so the certificate bag's attributes
// carry bytes the test chose.
PKCS12* AssemblePkcs12(const TestCert& leaf, const std::vector<const TestCert*>& chain, const Pkcs12Spec& spec) {
  STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
  PKCS12_SAFEBAG* certBag = PKCS12_add_cert(&bags, leaf.x509());
  Check(certBag != nullptr, "PKCS12_add_cert");
  const unsigned char keyId[] = {0x01, 0x02, 0x03, 0x04};
  Check(PKCS12_add_localkeyid(certBag, const_cast<unsigned char*>(keyId), sizeof keyId) == 1, "localKeyID");
  Check(PKCS12_add1_attr_by_NID(certBag, NID_friendlyName, V_ASN1_BMPSTRING, spec.friendlyNameBmp.data(),
                                static_cast<int>(spec.friendlyNameBmp.size())) == 1,
        "friendlyName");
  for (const TestCert* c : chain) Check(PKCS12_add_cert(&bags, c->x509()) != nullptr, "PKCS12_add_cert");
  PKCS12_SAFEBAG* keyBag = PKCS12_add_key(&bags, leaf.key(), 0, spec.iterations, spec.keyPbe, spec.password);
  Check(keyBag != nullptr, "PKCS12_add_key");
  Check(PKCS12_add_localkeyid(keyBag, const_cast<unsigned char*>(keyId), sizeof keyId) == 1, "localKeyID");
  STACK_OF(PKCS7)* safes = nullptr;
  Check(PKCS12_add_safe(&safes, bags, -1, 0, nullptr) == 1, "PKCS12_add_safe");
  sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
  PKCS12* p12 = PKCS12_add_safes(safes, 0);
  sk_PKCS7_pop_free(safes, PKCS7_free);
  Check(p12 != nullptr, "PKCS12_add_safes");
  return p12;
}

// The DER image of `p12`, which is freed.
std::vector<uint8_t> Serialize(PKCS12* p12) {
  int n = i2d_PKCS12(p12, nullptr);
  std::vector<uint8_t> out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  i2d_PKCS12(p12, &p);
  PKCS12_free(p12);
  return out;
}

}  // namespace

std::vector<uint8_t> MakePkcs12(const TestCert& leaf, const std::vector<const TestCert*>& chain,
                                const Pkcs12Spec& spec) {
  LoadLegacyProvider();
  if (!spec.friendlyNameBmp.empty()) {
    PKCS12* p12 = AssemblePkcs12(leaf, chain, spec);
    int passLen = spec.password ? static_cast<int>(strlen(spec.password)) : -1;
    Check(PKCS12_set_mac(p12, spec.password, passLen, nullptr, 0, spec.macIterations > 0 ? spec.macIterations : 1,
                         spec.macDigest ? spec.macDigest : EVP_sha1()) == 1,
          "PKCS12_set_mac");
    return Serialize(p12);
  }
  STACK_OF(X509)* ca = sk_X509_new_null();
  for (const TestCert* c : chain) sk_X509_push(ca, c->x509());
  PKCS12* p12 = PKCS12_create(spec.password, spec.friendlyName.empty() ? nullptr : spec.friendlyName.c_str(),
                              leaf.key(), leaf.x509(), ca, spec.keyPbe, spec.certPbe, spec.iterations, -1, 0);
  sk_X509_free(ca);
  Check(p12 != nullptr, "PKCS12_create");
  if (spec.macIterations > 0) {
    int passLen = spec.password ? static_cast<int>(strlen(spec.password)) : -1;
    Check(PKCS12_set_mac(p12, spec.password, passLen, nullptr, 0, spec.macIterations,
                         spec.macDigest ? spec.macDigest : EVP_sha1()) == 1,
          "PKCS12_set_mac");
  }
  return Serialize(p12);
}

bool ParsePkcs12(const std::vector<uint8_t>& image, const char* password, EVP_PKEY** key, X509** cert,
                 STACK_OF(X509)** chain) {
  LoadLegacyProvider();
  const unsigned char* p = image.data();
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(image.size()));
  if (!p12) return false;
  bool ok = PKCS12_parse(p12, password, key, cert, chain) == 1;
  PKCS12_free(p12);
  ERR_clear_error();
  return ok;
}

time_t UtcTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return timegm(&t);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

}  // namespace kv::test
