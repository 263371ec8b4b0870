// DES and triple-DES: NIST known answers, agreement with OpenSSL's
// des-cbc / des-ede-cbc / des-ede3-cbc (zero IV, PKCS#5 padding), and the
// object's argument rules.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "codec/des_cipher.h"
#include "codec/vector_file.h"
#include "support/temp_home.h"

namespace {

std::string Encrypt(ALG_ID algId, const std::string& key, const std::string& plain) {
  CDesCipher cipher;
  cipher.SetAlgorithm(algId);
  cipher.SetKey(key.data(), int32_t(key.size()));
  if (!cipher.Encrypt(plain.data(), int32_t(plain.size()))) return "<failed>";
  return std::string(reinterpret_cast<const char*>(cipher.Data()), size_t(cipher.Size()));
}

// OpenSSL's command line, as an independent implementation.
std::string OpenSslCommand(const char* cipher, const std::string& key, const std::string& plain,
                           const std::string& dir) {
  const std::string in = dir + "/plain.bin";
  kv::test::WriteFile(in, plain);
  std::string out;
  const std::string command = std::string("openssl enc ") + cipher +
                              " -provider legacy -provider default -K " + kv::test::BytesToHex(key) +
                              " -iv 0000000000000000 -in '" + in + "' | xxd -p | tr -d '\\n'";
  if (kv::test::RunCommand(command, &out) != 0) return "<openssl failed>";
  return kv::test::HexToBytes(out);
}

// OpenSSL's library, for many lengths.
std::string OpenSslEvp(const EVP_CIPHER* type, const std::string& key, const std::string& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const unsigned char iv[8] = {};
  std::string out(plain.size() + 16, '\0');
  int n1 = 0, n2 = 0;
  EVP_EncryptInit_ex(ctx, type, nullptr, reinterpret_cast<const unsigned char*>(key.data()), iv);
  EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &n1,
                    reinterpret_cast<const unsigned char*>(plain.data()), int(plain.size()));
  EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[n1]), &n2);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n1 + n2));
  return out;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(char(random()));
  return s;
}

TEST(DesCore, NistKnownAnswers) {
  const auto blocks = kv::test::ReadVectorFile("codec/des_known_answers.txt");
  ASSERT_EQ(blocks.size(), 121u);
  for (const auto& block : blocks) {
    const std::string key = kv::test::HexToBytes(block.at("Key"));
    const std::string plain = kv::test::HexToBytes(block.at("Plaintext"));
    kv::des::Schedule k1, k2, k3;
    kv::des::MakeSchedule(reinterpret_cast<const uint8_t*>(key.data()), false, &k1);
    const bool triple = key.size() == 24;
    if (triple) {
      kv::des::MakeSchedule(reinterpret_cast<const uint8_t*>(key.data() + 8), true, &k2);
      kv::des::MakeSchedule(reinterpret_cast<const uint8_t*>(key.data() + 16), false, &k3);
    } else {
      // The same answers hold for triple-DES with three equal keys.
      kv::des::MakeSchedule(reinterpret_cast<const uint8_t*>(key.data()), true, &k2);
      k3 = k1;
    }
    std::string single, ede;
    for (size_t at = 0; at < plain.size(); at += 8) {
      uint8_t out[8];
      const auto* in = reinterpret_cast<const uint8_t*>(plain.data() + at);
      if (!triple) {
        kv::des::EncryptBlock(k1, nullptr, nullptr, in, out);
        single.append(reinterpret_cast<char*>(out), 8);
      }
      kv::des::EncryptBlock(k1, &k2, &k3, in, out);
      ede.append(reinterpret_cast<char*>(out), 8);
    }
    if (!triple) {
      EXPECT_EQ(kv::test::BytesToHex(single), block.at("Ciphertext")) << block.at("Key");
    }
    EXPECT_EQ(kv::test::BytesToHex(ede), block.at("Ciphertext")) << block.at("Key");
  }
}

// CBC decryption runs several blocks side by side: every count around the
// group size, in place and not, and a chain split across calls, against
// OpenSSL's des-ede3-cbc.
TEST(DesCore, CbcDecryptionMatchesOpenSslForEveryGrouping) {
  const std::string key = RandomBytes(24, 77), iv = RandomBytes(8, 78);
  const auto* k = reinterpret_cast<const uint8_t*>(key.data());
  kv::des::Schedule d3, e2, d1;
  kv::des::MakeSchedule(k + 16, true, &d3);
  kv::des::MakeSchedule(k + 8, false, &e2);
  kv::des::MakeSchedule(k, true, &d1);
  for (size_t blocks = 1; blocks <= 19; ++blocks) {
    const std::string cipher = RandomBytes(8 * blocks, uint32_t(blocks));
    std::string expected(cipher.size(), '\0');
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_DecryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, k, reinterpret_cast<const unsigned char*>(iv.data()));
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(&expected[0]), &n,
                      reinterpret_cast<const unsigned char*>(cipher.data()), int(cipher.size()));
    EVP_CIPHER_CTX_free(ctx);

    std::string out(cipher.size(), '\0');
    uint8_t chain[8];
    std::memcpy(chain, iv.data(), 8);
    kv::des::CbcDecrypt(d3, &e2, &d1, chain, reinterpret_cast<const uint8_t*>(cipher.data()),
                        reinterpret_cast<uint8_t*>(&out[0]), blocks);
    EXPECT_EQ(kv::test::BytesToHex(out), kv::test::BytesToHex(expected)) << blocks << " blocks";
    EXPECT_EQ(std::memcmp(chain, cipher.data() + cipher.size() - 8, 8), 0) << "the chain ends on the last block";

    // In place, split after the first `blocks / 3` blocks.
    std::string inPlace = cipher;
    std::memcpy(chain, iv.data(), 8);
    auto* p = reinterpret_cast<uint8_t*>(&inPlace[0]);
    kv::des::CbcDecrypt(d3, &e2, &d1, chain, p, p, blocks / 3);
    kv::des::CbcDecrypt(d3, &e2, &d1, chain, p + 8 * (blocks / 3), p + 8 * (blocks / 3), blocks - blocks / 3);
    EXPECT_EQ(inPlace, expected) << blocks << " blocks in place";
  }
}

TEST(DesCipher, MatchesOpenSslCommandLine) {
  kv::test::ScopedHome home;
  const std::string key = RandomBytes(24, 1);
  for (size_t length : {1u, 7u, 8u, 9u, 16u, 100u}) {
    const std::string plain = RandomBytes(length, uint32_t(length));
    EXPECT_EQ(Encrypt(CALG_DES, key.substr(0, 8), plain), OpenSslCommand("-des-cbc", key.substr(0, 8), plain, home.path()))
        << length;
    EXPECT_EQ(Encrypt(CALG_3DES_112, key.substr(0, 16), plain),
              OpenSslCommand("-des-ede-cbc", key.substr(0, 16), plain, home.path()))
        << length;
    EXPECT_EQ(Encrypt(CALG_3DES, key, plain), OpenSslCommand("-des-ede3-cbc", key, plain, home.path())) << length;
  }
}

TEST(DesCipher, MatchesOpenSslLibraryForManyLengthsAndKeys) {
  // Single DES lives in the legacy provider; a library context of its own
  // keeps the process's default providers as they are.
  OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(context, "legacy");
  EVP_CIPHER* des = EVP_CIPHER_fetch(context, "DES-CBC", nullptr);
  ASSERT_NE(des, nullptr);
  for (uint32_t seed = 0; seed < 40; ++seed) {
    const std::string key = RandomBytes(24, 1000 + seed);
    const std::string plain = RandomBytes(seed * 13 + 1, seed);
    ASSERT_EQ(Encrypt(CALG_3DES, key, plain), OpenSslEvp(EVP_des_ede3_cbc(), key, plain)) << seed;
    ASSERT_EQ(Encrypt(CALG_3DES_112, key.substr(0, 16), plain), OpenSslEvp(EVP_des_ede_cbc(), key.substr(0, 16), plain));
    ASSERT_EQ(Encrypt(CALG_DES, key.substr(0, 8), plain), OpenSslEvp(des, key.substr(0, 8), plain));
  }
  EVP_CIPHER_free(des);
  OSSL_PROVIDER_unload(legacy);
  OSSL_LIB_CTX_free(context);
}

TEST(DesCipher, PaddingAndKeyParts) {
  const std::string key = RandomBytes(8, 5);
  EXPECT_EQ(Encrypt(CALG_3DES, key, "1234567").size(), 8u);
  const std::string full = Encrypt(CALG_3DES, key + key + key, "12345678");
  ASSERT_EQ(full.size(), 16u);
  // Three equal key parts are single DES; a whole block of padding follows a full block.
  EXPECT_EQ(full, Encrypt(CALG_DES, key, "12345678"));
  EXPECT_EQ(Encrypt(CALG_DES, key, "12345678" + std::string(8, '\x08')).substr(0, 16), full);
  // The two-key variant uses K1 again as K3; parity bits are ignored.
  const std::string two = RandomBytes(16, 6);
  EXPECT_EQ(Encrypt(CALG_3DES_112, two, "text"), Encrypt(CALG_3DES, two + two.substr(0, 8), "text"));
  std::string flipped = two;
  for (char& c : flipped) c ^= 1;
  EXPECT_EQ(Encrypt(CALG_3DES_112, flipped, "text"), Encrypt(CALG_3DES_112, two, "text"));
  // A longer key than needed uses its leading bytes.
  EXPECT_EQ(Encrypt(CALG_DES, two, "text"), Encrypt(CALG_DES, two.substr(0, 8), "text"));
}

TEST(DesCipher, ArgumentRules) {
  CDesCipher cipher;
  EXPECT_EQ(cipher.Algorithm(), ALG_ID(CALG_DES));
  EXPECT_EQ(cipher.Mode(), 1u);
  cipher.SetAlgorithm(CALG_RC2);
  EXPECT_EQ(cipher.Algorithm(), ALG_ID(CALG_DES));
  cipher.SetAlgorithm(CALG_3DES_112);
  EXPECT_EQ(cipher.Algorithm(), ALG_ID(CALG_3DES_112));

  // A key shorter than the algorithm needs is refused instead of read past.
  cipher.SetKey("12345678", 8);
  EXPECT_FALSE(cipher.Encrypt("abc", 3));
  EXPECT_EQ(cipher.Data(), nullptr);
  cipher.SetKey("1234567812345678", 16);
  ASSERT_TRUE(cipher.Encrypt("abc", 3));
  EXPECT_EQ(cipher.Size(), 8);
  EXPECT_FALSE(cipher.Encrypt(nullptr, 8));
  EXPECT_EQ(cipher.Size(), 0);
  EXPECT_FALSE(cipher.Encrypt("abc", 0));
  EXPECT_FALSE(cipher.Encrypt("abc", -3));
  // A null key only discards the old one.
  cipher.SetKey(nullptr, 16);
  EXPECT_FALSE(cipher.Encrypt("abc", 3));
}

}  // namespace
