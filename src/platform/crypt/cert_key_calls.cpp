// CryptAcquireCertificatePrivateKey: the provider of a certificate's key,
// from its cached key context or from its key-provider information.
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "crypt/crypt_objects.h"
#include "crypt/out_buffer.h"

namespace kv::platform::crypt {
namespace {

// The handle cached on the context, when it is still acquired.
bool CachedKeyContext(PCCERT_CONTEXT cert, HCRYPTPROV* prov, DWORD* keySpec) {
  CERT_KEY_CONTEXT context{};
  DWORD size = sizeof(context);
  DWORD saved = GetLastError();
  bool ok = CertGetCertificateContextProperty(cert, CERT_KEY_CONTEXT_PROP_ID, &context, &size) &&
            FindHandle<Provider>(context.hCryptProv) && !FindHandle<Provider>(context.hCryptProv)->released;
  SetLastError(saved);
  if (!ok) return false;
  *prov = context.hCryptProv;
  *keySpec = context.dwKeySpec;
  return true;
}

// Whether the key in `keySpec` of `prov` is the certificate's key.
bool KeyMatchesCertificate(HCRYPTPROV prov, DWORD keySpec, PCCERT_CONTEXT cert) {
  auto provider = FindHandle<Provider>(prov);
  auto key = provider ? LoadUserKey(provider, keySpec) : nullptr;
  if (!key) return false;
  const unsigned char* p = cert->pbCertEncoded;
  X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(cert->cbCertEncoded));
  bool same = x509 && EVP_PKEY_eq(X509_get0_pubkey(x509), key->pkey.get()) == 1;
  X509_free(x509);
  return same;
}

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;

extern "C" BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                                         HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                                         DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
  (void)pvParameters;
  if (!pCert || !phCryptProvOrNCryptKey) return Fail(static_cast<DWORD>(E_INVALIDARG));
  if (dwFlags & CRYPT_ACQUIRE_ONLY_NCRYPT_KEY_FLAG) return Fail(NTE_BAD_FLAGS);
  HCRYPTPROV prov = 0;
  DWORD keySpec = 0;
  bool cached = !(dwFlags & CRYPT_ACQUIRE_USE_PROV_INFO_FLAG) && CachedKeyContext(pCert, &prov, &keySpec);
  if (!cached) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      return Fail(CRYPT_E_NO_KEY_PROPERTY);
    }
    std::vector<BYTE> buffer(size);
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, info, &size)) {
      return Fail(CRYPT_E_NO_KEY_PROPERTY);
    }
    DWORD acquireFlags = info->dwFlags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
    if (dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) acquireFlags |= CRYPT_SILENT;
    if (!CryptAcquireContextW(&prov, info->pwszContainerName, info->pwszProvName, info->dwProvType, acquireFlags)) {
      return FALSE;  // the provider's error: NTE_BAD_KEYSET, NTE_KEYSET_NOT_DEF...
    }
    keySpec = info->dwKeySpec;
    if (dwFlags & CRYPT_ACQUIRE_CACHE_FLAG) {
      CERT_KEY_CONTEXT context{sizeof(CERT_KEY_CONTEXT), prov, keySpec};
      if (!CertSetCertificateContextProperty(pCert, CERT_KEY_CONTEXT_PROP_ID, 0, &context)) {
        DWORD error = GetLastError();
        CryptReleaseContext(prov, 0);
        return Fail(error);
      }
    }
  }
  if ((dwFlags & CRYPT_ACQUIRE_COMPARE_KEY_FLAG) && !KeyMatchesCertificate(prov, keySpec, pCert)) {
    if (!cached && !(dwFlags & CRYPT_ACQUIRE_CACHE_FLAG)) CryptReleaseContext(prov, 0);
    return Fail(NTE_BAD_PUBLIC_KEY);
  }
  *phCryptProvOrNCryptKey = prov;
  if (pdwKeySpec) *pdwKeySpec = keySpec;
  // A handle kept on the context belongs to the context.
  if (pfCallerFreeProvOrNCryptKey) *pfCallerFreeProvOrNCryptKey = !cached && !(dwFlags & CRYPT_ACQUIRE_CACHE_FLAG);
  return TRUE;
}
