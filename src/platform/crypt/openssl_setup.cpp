// Provider loading for OpenSSL 3.
#include "crypt/openssl_setup.h"

#include <openssl/provider.h>

#include <mutex>

namespace kv::platform::crypt {

bool EnsureLegacyCiphers() {
  static std::once_flag once;
  static bool legacyLoaded = false;
  std::call_once(once, [] {
    // Loading any provider explicitly stops OpenSSL from loading the default
    // one on demand, so both are loaded; they stay for the process lifetime.
    OSSL_PROVIDER_load(nullptr, "default");
    legacyLoaded = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr;
  });
  return legacyLoaded;
}

}  // namespace kv::platform::crypt
