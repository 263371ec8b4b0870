// PKCS#10 requests through the platform's encoder and signer.
#include "keys/request_text.h"

#include <vector>

#include "codec/byte_buffer.h"

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

  CERT_REQUEST_INFO request{};
  request.dwVersion = CERT_REQUEST_V1;
  request.Subject.cbData = static_cast<DWORD>(subject.size());
  request.Subject.pbData = subject.data();
  request.SubjectPublicKeyInfo = *reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(keyInfo.data());
  CRYPT_ALGORITHM_IDENTIFIER algorithm{};
  algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA1RSA);
  std::vector<BYTE> signedRequest;
  if (!TwoStep(&signedRequest, error, [&](BYTE* out, DWORD* size) {
        return CryptSignAndEncodeCertificate(prov, keySpec, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, &request,
                                             &algorithm, nullptr, out, size);
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
