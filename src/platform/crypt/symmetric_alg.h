// The session-key algorithms the provider serves and their OpenSSL ciphers.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>

#include <vector>

namespace kv::platform::crypt {

struct SymmetricAlg {
  ALG_ID algId;
  DWORD keyBytes;    // key length in a PLAINTEXTKEYBLOB
  DWORD keyLenBits;  // what KP_KEYLEN reports
  DWORD blockBytes;  // 0 for a stream cipher
};

// The algorithm's description; null when it is not a session-key algorithm we serve.
const SymmetricAlg* FindSymmetricAlg(ALG_ID algId);
// Key length accepted for `algId` (RC4 takes 5 to 16 bytes).
bool SymmetricKeyLengthOk(const SymmetricAlg& alg, size_t bytes);
// The key bytes given to OpenSSL: two-key triple-DES becomes K1 K2 K1.
std::vector<BYTE> CipherKeyBytes(const SymmetricAlg& alg, const std::vector<BYTE>& key);
// The OpenSSL cipher for the algorithm in a KP_MODE; null when not available.
const EVP_CIPHER* SymmetricCipher(const SymmetricAlg& alg, DWORD mode, size_t keyBytes);

}  // namespace kv::platform::crypt
