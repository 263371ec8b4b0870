// The request text of a key: a PKCS#10 CertificationRequest for a subject of
// one common name (a BMPString), signed with SHA-1 and RSA by the key in the
// provider (SHA-256 under the machine's SHA-256 default), DER in one line of
// Base64.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "vocabulary/error_codes.h"

namespace kv::keys {

// ERR_SUCCESS and the text in *text; ERR_KEY_GENERATE with the platform
// error when the request cannot be encoded or signed; ERR_MEM_ALLOC when
// the Base64 text cannot be made.
ErrorCode BuildRequestText(HCRYPTPROV prov, DWORD keySpec, const std::u16string& commonName, std::string* text,
                           DWORD* error);

}  // namespace kv::keys
