// The weak-key check: each of its rules broken once on a real key blob, and
// the generation loop with weak keys injected through the provider.
#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <wincrypt.h>

#include <functional>

#include "crypt/key_generation_hook.h"
#include "keys/enrol_test_support.h"
#include "keys/request_weak_key.h"
#include "sign/sign_test_support.h"

namespace {

using namespace kv::test;

// Offsets of a PRIVATEKEYBLOB's fields for a key of `bits`.
struct Layout {
  size_t bits, whole, half;
  size_t n() const { return 20; }
  size_t p() const { return n() + whole; }
  size_t q() const { return p() + half; }
  size_t dp() const { return q() + half; }
  size_t dq() const { return dp() + half; }
  size_t qp() const { return dq() + half; }
  size_t d() const { return qp() + half; }
  size_t end() const { return d() + whole; }
};

std::vector<BYTE> GoodBlob(Layout* layout) {
  HCRYPTPROV prov = 0;
  EXPECT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTKEY key = 0;
  EXPECT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, (1024u << 16) | CRYPT_EXPORTABLE, &key));
  DWORD size = 0;
  CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size);
  std::vector<BYTE> blob(size);
  EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
  *layout = Layout{1024, 128, 64};
  return blob;
}

// Little-endian field <-> OpenSSL number.
BIGNUM* Field(const std::vector<BYTE>& blob, size_t at, size_t length) {
  return BN_lebin2bn(blob.data() + at, static_cast<int>(length), nullptr);
}
void Store(std::vector<BYTE>* blob, size_t at, size_t length, const BIGNUM* value) {
  ASSERT_EQ(static_cast<int>(length), BN_bn2lebinpad(value, blob->data() + at, static_cast<int>(length)));
}

TEST(WeakKeyCheck, EachRuleBrokenOnce) {
  Layout l{};
  const std::vector<BYTE> good = GoodBlob(&l);
  ASSERT_EQ(l.end(), good.size());
  EXPECT_TRUE(kv::keys::RsaPrivateBlobConsistent(good.data(), good.size()));

  auto broken = [&](const std::function<void(std::vector<BYTE>*)>& change) {
    std::vector<BYTE> blob = good;
    change(&blob);
    return !kv::keys::RsaPrivateBlobConsistent(blob.data(), blob.size());
  };
  // P * Q = N
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { (*b)[l.n()] ^= 2; }));
  // D mod (P - 1) = DP and D mod (Q - 1) = DQ
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { (*b)[l.dp()] ^= 1; }));
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { (*b)[l.dq()] ^= 1; }));
  // Q^-1 mod P = QP
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { (*b)[l.qp()] ^= 1; }));
  // D * E mod lcm(P - 1, Q - 1) = 1 alone: D, DP and DQ moved together keep
  // the two reductions but not the inverse.
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *p = Field(*b, l.p(), l.half), *q = Field(*b, l.q(), l.half), *d = Field(*b, l.d(), l.whole);
    BIGNUM *p1 = BN_dup(p), *q1 = BN_dup(q), *dp = BN_new(), *dq = BN_new();
    BN_sub_word(p1, 1);
    BN_sub_word(q1, 1);
    BN_sub_word(d, 1);
    BN_mod(dp, d, p1, ctx);
    BN_mod(dq, d, q1, ctx);
    Store(b, l.d(), l.whole, d);
    Store(b, l.dp(), l.half, dp);
    Store(b, l.dq(), l.half, dq);
    for (BIGNUM* x : {p, q, d, p1, q1, dp, dq}) BN_free(x);
    BN_CTX_free(ctx);
  }));
  // D +/- lcm(P - 1, Q - 1) is an inverse modulo the lcm but not modulo
  // (P - 1)(Q - 1): a sound key, the form standard generators make, kept.
  EXPECT_FALSE(broken([&](std::vector<BYTE>* b) {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *p = Field(*b, l.p(), l.half), *q = Field(*b, l.q(), l.half), *d = Field(*b, l.d(), l.whole);
    BIGNUM *p1 = BN_dup(p), *q1 = BN_dup(q), *g = BN_new(), *lcm = BN_new();
    BN_sub_word(p1, 1);
    BN_sub_word(q1, 1);
    BN_gcd(g, p1, q1, ctx);
    BN_mul(lcm, p1, q1, ctx);
    BN_div(lcm, nullptr, lcm, g, ctx);
    if (BN_cmp(d, lcm) >= 0)
      BN_sub(d, d, lcm);
    else
      BN_add(d, d, lcm);
    Store(b, l.d(), l.whole, d);
    for (BIGNUM* x : {p, q, d, p1, q1, g, lcm}) BN_free(x);
    BN_CTX_free(ctx);
  }));
  // gcd(E, (P - 1)(Q - 1)) = 1: an even exponent shares the factor 2.
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { (*b)[16] = 2, (*b)[17] = (*b)[18] = (*b)[19] = 0; }));
  // Malformed blobs: short, odd bit length, zero primes.
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { b->resize(b->size() - 1); }));
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { (*b)[12] = 8; }));
  EXPECT_TRUE(broken([&](std::vector<BYTE>* b) { std::fill(b->begin() + l.p(), b->begin() + l.dp(), 0); }));
  EXPECT_FALSE(kv::keys::RsaPrivateBlobConsistent(nullptr, 0));
}

// From 2048 bits OpenSSL gives the private exponent modulo lcm(P - 1, Q - 1);
// most such keys failed the check when it asked for the inverse modulo the
// product, and enrolment went through several keys or ran out of attempts.
TEST(WeakKeyCheck, StandardKeysOf2048BitsPass) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  for (int i = 0; i < 4; ++i) {
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, (2048u << 16) | CRYPT_EXPORTABLE, &key));
    DWORD size = 0;
    ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    std::vector<BYTE> blob(size);
    ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
    EXPECT_TRUE(kv::keys::RsaPrivateBlobConsistent(blob.data(), size)) << "key " << i;
    CryptDestroyKey(key);
  }
  CryptReleaseContext(prov, 0);
}

void BreakCoefficient(std::vector<BYTE>* blob) {
  // The coefficient follows N, P, Q, DP and DQ of a 1024-bit blob.
  (*blob)[20 + 128 + 4 * 64] ^= 1;
}

class WeakKeyLoop : public EnrolTest {
 protected:
  ~WeakKeyLoop() override { kv::platform::AlterGeneratedKeys(0, nullptr); }
};

TEST_F(WeakKeyLoop, TwentyWeakKeysEndWith1501) {
  kv::platform::AlterGeneratedKeys(20, BreakCoefficient);
  SetLastError(0xdeadbeef);
  EXPECT_EQ("", TakeText(engine_.CreatePKCS10(Utf8Bstr("Weak"), 1024, 0)));
  EXPECT_EQ(ERR_RSA_WEAK_KEY, engine_.Code());
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_TRUE(RecordNames().empty());
  // Every weak key went with its container.
  HCRYPTPROV prov = 0;
  char name[300];
  DWORD size = sizeof name;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, kRequestProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_FIRST));
  CryptReleaseContext(prov, 0);
}

TEST_F(WeakKeyLoop, WeakKeysAreReplacedInTheSameContainer) {
  kv::platform::AlterGeneratedKeys(19, BreakCoefficient);
  std::string request = Request("Nineteen Weak", 1024, 0);
  ASSERT_FALSE(request.empty());
  std::string text;
  EXPECT_TRUE(VerifyRequest(folder_.path(), request, &text)) << text;
  ASSERT_EQ(1u, RecordNames().size());
}

}  // namespace
