// Parsing of PKCS#7 / CMS ContentInfo for the message calls, with the CryptoAPI
// error numbers for malformed input. BER (indefinite lengths, constructed
// strings) is accepted as OpenSSL reads it.
#pragma once

#include <openssl/pkcs7.h>

#include <windows.h>

#include <memory>

#include "crypt/envelope_parse.h"
#include "ossl/owned.h"

namespace kv::platform::crypt {

// A decoded message: EnvelopedData is read as CMS (both kinds of recipient
// name), every other type by OpenSSL's PKCS#7 codec.
struct ParsedMessage {
  DWORD type = 0;                      // CMSG_*
  Pkcs7Ptr p7;                         // every type but enveloped data
  std::unique_ptr<Envelope> envelope;  // enveloped data
};

// Parses a ContentInfo. On failure returns false and sets *error to
// CRYPT_E_ASN1_BADTAG (not a ContentInfo), CRYPT_E_ASN1_EOD (truncated),
// CRYPT_E_ASN1_CORRUPT or CRYPT_E_INVALID_MSG_TYPE (unknown content type).
bool ParseMessage(const BYTE* data, size_t size, ParsedMessage* out, DWORD* error);

}  // namespace kv::platform::crypt
