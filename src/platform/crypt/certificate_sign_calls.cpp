// CryptSignCertificate and CryptSignAndEncodeCertificate for PKCS#10
// requests: the to-be-signed bytes hashed and signed by the provider's key.
#include "crypt/crypt_objects.h"
#include "crypt/encode_structures.h"
#include "crypt/out_buffer.h"

namespace kv::platform::crypt {
namespace {

// Signature room for the largest RSA key CryptGenKey makes (16384 bits).
constexpr DWORD kMaxSignatureBytes = 16384 / 8;

ALG_ID HashOfSignatureOid(const char* oid) {
  if (!oid) return 0;
  std::string s(oid);
  if (s == "1.2.840.113549.1.1.4") return CALG_MD5;
  if (s == "1.2.840.113549.1.1.5" || s == "1.3.14.3.2.29") return CALG_SHA1;
  if (s == "1.2.840.113549.1.1.11") return CALG_SHA_256;
  if (s == "1.2.840.113549.1.1.12") return CALG_SHA_384;
  if (s == "1.2.840.113549.1.1.13") return CALG_SHA_512;
  return 0;
}

// Signs encoded to-be-signed bytes with the provider's key, the hash taken
// from the signature algorithm; the signature least significant byte first.
// Without `sign` only its length is learned (a size query), which the key's
// size fixes, so the private-key operation is left for the call that keeps
// the result. Errors are the provider's (no key, bad algorithm), set as the
// thread's last error.
bool SignToBeSigned(HCRYPTPROV prov, DWORD keySpec, const BYTE* tbs, DWORD tbsSize,
                    const CRYPT_ALGORITHM_IDENTIFIER& algorithm, bool sign, Bytes* signature) {
  if (!LiveProvider(prov)) return false;
  ALG_ID hashAlg = HashOfSignatureOid(algorithm.pszObjId);
  if (!hashAlg) return Fail(NTE_BAD_ALGID);
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(prov, hashAlg, 0, 0, &hash)) return false;
  // Room for the largest key the provider makes, so the key is read once.
  DWORD size = kMaxSignatureBytes;
  signature->assign(size, 0);
  bool ok = CryptHashData(hash, tbs, tbsSize, 0) &&
            CryptSignHashA(hash, keySpec, nullptr, 0, sign ? signature->data() : nullptr, &size);
  if (!ok && sign && GetLastError() == ERROR_MORE_DATA) {
    // An imported key larger still.
    signature->assign(size, 0);
    ok = CryptSignHashA(hash, keySpec, nullptr, 0, signature->data(), &size);
  }
  DWORD savedError = GetLastError();
  CryptDestroyHash(hash);
  if (!ok) return Fail(savedError);
  signature->resize(size);
  return true;
}

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
namespace der = kv::der;

extern "C" BOOL WINAPI CryptSignCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
                                            DWORD dwCertEncodingType, const BYTE* pbEncodedToBeSigned,
                                            DWORD cbEncodedToBeSigned, PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm,
                                            const void* pvHashAuxInfo, BYTE* pbSignature, DWORD* pcbSignature) {
  (void)pvHashAuxInfo;
  (void)dwCertEncodingType;  // the signature does not depend on it
  if (!pcbSignature || !pSignatureAlgorithm || (!pbEncodedToBeSigned && cbEncodedToBeSigned)) {
    return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  Bytes signature;
  if (!SignToBeSigned(hCryptProvOrNCryptKey, dwKeySpec, pbEncodedToBeSigned, cbEncodedToBeSigned,
                      *pSignatureAlgorithm, pbSignature != nullptr, &signature)) {
    return FALSE;
  }
  return ReturnBytes(signature, pbSignature, pcbSignature);
}

extern "C" BOOL WINAPI CryptSignAndEncodeCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                                     DWORD dwKeySpec, DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                                     const void* pvStructInfo,
                                                     PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm,
                                                     const void* pvHashAuxInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
  (void)pvHashAuxInfo;
  if (!pcbEncoded) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (StructId(lpszStructType) != 4) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (!pvStructInfo || !pSignatureAlgorithm) return Fail(static_cast<DWORD>(E_INVALIDARG));
  Bytes tbs;
  DWORD error = 0;
  const auto& info = *static_cast<const CERT_REQUEST_INFO*>(pvStructInfo);
  if (!Encode([&](der::Builder* b) { return EncodeRequestInfo(info, b, &error); }, &tbs, &error)) return Fail(error);
  Bytes signature;
  if (!SignToBeSigned(hCryptProvOrNCryptKey, dwKeySpec, tbs.data(), static_cast<DWORD>(tbs.size()),
                      *pSignatureAlgorithm, pbEncoded != nullptr, &signature)) {
    return FALSE;
  }
  CERT_SIGNED_CONTENT_INFO content{};
  content.ToBeSigned = {static_cast<DWORD>(tbs.size()), tbs.data()};
  content.SignatureAlgorithm = *pSignatureAlgorithm;
  content.Signature = {static_cast<DWORD>(signature.size()), signature.data(), 0};
  Bytes encoded;
  if (!Encode([&](der::Builder* b) { return EncodeSignedContent(content, b, &error); }, &encoded, &error)) {
    return Fail(error);
  }
  return ReturnBytes(encoded, pbEncoded, pcbEncoded);
}
