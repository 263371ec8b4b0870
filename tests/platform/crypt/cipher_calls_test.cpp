// Session-key encryption of the provider against published vectors, its
// buffer rules and its refusals.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/crypt/cipher_fixture.h"
#include "platform/crypt/crypt_test_support.h"
#include "support/conformance.h"

namespace {

using kv::test::crypt::Bytes;
using kv::test::crypt::CipherTest;
using kv::test::crypt::FromHex;
using kv::test::crypt::Hex;
using kv::test::crypt::PlainKeyBlob;

// FIPS 81, appendix C (CBC example).
TEST_F(CipherTest, DesCbcMatchesFips81) {
  HCRYPTKEY key = Import(CALG_DES, "0123456789abcdef", "1234567890abcdef");
  std::vector<BYTE> data = Bytes("Now is the time for all ");
  DWORD len = (DWORD)data.size();
  ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, data.data(), &len, len));
  EXPECT_EQ(Hex(data), "E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6");
  // Chaining carries into the next call; the final call adds a block of 08s.
  BYTE pad[8];
  len = 0;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, pad, &len, sizeof(pad)));
  EXPECT_EQ(len, 8u);
  // Decrypting the whole thing in one final call gives the text back.
  data.insert(data.end(), pad, pad + 8);
  len = (DWORD)data.size();
  ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &len));
  EXPECT_EQ(len, 24u);
  EXPECT_EQ(std::string(data.begin(), data.begin() + len), "Now is the time for all ");
  CryptDestroyKey(key);
}

TEST_F(CipherTest, EcbAndBufferRules) {
  HCRYPTKEY key = Import(CALG_DES, "0123456789abcdef", "0000000000000000", CRYPT_MODE_ECB);
  DWORD mode = 0, len = sizeof(mode);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_MODE, reinterpret_cast<BYTE*>(&mode), &len, 0));
  EXPECT_EQ(mode, (DWORD)CRYPT_MODE_ECB);
  // FIPS 81 ECB example, first block.
  std::vector<BYTE> block = Bytes("Now is t");
  len = 8;
  ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, block.data(), &len, 8));
  EXPECT_EQ(Hex(block), "3FA40E8A984D4815");

  // Size query: a final call on 8 bytes needs 16.
  len = 8;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &len, 0));
  EXPECT_EQ(len, 16u);
  BYTE buf[16] = {};
  len = 8;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, buf, &len, 8));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(len, 16u);
  len = 5;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncrypt(key, 0, FALSE, 0, buf, &len, 16));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
  len = 5;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecrypt(key, 0, TRUE, 0, buf, &len));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);

  DWORD keyLen = 0;
  len = sizeof(keyLen);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&keyLen), &len, 0));
  EXPECT_EQ(keyLen, 64u);
  KV_WINE_DIFFERS("rsaenh takes CRYPT_MODE_OFB, as Windows did before Windows 8");
  DWORD badMode = CRYPT_MODE_OFB;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSetKeyParam(key, KP_MODE, reinterpret_cast<const BYTE*>(&badMode), 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
  CryptDestroyKey(key);
}

TEST_F(CipherTest, WrongKeyOrDamagedPaddingIsBadData) {
  HCRYPTKEY right = Import(CALG_3DES, "0123456789abcdeffedcba987654321089abcdef01234567", "0000000000000000");
  std::vector<BYTE> cipher = EncryptBlockwise(right, Bytes("secret text"));
  HCRYPTKEY wrong = Import(CALG_3DES, "1123456789abcdeffedcba987654321089abcdef01234567", "0000000000000000");
  std::vector<BYTE> copy = cipher;
  DWORD len = (DWORD)copy.size();
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDecrypt(wrong, 0, TRUE, 0, copy.data(), &len));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
  // The failed final call resets the chain: the right key still works.
  copy = cipher;
  len = (DWORD)copy.size();
  ASSERT_TRUE(CryptDecrypt(right, 0, TRUE, 0, copy.data(), &len));
  EXPECT_EQ(std::string(copy.begin(), copy.begin() + len), "secret text");
  CryptDestroyKey(right);
  CryptDestroyKey(wrong);

  std::vector<BYTE> blob = PlainKeyBlob(0x6699, FromHex("0123456789abcdef"));
  HCRYPTKEY key = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptImportKey(prov_, blob.data(), (DWORD)blob.size(), 0, 0, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_ALGID);
  KV_WINE_DIFFERS("rsaenh refuses a plain-text DES key of the wrong length with NTE_BAD_FLAGS");
  blob = PlainKeyBlob(CALG_DES, FromHex("0123456789abcdef01"));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptImportKey(prov_, blob.data(), (DWORD)blob.size(), 0, 0, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
}

}  // namespace
