// PKCS#10 requests through the platform's encoder and signer.
#include "keys/request_text.h"

#include <vector>

#include "codec/byte_buffer.h"
#include "kvseam/owned_handles.h"
#include "sign/machine_digest.h"
#include "sign/sha2_provider.h"

namespace kv::keys {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Room that holds a request, its public-key information or its name for
// every key size the providers make and any common name a page sends.
constexpr DWORD kUsualSize = 8192;

// The size-then-data protocol of the platform's encoders, starting with a
// buffer that is usually big enough: the key is read from its container on
// every call, and a size query of the signed request would sign once more,
// so the common case takes one call; a larger result takes a second one.
template <typename Call>
bool TwoStep(std::vector<BYTE>* out, DWORD* error, Call call) {
  DWORD size = kUsualSize;
  out->assign(size, 0);
  if (call(out->data(), &size)) {
    out->resize(size);
    return true;
  }
  if (GetLastError() != ERROR_MORE_DATA) {
    *error = GetLastError();
    return false;
  }
  // The failed call said how much it needs.
  out->assign(size, 0);
  if (!call(out->data(), &size)) {
    *error = GetLastError();
    return false;
  }
  out->resize(size);
  return true;
}

}  // namespace

ErrorCode BuildRequestText(HCRYPTPROV prov, DWORD keySpec, const std::u16string& commonName, std::string* text,
                           DWORD* error) {
  text->clear();
  *error = 0;
  // The name keeps every character of the caller's UTF-16 text.
  CERT_RDN_ATTR attr{};
  attr.pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
  attr.dwValueType = CERT_RDN_UNICODE_STRING;
  attr.Value.cbData = static_cast<DWORD>(commonName.size() * sizeof(WCHAR));
  attr.Value.pbData = reinterpret_cast<BYTE*>(const_cast<char16_t*>(commonName.data()));
  CERT_RDN rdn{1, &attr};
  CERT_NAME_INFO nameInfo{1, &rdn};
  std::vector<BYTE> subject;
  if (!TwoStep(&subject, error, [&](BYTE* out, DWORD* size) {
        return CryptEncodeObject(kEncoding, X509_NAME, &nameInfo, out, size);
      }))
    return ERR_KEY_GENERATE;

  std::vector<BYTE> keyInfo;
  if (!TwoStep(&keyInfo, error, [&](BYTE* out, DWORD* size) {
        return CryptExportPublicKeyInfo(prov, keySpec, kEncoding, reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(out), size);
      }))
    return ERR_KEY_GENERATE;

  // The request is put together from encodings every platform offers (one
  // known platform lacks an encoder for the whole request info): the
  // CertificationRequestInfo as a SEQUENCE OF ANY of its encoded fields, its
  // signature from CryptSignCertificate, and the request as X509_CERT, whose
  // SEQUENCE { toBeSigned, signatureAlgorithm, signature } is a request's too.
  std::vector<BYTE> publicKey;
  if (!TwoStep(&publicKey, error, [&](BYTE* out, DWORD* size) {
        return CryptEncodeObject(kEncoding, X509_PUBLIC_KEY_INFO, keyInfo.data(), out, size);
      }))
    return ERR_KEY_GENERATE;
  BYTE version[] = {0x02, 0x01, 0x00};  // INTEGER 0: version 1
  BYTE noAttributes[] = {0xA0, 0x00};   // [0] IMPLICIT SET OF Attribute, empty
  CRYPT_DER_BLOB fields[] = {{sizeof version, version},
                             {static_cast<DWORD>(subject.size()), subject.data()},
                             {static_cast<DWORD>(publicKey.size()), publicKey.data()},
                             {sizeof noAttributes, noAttributes}};
  CRYPT_SEQUENCE_OF_ANY requestInfo{4, fields};
  std::vector<BYTE> toBeSigned;
  if (!TwoStep(&toBeSigned, error, [&](BYTE* out, DWORD* size) {
        return CryptEncodeObject(kEncoding, X509_SEQUENCE_OF_ANY, &requestInfo, out, size);
      }))
    return ERR_KEY_GENERATE;

  // The administrator's SHA-256 default covers requests too; a provider
  // without SHA-2 signs through the AES-capable one on the same container.
  const bool sha256 = kv::sign::MachineDefaultsToSha256();
  CRYPT_ALGORITHM_IDENTIFIER algorithm{};
  algorithm.pszObjId = const_cast<LPSTR>(sha256 ? szOID_RSA_SHA256RSA : szOID_RSA_SHA1RSA);
  std::vector<BYTE> signature;
  auto signWith = [&](HCRYPTPROV signer) {
    return TwoStep(&signature, error, [&](BYTE* out, DWORD* size) {
      return CryptSignCertificate(signer, keySpec, kEncoding, toBeSigned.data(),
                                  static_cast<DWORD>(toBeSigned.size()), &algorithm, nullptr, out, size);
    });
  };
  if (!signWith(prov)) {
    HCRYPTPROV sha2Prov = 0;
    const bool acquired = sha256 && *error == static_cast<DWORD>(NTE_BAD_ALGID) &&
                          kv::sign::AcquireSha2Provider(prov, &sha2Prov);
    const kv::OwnedProvider sha2(acquired ? sha2Prov : 0);
    if (!acquired || !signWith(sha2Prov)) return ERR_KEY_GENERATE;
  }

  CERT_SIGNED_CONTENT_INFO request{};
  request.ToBeSigned = {static_cast<DWORD>(toBeSigned.size()), toBeSigned.data()};
  request.SignatureAlgorithm = algorithm;
  request.Signature = {static_cast<DWORD>(signature.size()), signature.data(), 0};
  std::vector<BYTE> signedRequest;
  if (!TwoStep(&signedRequest, error, [&](BYTE* out, DWORD* size) {
        return CryptEncodeObject(kEncoding, X509_CERT, &request, out, size);
      }))
    return ERR_KEY_GENERATE;

  CByteBuffer base64;
  if (!base64.EncodeBase64(signedRequest.data(), static_cast<int32_t>(signedRequest.size()))) {
    *error = GetLastError();
    return ERR_MEM_ALLOC;
  }
  text->assign(base64.c_str(), static_cast<size_t>(base64.Size()));
  return ERR_SUCCESS;
}

}  // namespace kv::keys
