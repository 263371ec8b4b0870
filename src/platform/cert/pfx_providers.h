// OpenSSL providers for PKCS#12: the legacy algorithms (RC2, RC4, DES and
// the old PBE schemes) next to the default ones, loaded once and unloaded
// when the process exits so nothing is left behind.
#pragma once

namespace kv::platform::cert {

// False when the legacy provider is missing (files using its ciphers then fail to open).
bool EnsurePfxAlgorithms();

}  // namespace kv::platform::cert
