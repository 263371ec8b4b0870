// The mobile key record: an RSA private key, its certificate and a few of the
// certificate's fields in the fixed layout the receiving phone application
// reads, encrypted with triple-DES under a key derived from a password.
//
// Layout (integers unsigned 32-bit big-endian; L the modulus length in bits):
//   "VELK", L, E, N (L/8), P, Q, DP, DQ, QP (L/16 each), D (L/8),
//   n, common name (n bytes, ANSI code page), s, serial (s bytes, most
//   significant first), SHA-1 thumbprint (20), validity start and end (14
//   each, local time "YYYYMMDDhhmmss"), c, certificate DER (c bytes).
// Total 72 + 9L/16 + n + s + c bytes. Encryption: three-key triple-DES, CBC,
// zero IV, PKCS#5 padding; key SHA-1(password) || "QMZB".
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "codec/byte_buffer.h"
#include "vocabulary/error_codes.h"

namespace kv::keys {

// A byte buffer for key material: its content is wiped before it is freed.
class CSecretBuffer : public CByteBuffer {
 public:
  ~CSecretBuffer() override { Wipe(); }
  void Wipe() {
    if (Data()) SecureZeroMemory(Data(), static_cast<SIZE_T>(Size()));
    Clear();
  }
};

// The private key behind `provider` as a PRIVATEKEYBLOB: 0, ERR_NO_PRIVATE_KEY
// (5204) when the key cannot be opened, ERR_KEY_NOT_EXPORTABLE (5205) when it
// will not leave the provider; `error` receives the platform error.
ErrorCode ExportPrivateKeyBlob(HCRYPTPROV provider, DWORD keySpec, CSecretBuffer* blob, DWORD* error);

// The plain record of `certificate` and the RSA private-key blob. False when
// the blob is not a whole RSA private key.
bool LayOutMobileKeyRecord(PCCERT_CONTEXT certificate, const CByteBuffer& blob, CSecretBuffer* record);

// The encrypted record as one line of Base64: 0, ERR_DIGEST (5035) when the
// password cannot be digested, ERR_ENCRYPT (5063) for anything else (no
// certificate, no blob, a blob that is not an RSA private key).
ErrorCode BuildMobileKeyRecord(PCCERT_CONTEXT certificate, const std::string& password, const CByteBuffer& blob,
                               std::string* base64);

}  // namespace kv::keys
