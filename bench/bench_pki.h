// Certificates and strings the benchmarks build their fixtures from: a
// certificate of a given key, issued by another (or self-signed), made by
// the tests' certificate builder, and the engine's string arguments from
// plain ASCII.
#pragma once

#include <windows.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

#include "support/test_pki.h"

namespace kv::bench {

// A new BSTR holding `text`, which is ASCII.
inline BSTR Ascii(const std::string& text) {
  std::u16string wide(text.begin(), text.end());
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
}

// A version-3 certificate for `key` valid from yesterday for a year, signed
// by `issuerKey` under `issuer`'s name (its own name when `issuer` is null).
inline X509* MakeCert(const char* cn, long serial, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
  kv::test::CertSpec spec;
  spec.subject = {{"CN", cn}};
  spec.serial.clear();
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!spec.serial.empty() || (serial >> shift) & 0xFF) spec.serial.push_back(static_cast<uint8_t>(serial >> shift));
  return kv::test::BuildCert(spec, key, issuer, issuerKey);
}

}  // namespace kv::bench
