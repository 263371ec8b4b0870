// The direct readers and writer of RSAPrivateKey DER: the key OpenSSL's
// general reader gives, the bytes its encoder writes, the blob the provider
// exports; what is not a whole two-prime key is refused.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "crypt/rsa_blob.h"
#include "keys/pfx_test_support.h"
#include "platform/crypt/crypt_test_support.h"

namespace {

using kv::platform::crypt::RsaFromPrivateKeyDer;
using kv::platform::crypt::RsaPrivateBlobToDer;
using kv::platform::crypt::RsaPrivateDerToBlob;
using kv::platform::crypt::RsaToBlob;
using kv::platform::crypt::RsaToPrivateKeyDer;

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

// DER to blob and back gives OpenSSL's own encoding and the provider's own
// blob, for keys whose numbers fill their widths and keys whose do not.
TEST(RsaPrivateKeyDer, BlobAndDerConvertAsOpenSslAndTheProviderDo) {
  EVP_PKEY* keys[] = {kv::test::crypt::SharedTestKey(), EVP_RSA_gen(1024), EVP_RSA_gen(1032)};
  for (EVP_PKEY* key : keys) {
    ASSERT_TRUE(key);
    const std::vector<uint8_t> openSslDer = kv::test::PrivateKeyDer(key);
    std::vector<BYTE> providerBlob, blob, der, viaBlob;
    ASSERT_TRUE(RsaToBlob(key, CALG_RSA_KEYX, true, &providerBlob));
    ASSERT_TRUE(RsaPrivateDerToBlob(kv::der::Span(openSslDer.data(), openSslDer.size()), CALG_RSA_KEYX, &blob));
    EXPECT_EQ(blob, providerBlob);
    ASSERT_TRUE(RsaPrivateBlobToDer(blob.data(), blob.size(), &der));
    EXPECT_EQ(der, openSslDer);
    ASSERT_TRUE(RsaToPrivateKeyDer(key, &viaBlob));
    EXPECT_EQ(viaBlob, openSslDer);
    for (size_t n = 0; n < blob.size(); ++n) EXPECT_FALSE(RsaPrivateBlobToDer(blob.data(), n, &der)) << n;
  }
  EVP_PKEY_free(keys[1]);
  EVP_PKEY_free(keys[2]);
}

TEST(RsaPrivateKeyDer, RefusesEveryTruncationAndOtherShapes) {
  std::vector<uint8_t> der = kv::test::PrivateKeyDer(kv::test::crypt::SharedTestKey());
  std::vector<BYTE> blob;
  for (size_t n = 0; n < der.size(); ++n) {
    EXPECT_FALSE(RsaFromPrivateKeyDer(der.data(), n)) << n;
    EXPECT_FALSE(RsaPrivateDerToBlob(kv::der::Span(der.data(), n), CALG_RSA_KEYX, &blob)) << n;
  }
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
