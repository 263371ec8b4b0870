// OpenSSL 3 providers of the stand-in: the legacy one (DES, RC2, RC4 and the
// old PKCS#12 PBE schemes live there) next to the default one, loaded once
// per process for the crypt and PKCS#12 calls alike.
#pragma once

namespace kv::platform {

// Loads the default and legacy providers once. False when the legacy
// provider is missing (its ciphers, and files that use them, then fail).
bool EnsureLegacyProviders();

}  // namespace kv::platform
