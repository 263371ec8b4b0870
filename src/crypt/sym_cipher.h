// CSymCipher: DES and triple-DES in a chosen mode with a caller's raw key,
// run by the platform's enhanced RSA provider on an imported plain-text key.
// The result of Encrypt or Decrypt replaces the buffer's content. The IV is
// eight zero bytes and never changes, which the peers that read these
// ciphertexts rely on (equal texts under equal keys give equal ciphertexts).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "codec/byte_buffer.h"
#include "kvseam/owned_handles.h"

class CSymCipher : public CByteBuffer {
 public:
  static constexpr DWORD kBlockSize = 8;

  CSymCipher() = default;
  ~CSymCipher() override;
  CSymCipher(const CSymCipher&) = delete;
  CSymCipher& operator=(const CSymCipher&) = delete;

  // CALG_DES, CALG_3DES or CALG_3DES_112; anything else leaves CALG_DES.
  void SetAlgorithm(ALG_ID algId);
  // 1 to 4 (KP_MODE values); anything else leaves CRYPT_MODE_CBC.
  void SetMode(DWORD mode);
  // Copies the key; a null pointer or length below 1 only discards the old one.
  void SetKey(const BYTE* bytes, int32_t length);

  // With PKCS#5 padding by the provider: the ciphertext is a whole number of
  // blocks, one to eight bytes longer than the input.
  bool Encrypt(const BYTE* data, int32_t length);
  // Fails on a length that is no whole number of blocks and on padding that
  // does not check (a wrong key or damaged data, in most cases).
  bool Decrypt(const BYTE* data, int32_t length);

  ALG_ID Algorithm() const { return m_algId; }
  DWORD Mode() const { return m_mode; }
  DWORD LastError() const { return m_lastError; }

 private:
  // Acquires the provider and imports the key with its IV and mode.
  bool SetUp();
  void Release();
  bool RecordFailure();

  DWORD m_mode = CRYPT_MODE_CBC;
  ALG_ID m_algId = CALG_DES;
  DWORD m_lastError = 0;
  kv::OwnedProvider m_provider;
  kv::OwnedKey m_key;  // declared after the provider: destroyed before it
  BYTE m_iv[kBlockSize] = {};
  std::vector<BYTE> m_keyBytes;
};
