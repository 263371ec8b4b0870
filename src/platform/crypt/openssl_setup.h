// OpenSSL set-up shared by the provider and message calls: the legacy
// provider (DES, RC2 and RC4 live there in OpenSSL 3) next to the default
// one, and small owning wrappers.
#pragma once

#include <openssl/evp.h>

#include <memory>

namespace kv::platform::crypt {

// Loads the default and legacy providers once per process. Returns false when
// the legacy provider is missing (DES and RC4 are then unavailable).
bool EnsureLegacyCiphers();

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// A shared, reference-counted EVP_PKEY (EVP_PKEY_up_ref semantics).
using SharedPkey = std::shared_ptr<EVP_PKEY>;
inline SharedPkey ShareKey(EVP_PKEY* owned) { return SharedPkey(owned, EVP_PKEY_free); }

}  // namespace kv::platform::crypt
