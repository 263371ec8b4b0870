// The container store's direct reader of RSAPrivateKey DER gives the key
// OpenSSL's general reader gives, and refuses what is not a whole two-prime
// key.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "crypt/rsa_blob.h"
#include "keys/pfx_test_support.h"
#include "platform/crypt/crypt_test_support.h"

namespace {

using kv::platform::crypt::RsaFromPrivateKeyDer;

TEST(RsaPrivateKeyDer, SameKeyAsOpenSslAndSignsAlike) {
  EVP_PKEY* original = kv::test::crypt::SharedTestKey();
  std::vector<uint8_t> der = kv::test::PrivateKeyDer(original);
  ASSERT_FALSE(der.empty());
  auto key = RsaFromPrivateKeyDer(der.data(), der.size());
  ASSERT_TRUE(key);
  EXPECT_EQ(EVP_PKEY_eq(key.get(), original), 1);
  // The private half works: a PKCS#1 v1.5 signature equals OpenSSL's.
  auto sign = [](EVP_PKEY* k) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::vector<unsigned char> sig(512);
    size_t len = sig.size();
    const unsigned char msg[] = "order 2330";
    bool ok = EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, k) == 1 &&
              EVP_DigestSign(ctx, sig.data(), &len, msg, sizeof msg) == 1;
    EVP_MD_CTX_free(ctx);
    sig.resize(ok ? len : 0);
    return sig;
  };
  EXPECT_EQ(sign(key.get()), sign(original));
  EXPECT_FALSE(sign(key.get()).empty());
}

TEST(RsaPrivateKeyDer, RefusesEveryTruncationAndOtherShapes) {
  std::vector<uint8_t> der = kv::test::PrivateKeyDer(kv::test::crypt::SharedTestKey());
  for (size_t n = 0; n < der.size(); ++n) EXPECT_FALSE(RsaFromPrivateKeyDer(der.data(), n)) << n;
  std::vector<uint8_t> trailing = der;
  trailing.push_back(0);
  EXPECT_FALSE(RsaFromPrivateKeyDer(trailing.data(), trailing.size()));
  // Version 1 (more primes) is not the two-prime form.
  std::vector<uint8_t> multiPrime = der;
  size_t version = multiPrime[1] & 0x80 ? 2 + (multiPrime[1] & 0x7F) : 2;
  ASSERT_EQ(multiPrime[version], 0x02);
  multiPrime[version + 2] = 1;
  EXPECT_FALSE(RsaFromPrivateKeyDer(multiPrime.data(), multiPrime.size()));
}

}  // namespace
