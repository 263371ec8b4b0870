// CDesCipher: the engine's own DES and triple-DES encryption (CBC, zero IV,
// PKCS#5 padding always present); the ciphertext becomes the buffer's content.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "codec/byte_buffer.h"
#include "des/des_core.h"

class CDesCipher : public CByteBuffer {
 public:
  CDesCipher() = default;
  ~CDesCipher() override;

  // CALG_DES, CALG_3DES or CALG_3DES_112; anything else selects CALG_DES.
  void SetAlgorithm(ALG_ID algId);
  ALG_ID Algorithm() const { return m_algId; }
  DWORD Mode() const { return m_mode; }

  // Copies the raw key (8, 16 or 24 bytes); null or a length below 1 only
  // discards the old key.
  void SetKey(const void* bytes, int32_t length);

  // Replaces the content with the ciphertext of `length` bytes. False, with
  // an empty buffer, for null data, a length of 0 or less, or a key too short
  // for the algorithm.
  [[nodiscard]] bool Encrypt(const void* data, int32_t length);

 private:
  DWORD m_mode = 1;  // CBC
  ALG_ID m_algId = CALG_DES;
  std::vector<BYTE> m_keyBytes;
  BYTE m_iv[8] = {};
  kv::des::Schedule m_schedules[3] = {};
  BYTE m_chain[8] = {};
};
