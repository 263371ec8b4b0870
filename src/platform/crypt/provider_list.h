// The cryptographic providers a default Windows installation lists, and
// which of them this stand-in serves.
#pragma once

#include <windows.h>

#include <string>

namespace kv::platform::crypt {

enum class ProviderSupport {
  kRsa,        // served by our RSA implementation
  kSmartCard,  // listed, but no card reader is attached
  kToken,      // keys on PKCS#11 tokens (crypt/token_keys.h)
  kAbsent,     // listed (DSS, Diffie-Hellman), not implemented here
};

// The stand-in's own smart-card provider: its keys live on the tokens of the
// PKCS#11 modules p11-kit configures, one container per key.
inline constexpr const char kTokenProviderName[] = "PKCS #11 Smart Card Provider";

struct ProviderEntry {
  const char* name;
  DWORD type;
  ProviderSupport support;
};

// Entries in the order Windows enumerates them (alphabetical); null past the end.
const ProviderEntry* ProviderAt(DWORD index);
// The entry whose name matches, ignoring case; null when not installed.
const ProviderEntry* FindProvider(const std::string& name);
// The default provider of a type; null when the type has none.
const ProviderEntry* DefaultProvider(DWORD type);

}  // namespace kv::platform::crypt
