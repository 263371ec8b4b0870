// Loading of the default and legacy OpenSSL providers.
#include "ossl/providers.h"

#include <openssl/provider.h>

#include <cstdlib>
#include <mutex>

namespace kv::platform {

namespace {

OSSL_PROVIDER* g_default = nullptr;
OSSL_PROVIDER* g_legacy = nullptr;

void Unload() {
  // Runs before OpenSSL's own clean-up, which was registered earlier, so
  // nothing of the legacy module is left behind.
  if (g_legacy) OSSL_PROVIDER_unload(g_legacy);
  if (g_default) OSSL_PROVIDER_unload(g_default);
  g_legacy = g_default = nullptr;
}

}  // namespace

bool EnsureLegacyProviders() {
  static std::once_flag once;
  static bool legacyLoaded = false;
  std::call_once(once, [] {
    // Loading any provider explicitly stops OpenSSL from loading the default
    // one on demand, so both are loaded.
    g_default = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    legacyLoaded = g_legacy != nullptr;
    std::atexit(Unload);
  });
  return legacyLoaded;
}

}  // namespace kv::platform
