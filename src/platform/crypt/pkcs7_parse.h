// Parsing of PKCS#7 ContentInfo for the message calls, with the CryptoAPI
// error numbers for malformed input. BER (indefinite lengths, constructed
// strings) is accepted as OpenSSL reads it.
#pragma once

#include <openssl/pkcs7.h>

#include <windows.h>

#include <memory>

#include "ossl/owned.h"

namespace kv::platform::crypt {


// Parses a ContentInfo. On failure returns null and sets *error to
// CRYPT_E_ASN1_BADTAG (not a ContentInfo), CRYPT_E_ASN1_EOD (truncated),
// CRYPT_E_ASN1_CORRUPT or CRYPT_E_INVALID_MSG_TYPE (unknown content type).
Pkcs7Ptr ParseContentInfo(const BYTE* data, size_t size, DWORD* error);

// The CMSG_* type of a parsed message; 0 when unknown.
DWORD MessageType(const PKCS7* p7);

}  // namespace kv::platform::crypt
