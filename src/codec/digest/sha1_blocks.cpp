// SHA-1 compression (FIPS 180-4) in portable C++: unrolled rounds over a
// 16-word circular message schedule.
#include "codec/digest/block_functions.h"

namespace kv::digest {

namespace {

#define KV_SHA1_W(t) \
  (w[(t) & 15] = Rotl32(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))

#define KV_SHA1_ROUND(a, b, c, d, e, f, k, x) \
  e += Rotl32(a, 5) + (f) + (k) + (x);       \
  b = Rotl32(b, 30)

#define KV_SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define KV_SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define KV_SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))

#define KV_SHA1_R0(a, b, c, d, e, t) KV_SHA1_ROUND(a, b, c, d, e, KV_SHA1_F1(b, c, d), 0x5a827999u, w[t])
#define KV_SHA1_R1(a, b, c, d, e, t) KV_SHA1_ROUND(a, b, c, d, e, KV_SHA1_F1(b, c, d), 0x5a827999u, KV_SHA1_W(t))
#define KV_SHA1_R2(a, b, c, d, e, t) KV_SHA1_ROUND(a, b, c, d, e, KV_SHA1_F2(b, c, d), 0x6ed9eba1u, KV_SHA1_W(t))
#define KV_SHA1_R3(a, b, c, d, e, t) KV_SHA1_ROUND(a, b, c, d, e, KV_SHA1_F3(b, c, d), 0x8f1bbcdcu, KV_SHA1_W(t))
#define KV_SHA1_R4(a, b, c, d, e, t) KV_SHA1_ROUND(a, b, c, d, e, KV_SHA1_F2(b, c, d), 0xca62c1d6u, KV_SHA1_W(t))

// Five rounds rotate the variable roles back to where they started.
#define KV_SHA1_FIVE(R, t)      \
  R(a, b, c, d, e, (t) + 0);    \
  R(e, a, b, c, d, (t) + 1);    \
  R(d, e, a, b, c, (t) + 2);    \
  R(c, d, e, a, b, (t) + 3);    \
  R(b, c, d, e, a, (t) + 4)

}  // namespace

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t count) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; count > 0; --count, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(data + 4 * i);
    const uint32_t sa = a, sb = b, sc = c, sd = d, se = e;

    KV_SHA1_FIVE(KV_SHA1_R0, 0);
    KV_SHA1_FIVE(KV_SHA1_R0, 5);
    KV_SHA1_FIVE(KV_SHA1_R0, 10);
    KV_SHA1_R0(a, b, c, d, e, 15);
    KV_SHA1_R1(e, a, b, c, d, 16);
    KV_SHA1_R1(d, e, a, b, c, 17);
    KV_SHA1_R1(c, d, e, a, b, 18);
    KV_SHA1_R1(b, c, d, e, a, 19);

    KV_SHA1_FIVE(KV_SHA1_R2, 20);
    KV_SHA1_FIVE(KV_SHA1_R2, 25);
    KV_SHA1_FIVE(KV_SHA1_R2, 30);
    KV_SHA1_FIVE(KV_SHA1_R2, 35);

    KV_SHA1_FIVE(KV_SHA1_R3, 40);
    KV_SHA1_FIVE(KV_SHA1_R3, 45);
    KV_SHA1_FIVE(KV_SHA1_R3, 50);
    KV_SHA1_FIVE(KV_SHA1_R3, 55);

    KV_SHA1_FIVE(KV_SHA1_R4, 60);
    KV_SHA1_FIVE(KV_SHA1_R4, 65);
    KV_SHA1_FIVE(KV_SHA1_R4, 70);
    KV_SHA1_FIVE(KV_SHA1_R4, 75);

    a += sa;
    b += sb;
    c += sc;
    d += sd;
    e += se;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

}  // namespace kv::digest
