// ContentInfo parsing with CryptoAPI errors.
#include "crypt/pkcs7_parse.h"

#include <openssl/objects.h>

#include <wincrypt.h>

namespace kv::platform::crypt {
namespace {

// Reads one BER header; false when the bytes end inside it. `length` is
// SIZE_MAX for an indefinite length.
bool ReadHeader(const BYTE* p, size_t size, BYTE* tag, size_t* headerLen, size_t* length) {
  if (size < 2) return false;
  *tag = p[0];
  if (p[1] < 0x80) {
    *headerLen = 2;
    *length = p[1];
    return true;
  }
  size_t n = p[1] & 0x7F;
  if (n == 0) {
    *headerLen = 2;
    *length = SIZE_MAX;
    return true;
  }
  if (n > 4 || size < 2 + n) return false;
  size_t len = 0;
  for (size_t i = 0; i < n; ++i) len = (len << 8) | p[2 + i];
  *headerLen = 2 + n;
  *length = len;
  return true;
}

}  // namespace

Pkcs7Ptr ParseContentInfo(const BYTE* data, size_t size, DWORD* error) {
  BYTE tag = 0;
  size_t header = 0, length = 0;
  if (!ReadHeader(data, size, &tag, &header, &length)) {
    *error = static_cast<DWORD>(size && data[0] != 0x30 ? CRYPT_E_ASN1_BADTAG : CRYPT_E_ASN1_EOD);
    return nullptr;
  }
  if (tag != 0x30) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  if (length != SIZE_MAX && length > size - header) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_EOD);
    return nullptr;
  }
  // A ContentInfo starts with its content type; a certificate (a SEQUENCE
  // inside a SEQUENCE) is not a message.
  if (size - header < 1 || data[header] != 0x06) {
    *error = static_cast<DWORD>(size - header < 1 ? CRYPT_E_ASN1_EOD : CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  const unsigned char* p = data;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  if (!p7) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    return nullptr;
  }
  Pkcs7Ptr owned(p7);
  if (MessageType(p7) == 0) {
    *error = static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE);
    return nullptr;
  }
  *error = 0;
  return owned;
}

DWORD MessageType(const PKCS7* p7) {
  switch (OBJ_obj2nid(p7->type)) {
    case NID_pkcs7_data: return 1;
    case NID_pkcs7_signed: return 2;
    case NID_pkcs7_enveloped: return 3;
    case NID_pkcs7_signedAndEnveloped: return 4;
    case NID_pkcs7_digest: return 5;
    case NID_pkcs7_encrypted: return 6;
    default: return 0;
  }
}

}  // namespace kv::platform::crypt
