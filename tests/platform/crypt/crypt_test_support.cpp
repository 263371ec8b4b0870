// Test helpers for the crypt tests.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>

#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace kv::test::crypt {

EVP_PKEY* SharedTestKey(int index) {
  static EVP_PKEY* keys[2] = {nullptr, nullptr};
  if (!keys[index]) keys[index] = EVP_RSA_gen(1024);
  return keys[index];
}

std::vector<BYTE> RsaComponent(EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  EVP_PKEY_get_bn_param(key, name, &bn);
  std::vector<BYTE> out(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

namespace {
void PutDword(std::vector<BYTE>* out, DWORD v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>(v >> (8 * i)));
}
void PutLe(std::vector<BYTE>* out, std::vector<BYTE> be, size_t width) {
  std::vector<BYTE> le(be.rbegin(), be.rend());
  le.resize(width, 0);
  out->insert(out->end(), le.begin(), le.end());
}
}  // namespace

std::vector<BYTE> ExpectedBlob(EVP_PKEY* key, ALG_ID algId, bool includePrivate) {
  size_t bits = static_cast<size_t>(EVP_PKEY_get_bits(key));
  std::vector<BYTE> out = {static_cast<BYTE>(includePrivate ? 7 : 6), 2, 0, 0};
  PutDword(&out, algId);
  out.insert(out.end(), {'R', 'S', 'A', static_cast<BYTE>(includePrivate ? '2' : '1')});
  PutDword(&out, static_cast<DWORD>(bits));
  PutDword(&out, 65537);
  PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_N), bits / 8);
  if (includePrivate) {
    PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_FACTOR1), bits / 16);
    PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_FACTOR2), bits / 16);
    PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_EXPONENT1), bits / 16);
    PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_EXPONENT2), bits / 16);
    PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1), bits / 16);
    PutLe(&out, RsaComponent(key, OSSL_PKEY_PARAM_RSA_D), bits / 8);
  }
  return out;
}

HCRYPTPROV ProviderWithKey(const char* name, DWORD slot, DWORD flags, int index) {
  HCRYPTPROV prov = 0;
  EXPECT_TRUE(CryptAcquireContextA(&prov, name, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  std::vector<BYTE> blob =
      ExpectedBlob(SharedTestKey(index), slot == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX, true);
  HCRYPTKEY key = 0;
  EXPECT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, flags, &key));
  CryptDestroyKey(key);
  return prov;
}

std::vector<BYTE> SelfSignedCert(EVP_PKEY* key, const char* commonName, const char* subjectKeyId) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 0x1234);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  X509_set_pubkey(cert, key);
  if (subjectKeyId) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_key_identifier, subjectKeyId);
    EXPECT_NE(ext, nullptr);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(cert, key, EVP_sha256());
  unsigned char* der = nullptr;
  int len = i2d_X509(cert, &der);
  std::vector<BYTE> out(der, der + len);
  OPENSSL_free(der);
  X509_free(cert);
  return out;
}

std::string WritePrivateKeyPem(EVP_PKEY* key, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
  return path;
}

std::string WriteCertPem(const std::vector<BYTE>& der, const std::string& path) {
  const unsigned char* p = der.data();
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  FILE* f = std::fopen(path.c_str(), "w");
  PEM_write_X509(f, cert);
  std::fclose(f);
  X509_free(cert);
  return path;
}

std::vector<BYTE> RsaPublicKeyDer(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  int len = i2d_PublicKey(key, &der);
  std::vector<BYTE> out(der, der + len);
  OPENSSL_free(der);
  return out;
}

}  // namespace kv::test::crypt
