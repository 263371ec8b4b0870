// Provider loading for OpenSSL 3.
#include "crypt/openssl_setup.h"

#include <openssl/provider.h>

#include <cstdlib>
#include <mutex>

namespace kv::platform::crypt {

bool EnsureLegacyCiphers() {
  static std::once_flag once;
  static bool legacyLoaded = false;
  static OSSL_PROVIDER* defaultProvider = nullptr;
  static OSSL_PROVIDER* legacyProvider = nullptr;
  std::call_once(once, [] {
    // Loading any provider explicitly stops OpenSSL from loading the default
    // one on demand, so both are loaded. They are unloaded at exit, before
    // OpenSSL's own clean-up, so that nothing of the legacy module is left.
    defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
    legacyLoaded = legacyProvider != nullptr;
    std::atexit([] {
      if (legacyProvider) OSSL_PROVIDER_unload(legacyProvider);
      if (defaultProvider) OSSL_PROVIDER_unload(defaultProvider);
    });
  });
  return legacyLoaded;
}

}  // namespace kv::platform::crypt
