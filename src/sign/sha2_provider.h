// SHA-2 signatures with keys of the RSA providers of type PROV_RSA_FULL,
// which know no SHA-2 hash: the AES-capable provider (PROV_RSA_AES) shares
// their key containers, so the same key signs there.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace kv::sign {

// Opens the container of `keyProv` through the AES-capable provider; the
// caller releases *sha2Prov. False with the platform's last error.
bool AcquireSha2Provider(HCRYPTPROV keyProv, HCRYPTPROV* sha2Prov);

// CryptCreateHash on `prov`; when that provider refuses a SHA-2 algorithm
// (NTE_BAD_ALGID), on the AES-capable provider of the same container, which
// is then left in *sha2Prov for the caller to release after the hash. A
// failure keeps the first refusal as the last error.
BOOL CreateHashForKey(HCRYPTPROV prov, ALG_ID algorithm, HCRYPTHASH* hash, HCRYPTPROV* sha2Prov);

}  // namespace kv::sign
