// Loading of the default and legacy OpenSSL providers for PKCS#12.
#include "cert/pfx_providers.h"

#include <openssl/provider.h>

#include <cstdlib>
#include <mutex>

namespace kv::platform::cert {

namespace {

OSSL_PROVIDER* g_default = nullptr;
OSSL_PROVIDER* g_legacy = nullptr;

void Unload() {
  // Runs before OpenSSL's own clean-up, which was registered earlier.
  if (g_legacy) OSSL_PROVIDER_unload(g_legacy);
  if (g_default) OSSL_PROVIDER_unload(g_default);
  g_legacy = g_default = nullptr;
}

}  // namespace

bool EnsurePfxAlgorithms() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Loading a provider explicitly stops the implicit default one, so both are loaded.
    g_default = OSSL_PROVIDER_load(nullptr, "default");
    g_legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    std::atexit(Unload);
  });
  return g_legacy != nullptr;
}

}  // namespace kv::platform::cert
