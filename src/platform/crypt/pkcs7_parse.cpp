// ContentInfo parsing with CryptoAPI errors.
#include "crypt/pkcs7_parse.h"

#include <openssl/objects.h>

#include <wincrypt.h>

#include <string>

#include "der/der_span.h"

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

constexpr char kEnvelopedOid[] = "1.2.840.113549.1.7.3";

// The CMSG_* type of a message OpenSSL parsed; 0 when unknown.
DWORD MessageType(const PKCS7* p7) {
  switch (OBJ_obj2nid(p7->type)) {
    case NID_pkcs7_data: return CMSG_DATA;
    case NID_pkcs7_signed: return CMSG_SIGNED;
    case NID_pkcs7_enveloped: return CMSG_ENVELOPED;
    case NID_pkcs7_signedAndEnveloped: return CMSG_SIGNED_AND_ENVELOPED;
    case NID_pkcs7_digest: return CMSG_HASHED;
    case NID_pkcs7_encrypted: return CMSG_ENCRYPTED;
    default: return 0;
  }
}

}  // namespace

bool ParseMessage(const BYTE* data, size_t size, ParsedMessage* out, DWORD* error) {
  *out = ParsedMessage();
  BYTE tag = 0;
  size_t header = 0, length = 0;
  if (!ReadHeader(data, size, &tag, &header, &length)) {
    *error = static_cast<DWORD>(size && data[0] != 0x30 ? CRYPT_E_ASN1_BADTAG : CRYPT_E_ASN1_EOD);
    return false;
  }
  if (tag != 0x30) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
    return false;
  }
  if (length != SIZE_MAX && length > size - header) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_EOD);
    return false;
  }
  // A ContentInfo starts with its content type; a certificate (a SEQUENCE
  // inside a SEQUENCE) is not a message.
  der::Span rest(data + header, size - header), typeOid;
  std::string type;
  if (!rest.Read(der::kOid, &typeOid)) {
    *error = static_cast<DWORD>(rest.error());
    return false;
  }
  if (der::OidToText(typeOid, &type) && type == kEnvelopedOid) {
    auto envelope = std::make_unique<Envelope>();
    if (!ReadEnvelope(data, size, envelope.get(), error)) return false;
    out->type = CMSG_ENVELOPED;
    out->envelope = std::move(envelope);
    *error = 0;
    return true;
  }
  const unsigned char* p = data;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  if (!p7) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    return false;
  }
  out->p7.reset(p7);
  out->type = MessageType(p7);
  if (out->type == 0) {
    out->p7.reset();
    out->type = 0;
    *error = static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE);
    return false;
  }
  *error = 0;
  return true;
}

}  // namespace kv::platform::crypt
