// The recipient of the envelope benchmarks: a 2048-bit key and its
// certificate, in the personal store of the benchmark's home (key in its
// container) and in OpenSSL's objects.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <string>

#include "bench_pki.h"

namespace kv::bench {

class Recipient {
 public:
  Recipient() {
    EVP_PKEY* rootKey = EVP_RSA_gen(2048);
    X509* root = MakeCert("Bench Root", 1, rootKey, nullptr, rootKey);
    key_ = EVP_RSA_gen(2048);
    cert_ = MakeCert("Bench Recipient", 0x5678, key_, root, rootKey);
    X509_free(root);
    EVP_PKEY_free(rootKey);
    unsigned char* der = nullptr;
    int length = i2d_X509(cert_, &der);
    if (length > 0) certB64_ = Base64(der, length);
    OPENSSL_free(der);
    ok_ = length > 0 && AddToPersonalStore();
  }
  ~Recipient() {
    X509_free(cert_);
    EVP_PKEY_free(key_);
  }
  Recipient(const Recipient&) = delete;
  Recipient& operator=(const Recipient&) = delete;

  bool ok() const { return ok_; }
  X509* cert() const { return cert_; }
  EVP_PKEY* key() const { return key_; }
  const std::string& certB64() const { return certB64_; }

 private:
  static std::string Base64(const unsigned char* data, int size) {
    std::string text(static_cast<size_t>(4 * ((size + 2) / 3) + 1), '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), data, size);
    text.resize(static_cast<size_t>(length));
    return text;
  }
  bool AddToPersonalStore() {
    PKCS12* p12 = PKCS12_create("1234", nullptr, key_, cert_, nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, 2048, 0);
    unsigned char* der = nullptr;
    int length = p12 ? i2d_PKCS12(p12, &der) : -1;
    bool added = false;
    if (length > 0) {
      CRYPT_DATA_BLOB blob{static_cast<DWORD>(length), der};
      HCERTSTORE pfx = PFXImportCertStore(&blob, reinterpret_cast<LPCWSTR>(u"1234"), 0);
      HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
      PCCERT_CONTEXT context = nullptr;
      while (pfx && my && (context = CertEnumCertificatesInStore(pfx, context)) != nullptr)
        added = CertAddCertificateContextToStore(my, context, CERT_STORE_ADD_ALWAYS, nullptr) != FALSE;
      if (my) CertCloseStore(my, 0);
      if (pfx) CertCloseStore(pfx, 0);
    }
    OPENSSL_free(der);
    PKCS12_free(p12);
    return added;
  }

  EVP_PKEY* key_ = nullptr;
  X509* cert_ = nullptr;
  std::string certB64_;
  bool ok_ = false;
};

}  // namespace kv::bench
