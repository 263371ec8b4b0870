// OpenSSL-side checks and personal-store fixtures of the PFX tests.
#include "keys/pfx_test_support.h"

#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include "support/my_store.h"

namespace kv::test {

namespace {

std::vector<uint8_t> CertDer(X509* cert) {
  unsigned char* out = nullptr;
  int n = i2d_X509(cert, &out);
  std::vector<uint8_t> der(out, out + (n > 0 ? n : 0));
  OPENSSL_free(out);
  return der;
}

}  // namespace

std::vector<uint8_t> PrivateKeyDer(EVP_PKEY* key) {
  unsigned char* out = nullptr;
  int n = i2d_PrivateKey(key, &out);
  std::vector<uint8_t> der(out, out + (n > 0 ? n : 0));
  OPENSSL_free(out);
  return der;
}

OpenedPfx OpenPfxWithOpenSsl(const std::string& path, const char* password) {
  OpenedPfx result;
  std::string bytes = ReadFile(path);
  std::vector<uint8_t> image(bytes.begin(), bytes.end());
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (!ParsePkcs12(image, password, &key, &cert, &chain)) return result;
  result.opened = true;
  if (key) result.keyDer = PrivateKeyDer(key);
  if (cert) result.certDer = CertDer(cert);
  for (int i = 0; chain && i < sk_X509_num(chain); ++i) result.otherDers.push_back(CertDer(sk_X509_value(chain, i)));
  EVP_PKEY_free(key);
  X509_free(cert);
  sk_X509_pop_free(chain, X509_free);
  return result;
}

int OpenSslPkcs12(const std::string& path, const std::string& password, bool legacy, std::string* out) {
  std::string passFile = path + ".pass";
  WriteFile(passFile, password);
  int status = RunCommand(std::string("openssl pkcs12 ") + (legacy ? "-legacy " : "") + "-in '" + path +
                              "' -passin 'file:" + passFile + "' -nodes 2>&1",
                          out);
  std::remove(passFile.c_str());
  return status;
}

int CountKeyContainers() {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return -1;
  int count = 0;
  char name[1024];
  DWORD flags = CRYPT_FIRST;
  for (;;) {
    DWORD size = sizeof name;
    if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags)) break;
    flags = CRYPT_NEXT;
    ++count;
  }
  CryptReleaseContext(prov, 0);
  return count;
}

void PfxTest::AddToMyWithKey(const TestCert& cert, bool exportable) {
  ASSERT_TRUE(kv::test::AddToMyWithKey(cert, exportable ? CRYPT_EXPORTABLE : 0));
}

void PfxTest::AddCertOnly(const char* store, const TestCert& cert) {
  HCERTSTORE s = CertOpenSystemStoreA(0, store);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(s, X509_ASN_ENCODING, cert.data(), cert.size(), CERT_STORE_ADD_ALWAYS,
                                                nullptr));
  CertCloseStore(s, 0);
}

int PfxTest::CountMy() {
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  int n = 0;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(my, context)) != nullptr) ++n;
  CertCloseStore(my, 0);
  return n;
}

}  // namespace kv::test
