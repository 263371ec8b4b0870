// Hash objects shared by the hash, cipher and signing calls.
#pragma once

#include "crypt/crypt_objects.h"

namespace kv::platform::crypt {

// Digest size of a hash algorithm we serve; 0 otherwise.
DWORD HashSize(ALG_ID algId);
// Feeds data into an unfinished hash; sets NTE_BAD_HASH_STATE once its value
// has been read or set.
BOOL HashBytes(Hash& hash, const BYTE* data, DWORD size);
// Finishes the hash (once) and returns its value.
const std::vector<BYTE>& HashValue(Hash& hash);
// The OpenSSL digest whose DigestInfo a signature of `algId` carries; null for
// CALG_SSL3_SHAMD5, which is signed bare.
const EVP_MD* SignatureDigest(ALG_ID algId);

}  // namespace kv::platform::crypt
