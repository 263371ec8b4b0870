// Fuzz target: the envelope input of CertDecryptPkcs7, opened with a store
// that holds a recipient's certificate and key. The first byte picks the
// input: the bytes as they are, or a genuine envelope for that recipient
// (made once at start: our own DES, RC4 and triple-DES ones naming the
// recipient by issuer and serial number, and OpenSSL's CMS version 2 ones
// naming it by key identifier, triple-DES and AES-256) with the rest of the
// input XORed over it from a chosen offset, so the fuzzer reaches the key
// unwrap and the content decryption. Any outcome must be one of the mapped
// codes, a failure with the service's number; a success must leave the spare
// zeros after the plain text.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypt/envelope.h"
#include "fuzz_home.h"

namespace {

constexpr int kEnvelopes = 5;

struct Fixture {
  HCERTSTORE store = nullptr;
  std::vector<BYTE> envelopes[kEnvelopes];
};

// OpenSSL's envelope of `plain` naming `cert` by its key identifier.
std::vector<BYTE> KeyIdEnvelope(X509* cert, const EVP_CIPHER* cipher, const std::string& plain) {
  STACK_OF(X509)* recipients = sk_X509_new_null();
  sk_X509_push(recipients, cert);
  BIO* in = BIO_new_mem_buf(plain.data(), static_cast<int>(plain.size()));
  CMS_ContentInfo* cms = CMS_encrypt(recipients, in, cipher, CMS_BINARY | CMS_USE_KEYID);
  unsigned char* der = nullptr;
  int length = cms ? i2d_CMS_ContentInfo(cms, &der) : 0;
  if (length <= 0) std::abort();
  std::vector<BYTE> out(der, der + length);
  OPENSSL_free(der);
  CMS_ContentInfo_free(cms);
  BIO_free(in);
  sk_X509_free(recipients);
  return out;
}

// A self-signed RSA certificate (with a subject key identifier) and its key,
// imported from a PKCS#12 image the way a PFX file would be; the
// certificate's key-identifier envelopes go to `envelopes`.
HCERTSTORE MakeRecipientStore(std::vector<BYTE>* envelopes) {
  EVP_PKEY* key = EVP_RSA_gen(1024);
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 7);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600 * 24);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Fuzz Recipient"), -1, -1, 0);
  X509_set_issuer_name(cert, X509_get_subject_name(cert));
  X509_set_pubkey(cert, key);
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* keyId = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_key_identifier, "hash");
  X509_add_ext(cert, keyId, -1);
  X509_EXTENSION_free(keyId);
  X509_sign(cert, key, EVP_sha256());
  envelopes[0] = KeyIdEnvelope(cert, EVP_des_ede3_cbc(), "委託內容 0123456789");
  envelopes[1] = KeyIdEnvelope(cert, EVP_aes_256_cbc(), "委託內容 0123456789");
  PKCS12* p12 = PKCS12_create("1234", nullptr, key, cert, nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                              NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, 2048, 0);
  unsigned char* der = nullptr;
  int length = p12 ? i2d_PKCS12(p12, &der) : 0;
  HCERTSTORE store = nullptr;
  if (length > 0) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(length), der};
    store = PFXImportCertStore(&blob, u"1234", 0);
  }
  OPENSSL_free(der);
  PKCS12_free(p12);
  X509_free(cert);
  EVP_PKEY_free(key);
  return store;
}

const Fixture& TheFixture() {
  static Fixture fixture = [] {
    kv::fuzz::UseThrowawayHome();
    Fixture f;
    f.store = MakeRecipientStore(&f.envelopes[3]);
    if (!f.store) std::abort();
    PCCERT_CONTEXT cert = CertEnumCertificatesInStore(f.store, nullptr);
    kv::crypt::CRecipientList recipients;
    if (!cert || !recipients.Add(cert->pbCertEncoded, cert->cbCertEncoded)) std::abort();
    CertFreeCertificateContext(cert);
    kv::crypt::SecretBytes plain(std::begin(u8"委託內容 0123456789"), std::end(u8"委託內容 0123456789") - 1);
    for (LONG algorithm = 0; algorithm < 3; ++algorithm) {
      DWORD error = 0;
      if (!kv::crypt::EncryptEnvelope(recipients, algorithm, plain, &f.envelopes[algorithm], &error)) std::abort();
    }
    return f;
  }();
  return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Fixture& f = TheFixture();
  if (size < 3) return 0;
  std::vector<BYTE> message;
  const uint8_t mode = data[0] % (kEnvelopes + 1);
  if (mode == kEnvelopes) {
    message.assign(data + 1, data + size);
  } else {
    message = f.envelopes[mode];
    size_t at = (static_cast<size_t>(data[1]) * 256 + data[2]) % message.size();
    for (size_t i = 3; i < size && at < message.size(); ++i, ++at) message[at] ^= data[i];
  }
  kv::crypt::SecretBytes plain;
  DWORD produced = 0, platformError = 0;
  ErrorCode code = kv::crypt::DecryptEnvelope(f.store, message.data(), static_cast<DWORD>(message.size()), &plain,
                                              &produced, &platformError);
  switch (code) {
    case ERR_SUCCESS:
      if (plain.size() < produced + 8) std::abort();
      for (size_t i = produced; i < plain.size(); ++i) {
        if (plain[i] != 0) std::abort();
      }
      for (LONG flags : {0, 0x800}) SysFreeString(kv::crypt::BytesToText(plain.data(), produced, flags));
      break;
    case ERR_CERT_KEY_USAGE:
    case ERR_PKCS7_FORMAT:
    case ERR_DECRYPT_NO_CERT:
    case ERR_CIPHER_DECRYPT:
      if (produced != 0 || platformError == 0) std::abort();
      break;
    default:
      std::abort();
  }
  return 0;
}
