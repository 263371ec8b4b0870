// Session-key encryption, hashes and signatures of the provider, checked
// against OpenSSL.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/crypt/cipher_fixture.h"
#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::Bytes;
using kv::test::crypt::CipherTest;
using kv::test::crypt::FromHex;
using kv::test::crypt::Hex;
using kv::test::crypt::Reversed;
using kv::test::crypt::SharedTestKey;


TEST_F(CipherTest, TripleDesAgreesWithOpenssl) {
  const std::string key3 = "0123456789abcdeffedcba987654321089abcdef01234567";
  const std::string key2 = "0123456789abcdeffedcba9876543210";
  const std::string iv = "0011223344556677";
  std::vector<BYTE> plain = Bytes("Seventeen bytes!!");
  std::string plainPath = home_.path() + "/plain.bin";
  kv::test::WriteFile(plainPath, std::string(plain.begin(), plain.end()));
  struct {
    ALG_ID alg;
    std::string key, cipher;
  } cases[] = {{CALG_3DES, key3, "des-ede3-cbc"}, {CALG_3DES_112, key2, "des-ede-cbc"}};
  for (const auto& c : cases) {
    HCRYPTKEY key = Import(c.alg, c.key, iv);
    std::vector<BYTE> ours = EncryptBlockwise(key, plain);
    EXPECT_EQ(ours.size(), 24u);
    std::string theirs;
    ASSERT_EQ(kv::test::RunCommand("openssl enc -" + c.cipher + " -K " + c.key + " -iv " + iv + " -in " + plainPath, &theirs), 0);
    EXPECT_EQ(Hex(ours), Hex(Bytes(theirs))) << c.cipher;

    // Decrypt block by block, the last block final.
    std::vector<BYTE> back;
    for (size_t at = 0; at < ours.size(); at += 8) {
      BYTE block[8];
      std::memcpy(block, ours.data() + at, 8);
      DWORD len = 8;
      ASSERT_TRUE(CryptDecrypt(key, 0, at + 8 == ours.size(), 0, block, &len));
      back.insert(back.end(), block, block + len);
    }
    EXPECT_EQ(back, plain);
    CryptDestroyKey(key);
  }
}

// Long messages in calls of uneven length, both directions, for DES and both
// triple-DES keys: the chain carries across calls, decryption (which runs
// blocks side by side) strips the padding, and a new IV starts a new chain.
TEST_F(CipherTest, LongCbcMessagesInUnevenCallsAgreeWithOpenssl) {
  OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(context, "legacy");
  EVP_CIPHER* des = EVP_CIPHER_fetch(context, "DES-CBC", nullptr);
  ASSERT_NE(des, nullptr);
  const std::string key3 = "0123456789abcdeffedcba987654321089abcdef01234567";
  const std::string iv = "a1b2c3d4e5f60718";
  struct {
    ALG_ID alg;
    std::string key;
    const EVP_CIPHER* cipher;
  } cases[] = {{CALG_3DES, key3, EVP_des_ede3_cbc()},
               {CALG_3DES_112, key3.substr(0, 32), EVP_des_ede_cbc()},
               {CALG_DES, key3.substr(0, 16), des}};
  const size_t chunks[] = {8, 40, 16, 96, 24, 8, 72};
  for (const auto& c : cases) {
    for (size_t length : {0u, 7u, 8u, 33u, 100u, 257u}) {
      std::vector<BYTE> plain(length);
      for (size_t i = 0; i < length; ++i) plain[i] = static_cast<BYTE>(i * 29 + length);
      std::vector<BYTE> keyBytes = FromHex(c.key), ivBytes = FromHex(iv);
      std::vector<BYTE> expected(length + 8);
      int n1 = 0, n2 = 0;
      EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
      EVP_EncryptInit_ex(ctx, c.cipher, nullptr, keyBytes.data(), ivBytes.data());
      EVP_EncryptUpdate(ctx, expected.data(), &n1, plain.data(), int(length));
      EVP_EncryptFinal_ex(ctx, expected.data() + n1, &n2);
      EVP_CIPHER_CTX_free(ctx);
      expected.resize(size_t(n1 + n2));

      HCRYPTKEY key = Import(c.alg, c.key, iv);
      std::vector<BYTE> cipher(length + 8);
      std::copy(plain.begin(), plain.end(), cipher.begin());
      size_t at = 0;
      for (size_t i = 0; length - at >= 8; ++i) {
        DWORD len = static_cast<DWORD>(std::min(chunks[i % 7], (length - at) / 8 * 8));
        ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, cipher.data() + at, &len, len));
        at += len;
      }
      DWORD len = static_cast<DWORD>(length - at);
      ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, cipher.data() + at, &len, 8));
      cipher.resize(at + len);
      ASSERT_EQ(Hex(cipher), Hex(expected)) << c.alg << " " << length;

      std::vector<BYTE> back = cipher;
      at = 0;
      for (size_t i = 3; back.size() - at > 8; ++i) {
        DWORD part = static_cast<DWORD>(std::min(chunks[i % 7], back.size() - at - 8));
        ASSERT_TRUE(CryptDecrypt(key, 0, FALSE, 0, back.data() + at, &part));
        at += part;
      }
      len = static_cast<DWORD>(back.size() - at);
      ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, back.data() + at, &len));
      back.resize(at + len);
      EXPECT_EQ(back, plain) << c.alg << " " << length;

      // A chain left open by a non-final call is dropped by a new IV.
      std::vector<BYTE> first = cipher;
      DWORD part = 8;
      ASSERT_TRUE(CryptDecrypt(key, 0, FALSE, 0, first.data(), &part));
      ASSERT_TRUE(CryptSetKeyParam(key, KP_IV, ivBytes.data(), 0));
      back = cipher;
      len = static_cast<DWORD>(back.size());
      ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, back.data(), &len));
      back.resize(len);
      EXPECT_EQ(back, plain);
      CryptDestroyKey(key);
    }
  }
  EVP_CIPHER_free(des);
  OSSL_PROVIDER_unload(legacy);
  OSSL_LIB_CTX_free(context);
}

TEST_F(CipherTest, RsaKeyExchangeIsLittleEndianPkcs1) {
  std::vector<BYTE> pub = kv::test::crypt::ExpectedBlob(SharedTestKey(), CALG_RSA_KEYX, false);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptImportKey(prov_, pub.data(), (DWORD)pub.size(), 0, 0, &key));
  std::vector<BYTE> data(128, 0);
  std::memcpy(data.data(), "session key", 11);
  DWORD len = 11;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &len, 0));
  EXPECT_EQ(len, 128u);
  len = 11;
  ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &len, 128));
  ASSERT_EQ(len, 128u);
  std::vector<BYTE> be = Reversed(data);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(SharedTestKey(), nullptr);
  BYTE out[128];
  size_t outLen = sizeof(out);
  ASSERT_EQ(EVP_PKEY_decrypt_init(ctx), 1);
  ASSERT_EQ(EVP_PKEY_decrypt(ctx, out, &outLen, be.data(), be.size()), 1);
  EVP_PKEY_CTX_free(ctx);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), outLen), "session key");
  CryptDestroyKey(key);

  std::vector<BYTE> priv = kv::test::crypt::ExpectedBlob(SharedTestKey(), CALG_RSA_KEYX, true);
  ASSERT_TRUE(CryptImportKey(prov_, priv.data(), (DWORD)priv.size(), 0, 0, &key));
  len = 128;
  ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &len));
  EXPECT_EQ(std::string(data.begin(), data.begin() + len), "session key");
  CryptDestroyKey(key);
}

class HashTest : public kv::test::HomeTest {};

TEST_F(HashTest, DigestsAndParameters) {
  HCRYPTPROV full = 0, aes = 0;
  ASSERT_TRUE(CryptAcquireContextA(&full, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  ASSERT_TRUE(CryptAcquireContextA(&aes, nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  struct {
    HCRYPTPROV prov;
    ALG_ID alg;
    const char* digest;  // of "abc": RFC 1321, FIPS 180-4
  } cases[] = {
      {full, CALG_MD5, "900150983CD24FB0D6963F7D28E17F72"},
      {full, CALG_SHA1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {full, CALG_SSL3_SHAMD5, "900150983CD24FB0D6963F7D28E17F72A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {aes, CALG_SHA_256, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {aes, CALG_SHA_384,
       "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
      {aes, CALG_SHA_512,
       "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD"
       "454D4423643CE80E2A9AC94FA54CA49F"},
  };
  for (const auto& c : cases) {
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(c.prov, c.alg, 0, 0, &hash));
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("ab"), 2, 0));
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("c"), 1, 0));
    DWORD size = 0, len = sizeof(size);
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &len, 0));
    EXPECT_EQ(size * 2, strlen(c.digest));
    ALG_ID alg = 0;
    len = sizeof(alg);
    ASSERT_TRUE(CryptGetHashParam(hash, HP_ALGID, reinterpret_cast<BYTE*>(&alg), &len, 0));
    EXPECT_EQ(alg, c.alg);
    len = 0;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &len, 0));
    EXPECT_EQ(len, size);
    std::vector<BYTE> value(len);
    len = 4;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, value.data(), &len, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(len, size);
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value.data(), &len, 0));
    EXPECT_EQ(Hex(value), c.digest);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("d"), 1, 0));
    EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_HASH_STATE);
    EXPECT_TRUE(CryptDestroyHash(hash));
  }
  // The plain RSA provider type has no SHA-2, as on Windows.
  HCRYPTHASH hash = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptCreateHash(full, CALG_SHA_256, 0, 0, &hash));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_ALGID);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptCreateHash(full, CALG_SHA1, 0, 1, &hash));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_FLAGS);
  CryptReleaseContext(full, 0);
  CryptReleaseContext(aes, 0);
}

std::vector<BYTE> OpensslSign(EVP_PKEY* key, const EVP_MD* md, const std::vector<BYTE>& digest) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  std::vector<BYTE> sig(512);
  size_t len = sig.size();
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  if (md) EVP_PKEY_CTX_set_signature_md(ctx, md);
  EXPECT_EQ(EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()), 1);
  EVP_PKEY_CTX_free(ctx);
  sig.resize(len);
  return sig;
}

TEST_F(HashTest, SignaturesAreLittleEndianPkcs1) {
  HCRYPTPROV prov = kv::test::crypt::ProviderWithKey("signer", AT_SIGNATURE);
  std::vector<BYTE> message = Bytes("message to sign");
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  ASSERT_TRUE(CryptHashData(hash, message.data(), (DWORD)message.size(), 0));
  DWORD len = 0;
  ASSERT_TRUE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, nullptr, &len));
  EXPECT_EQ(len, 128u);
  std::vector<BYTE> sig(len);
  len = 64;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, sig.data(), &len));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(len, 128u);
  ASSERT_TRUE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, sig.data(), &len));

  // The openssl command line verifies the reversed signature.
  std::string dir = home_.path();
  kv::test::WriteFile(dir + "/msg", std::string(message.begin(), message.end()));
  std::vector<BYTE> be = Reversed(sig);
  kv::test::WriteFile(dir + "/sig", std::string(be.begin(), be.end()));
  kv::test::crypt::WritePrivateKeyPem(SharedTestKey(), dir + "/key.pem");
  std::string out;
  EXPECT_EQ(kv::test::RunCommand("openssl dgst -sha1 -prverify " + dir + "/key.pem -signature " + dir + "/sig " + dir +
                                     "/msg",
                                 &out),
            0)
      << out;

  HCRYPTKEY pub = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &pub));
  EXPECT_TRUE(CryptVerifySignatureA(hash, sig.data(), len, pub, nullptr, 0));
  sig[5] ^= 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptVerifySignatureA(hash, sig.data(), len, pub, nullptr, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_SIGNATURE);
  CryptDestroyHash(hash);

  // A value set with HP_HASHVAL is signed as given, with its DigestInfo, or
  // bare for the SSL3 MD5+SHA-1 hash.
  std::vector<BYTE> md5(16, 0x5A), shamd5(36, 0xA5);
  ASSERT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
  ASSERT_TRUE(CryptSetHashParam(hash, HP_HASHVAL, md5.data(), 0));
  len = 128;
  ASSERT_TRUE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, sig.data(), &len));
  EXPECT_EQ(Reversed(sig), OpensslSign(SharedTestKey(), EVP_md5(), md5));
  CryptDestroyHash(hash);
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SSL3_SHAMD5, 0, 0, &hash));
  ASSERT_TRUE(CryptSetHashParam(hash, HP_HASHVAL, shamd5.data(), 0));
  len = 128;
  ASSERT_TRUE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, sig.data(), &len));
  EXPECT_EQ(Reversed(sig), OpensslSign(SharedTestKey(), nullptr, shamd5));

  // The container has no exchange key.
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &len));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NO_KEY);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignHashA(hash, 7, nullptr, 0, nullptr, &len));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_ALGID);
  CryptDestroyHash(hash);
  CryptDestroyKey(pub);
  CryptReleaseContext(prov, 0);
}

}  // namespace

namespace {

TEST_F(HashTest, OpensslSignaturesVerifyHere) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  std::vector<BYTE> pub = kv::test::crypt::ExpectedBlob(SharedTestKey(1), CALG_RSA_SIGN, false);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptImportKey(prov, pub.data(), (DWORD)pub.size(), 0, 0, &key));
  std::string dir = home_.path();
  kv::test::WriteFile(dir + "/data", "signed by openssl");
  kv::test::crypt::WritePrivateKeyPem(SharedTestKey(1), dir + "/key.pem");
  std::string sig;
  ASSERT_EQ(kv::test::RunCommand("openssl dgst -sha256 -sign " + dir + "/key.pem " + dir + "/data", &sig), 0);
  std::vector<BYTE> le = Reversed(Bytes(sig));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash));
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("signed by openssl"), 17, 0));
  EXPECT_TRUE(CryptVerifySignatureA(hash, le.data(), (DWORD)le.size(), key, nullptr, 0));
  // The same signature read in the wrong byte order does not verify.
  std::vector<BYTE> be = Bytes(sig);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptVerifySignatureA(hash, be.data(), (DWORD)be.size(), key, nullptr, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_SIGNATURE);
  CryptDestroyHash(hash);

  // CRYPT_NOHASHOID signs the bare value.
  std::vector<BYTE> priv = kv::test::crypt::ExpectedBlob(SharedTestKey(1), CALG_RSA_SIGN, true);
  HCRYPTKEY pair = 0;
  ASSERT_TRUE(CryptImportKey(prov, priv.data(), (DWORD)priv.size(), 0, 0, &pair));
  std::vector<BYTE> value(20, 0x11), out(128);
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  ASSERT_TRUE(CryptSetHashParam(hash, HP_HASHVAL, value.data(), 0));
  DWORD len = 128;
  ASSERT_TRUE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, CRYPT_NOHASHOID, out.data(), &len));
  EXPECT_EQ(Reversed(out), OpensslSign(SharedTestKey(1), nullptr, value));
  EXPECT_TRUE(CryptVerifySignatureA(hash, out.data(), len, pair, nullptr, CRYPT_NOHASHOID));
  CryptDestroyHash(hash);
  CryptDestroyKey(pair);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

}  // namespace
