// SHA-256 compression (FIPS 180-4) in portable C++: unrolled rounds over a
// 16-word circular message schedule.
#include "codec/digest/block_functions.h"

namespace kv::digest {

alignas(16) const uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {


#define KV_S256_S0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define KV_S256_S1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define KV_S256_s0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define KV_S256_s1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
#define KV_S256_CH(e, f, g) ((g) ^ ((e) & ((f) ^ (g))))
#define KV_S256_MAJ(a, b, c) (((a) & (b)) | ((c) & ((a) | (b))))

#define KV_S256_W(t) \
  (w[(t) & 15] += KV_S256_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + KV_S256_s0(w[((t) + 1) & 15]))

#define KV_S256_ROUND(a, b, c, d, e, f, g, h, t, x)                      \
  do {                                                                 \
    const uint32_t t1 = h + KV_S256_S1(e) + KV_S256_CH(e, f, g) + kSha256K[t] + (x); \
    d += t1;                                                           \
    h = t1 + KV_S256_S0(a) + KV_S256_MAJ(a, b, c);                     \
  } while (0)

#define KV_S256_EIGHT(t, X)                        \
  KV_S256_ROUND(a, b, c, d, e, f, g, h, (t) + 0, X((t) + 0)); \
  KV_S256_ROUND(h, a, b, c, d, e, f, g, (t) + 1, X((t) + 1)); \
  KV_S256_ROUND(g, h, a, b, c, d, e, f, (t) + 2, X((t) + 2)); \
  KV_S256_ROUND(f, g, h, a, b, c, d, e, (t) + 3, X((t) + 3)); \
  KV_S256_ROUND(e, f, g, h, a, b, c, d, (t) + 4, X((t) + 4)); \
  KV_S256_ROUND(d, e, f, g, h, a, b, c, (t) + 5, X((t) + 5)); \
  KV_S256_ROUND(c, d, e, f, g, h, a, b, (t) + 6, X((t) + 6)); \
  KV_S256_ROUND(b, c, d, e, f, g, h, a, (t) + 7, X((t) + 7))

#define KV_S256_LOADED(t) w[t]

}  // namespace

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t count) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (; count > 0; --count, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(data + 4 * i);

    KV_S256_EIGHT(0, KV_S256_LOADED);
    KV_S256_EIGHT(8, KV_S256_LOADED);
    for (int t = 16; t < 64; t += 16) {
      KV_S256_EIGHT(t, KV_S256_W);
      KV_S256_EIGHT(t + 8, KV_S256_W);
    }

    a = state[0] += a;
    b = state[1] += b;
    c = state[2] += c;
    d = state[3] += d;
    e = state[4] += e;
    f = state[5] += f;
    g = state[6] += g;
    h = state[7] += h;
  }
}

}  // namespace kv::digest
