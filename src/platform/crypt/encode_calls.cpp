// CryptEncodeObject for the structures the engine uses (X509_NAME,
// RSA_CSP_PUBLICKEYBLOB, X509_PUBLIC_KEY_INFO, X509_CERT_REQUEST_TO_BE_SIGNED,
// X509_SEQUENCE_OF_ANY, X509_CERT) and CryptExportPublicKeyInfo.
#include <cstring>

#include "crypt/crypt_objects.h"
#include "crypt/encode_structures.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"

namespace kv::platform::crypt {
namespace {

// The RSAPublicKey DER of a key.
bool RsaPublicKeyDer(EVP_PKEY* pkey, Bytes* out) {
  std::vector<BYTE> blob;
  DWORD error = 0;
  return RsaToBlob(pkey, CALG_RSA_KEYX, false, &blob) &&
         Encode([&](der::Builder* b) { return EncodeRsaPublicBlob(blob.data(), b, &error); }, out, &error);
}

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
namespace der = kv::der;

extern "C" BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                                         BYTE* pbEncoded, DWORD* pcbEncoded) {
  if (!pcbEncoded) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ULONG_PTR id = StructId(lpszStructType);
  if (id != 1 && id != 4 && id != 7 && id != 8 && id != 19 && id != 34) {
    return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  if (!pvStructInfo) return Fail(static_cast<DWORD>(E_INVALIDARG));
  Bytes der;
  DWORD error = 0;
  auto encoder = [&](der::Builder* b) {
    switch (id) {
      case 4:
        return EncodeRequestInfo(*static_cast<const CERT_REQUEST_INFO*>(pvStructInfo), b, &error);
      case 7:
        return EncodeName(*static_cast<const CERT_NAME_INFO*>(pvStructInfo), b, &error);
      case 8:
        return EncodePublicKeyInfo(*static_cast<const CERT_PUBLIC_KEY_INFO*>(pvStructInfo), b, &error);
      case 1:
        return EncodeSignedContent(*static_cast<const CERT_SIGNED_CONTENT_INFO*>(pvStructInfo), b, &error);
      case 34:
        return EncodeSequenceOfAny(*static_cast<const CRYPT_SEQUENCE_OF_ANY*>(pvStructInfo), b, &error);
      default:
        return EncodeRsaPublicBlob(static_cast<const BYTE*>(pvStructInfo), b, &error);
    }
  };
  if (!Encode(encoder, &der, &error)) return Fail(error);
  return ReturnBytes(der, pbEncoded, pcbEncoded);
}

extern "C" BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                                DWORD dwKeySpec, DWORD dwCertEncodingType,
                                                PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo) {
  auto prov = LiveProvider(hCryptProvOrNCryptKey);
  if (!prov) return FALSE;
  if (!pcbInfo) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  auto key = LoadUserKey(prov, dwKeySpec);
  if (!key) return FALSE;
  Bytes rsaKey;
  if (!RsaPublicKeyDer(key->pkey.get(), &rsaKey)) return Fail(NTE_FAIL);
  const Bytes params = {der::kNull, 0x00};
  Layout layout(sizeof(CERT_PUBLIC_KEY_INFO));
  size_t oidAt = layout.Add(sizeof(kRsaOid));
  size_t paramsAt = layout.Add(params.size());
  size_t keyAt = layout.Add(rsaKey.size());
  if (!pInfo) {
    *pcbInfo = static_cast<DWORD>(layout.size());
    return TRUE;
  }
  if (*pcbInfo < layout.size()) {
    *pcbInfo = static_cast<DWORD>(layout.size());
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  BYTE* base = reinterpret_cast<BYTE*>(pInfo);
  std::memset(base, 0, layout.size());
  pInfo->Algorithm.pszObjId = reinterpret_cast<LPSTR>(base + oidAt);
  std::memcpy(pInfo->Algorithm.pszObjId, kRsaOid, sizeof(kRsaOid));
  pInfo->Algorithm.Parameters.cbData = static_cast<DWORD>(params.size());
  pInfo->Algorithm.Parameters.pbData = base + paramsAt;
  std::memcpy(base + paramsAt, params.data(), params.size());
  pInfo->PublicKey.cbData = static_cast<DWORD>(rsaKey.size());
  pInfo->PublicKey.pbData = base + keyAt;
  pInfo->PublicKey.cUnusedBits = 0;
  std::memcpy(base + keyAt, rsaKey.data(), rsaKey.size());
  *pcbInfo = static_cast<DWORD>(layout.size());
  return TRUE;
}
