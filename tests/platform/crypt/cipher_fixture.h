// The session-key tests' fixture: a verify-only context of the enhanced
// provider, keys imported from hex as plain-text blobs, and encryption block
// by block as the symmetric operation does it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_home.h"

namespace kv::test::crypt {

inline std::vector<BYTE> FromHex(const std::string& hex) {
  std::vector<BYTE> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::vector<BYTE> PlainKeyBlob(ALG_ID alg, const std::vector<BYTE>& key) {
  std::vector<BYTE> blob = {PLAINTEXTKEYBLOB, 2, 0, 0};
  for (int i = 0; i < 4; ++i) blob.push_back(static_cast<BYTE>(alg >> (8 * i)));
  DWORD size = static_cast<DWORD>(key.size());
  for (int i = 0; i < 4; ++i) blob.push_back(static_cast<BYTE>(size >> (8 * i)));
  blob.insert(blob.end(), key.begin(), key.end());
  return blob;
}

class CipherTest : public HomeTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CryptAcquireContextA(&prov_, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  }
  void TearDown() override { CryptReleaseContext(prov_, 0); }
  HCRYPTKEY Import(ALG_ID alg, const std::string& keyHex, const std::string& ivHex, DWORD mode = CRYPT_MODE_CBC) {
    std::vector<BYTE> blob = PlainKeyBlob(alg, FromHex(keyHex));
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptImportKey(prov_, blob.data(), (DWORD)blob.size(), 0, 0, &key));
    std::vector<BYTE> iv = FromHex(ivHex);
    EXPECT_TRUE(CryptSetKeyParam(key, KP_IV, iv.data(), 0));
    EXPECT_TRUE(CryptSetKeyParam(key, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0));
    return key;
  }
  // Encrypts the way the symmetric operation does: full blocks not final,
  // then the rest with final = TRUE.
  std::vector<BYTE> EncryptBlockwise(HCRYPTKEY key, const std::vector<BYTE>& plain) {
    std::vector<BYTE> out;
    size_t full = plain.size() / 8 * 8;
    for (size_t at = 0; at < full; at += 8) {
      BYTE block[8];
      std::memcpy(block, plain.data() + at, 8);
      DWORD len = 8;
      EXPECT_TRUE(CryptEncrypt(key, 0, FALSE, 0, block, &len, 8));
      out.insert(out.end(), block, block + len);
    }
    BYTE last[8] = {};
    DWORD len = static_cast<DWORD>(plain.size() - full);
    std::memcpy(last, plain.data() + full, len);
    EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, last, &len, 8));
    EXPECT_EQ(len, 8u);
    out.insert(out.end(), last, last + len);
    return out;
  }
  HCRYPTPROV prov_ = 0;
};

}  // namespace kv::test::crypt
