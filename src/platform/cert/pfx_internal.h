// Shared pieces of the PKCS#12 import and export calls.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <openssl/pkcs12.h>

#include "ossl/owned.h"

#include <memory>
#include <string>
#include <vector>

namespace kv::platform::cert {

// Private key bytes (a key blob or DER), wiped when they go.
struct WipedBytes {
  std::vector<BYTE> bytes;

  WipedBytes() = default;
  WipedBytes(WipedBytes&& other) noexcept : bytes(std::move(other.bytes)) {}
  WipedBytes& operator=(WipedBytes&& other) noexcept {
    Wipe();
    bytes = std::move(other.bytes);
    return *this;
  }
  ~WipedBytes() { Wipe(); }
  void Wipe() {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
  }
};

// A PKCS#12 password: the null password (no bytes at all) differs from the
// empty one (a lone BMP terminator).
struct PfxPassword {
  bool isNull = true;
  std::string utf8;

  bool FromWide(LPCWSTR password);
  const char* data() const { return isNull ? nullptr : utf8.c_str(); }
  int length() const { return isNull ? 0 : static_cast<int>(utf8.size()); }
  bool HasNonAscii() const;
  PfxPassword Latin1Variant() const;
};

// Decodes a PFX image (BER accepted); null when it is not one.
Pkcs12Ptr ParsePfx(const CRYPT_DATA_BLOB* blob);
// Checks the MAC (a file without one passes); `used` gets the form of the password that matched.
bool VerifyPfxMac(PKCS12* p12, const PfxPassword& password, PfxPassword* used);

}  // namespace kv::platform::cert
