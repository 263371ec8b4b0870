// CryptVerifyCertificateSignature: whether a certificate was signed by the
// holder of a given public key, checked with OpenSSL. RSA keys only, like
// the providers of the stand-in.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/x509.h>

#include "crypt/rsa_blob.h"
#include "ossl/owned.h"

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI CryptVerifyCertificateSignature(HCRYPTPROV_LEGACY hCryptProv, DWORD dwCertEncodingType,
                                                       const BYTE* pbEncoded, DWORD cbEncoded,
                                                       PCERT_PUBLIC_KEY_INFO pPublicKey) {
  (void)hCryptProv;
  if (!pbEncoded || !pPublicKey || !(dwCertEncodingType & X509_ASN_ENCODING))
    return Fail(static_cast<DWORD>(E_INVALIDARG));
  const unsigned char* p = pbEncoded;
  kv::platform::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(cbEncoded)));
  if (!cert || p != pbEncoded + cbEncoded) return Fail(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  DWORD error = 0;
  kv::platform::PkeyPtr key = kv::platform::crypt::RsaFromPublicKeyInfo(*pPublicKey, &error);
  if (!key) return Fail(error);
  if (X509_verify(cert.get(), key.get()) != 1) return Fail(static_cast<DWORD>(NTE_BAD_SIGNATURE));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
