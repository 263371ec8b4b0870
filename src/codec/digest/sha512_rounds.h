// SHA-512 round constants and round macros (FIPS 180-4), shared by the
// block functions that differ only in how they produce the message schedule.
#pragma once

#include <cstdint>

#include "codec/digest/block_functions.h"

namespace kv::digest {

extern const uint64_t kSha512K[80];

#define KV_S512_S0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define KV_S512_S1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define KV_S512_s0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define KV_S512_s1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))
#define KV_S512_CH(e, f, g) ((g) ^ ((e) & ((f) ^ (g))))
#define KV_S512_MAJ(a, b, c) (((a) & (b)) | ((c) & ((a) | (b))))

#define KV_S512_W(t) \
  (w[(t) & 15] += KV_S512_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + KV_S512_s0(w[((t) + 1) & 15]))
#define KV_S512_LOADED(t) w[t]

// t1 adds the terms known early (h + K + W, then Ch) before S1(e), and Maj
// reuses the previous round's b ^ c, which keeps the e and a chains short.
#define KV_S512_ROUND(a, b, c, d, e, f, g, h, t, x)                                    \
  do {                                                                               \
    const uint64_t t1 = KV_S512_S1(e) + (KV_S512_CH(e, f, g) + (h + kSha512K[t] + (x))); \
    const uint64_t ab = (a) ^ (b);                                                   \
    d += t1;                                                                         \
    h = KV_S512_S0(a) + (((b) ^ (ab & bc)) + t1);                                    \
    bc = ab;                                                                         \
  } while (0)

#define KV_S512_EIGHT(t, X)                                   \
  KV_S512_ROUND(a, b, c, d, e, f, g, h, (t) + 0, X((t) + 0)); \
  KV_S512_ROUND(h, a, b, c, d, e, f, g, (t) + 1, X((t) + 1)); \
  KV_S512_ROUND(g, h, a, b, c, d, e, f, (t) + 2, X((t) + 2)); \
  KV_S512_ROUND(f, g, h, a, b, c, d, e, (t) + 3, X((t) + 3)); \
  KV_S512_ROUND(e, f, g, h, a, b, c, d, (t) + 4, X((t) + 4)); \
  KV_S512_ROUND(d, e, f, g, h, a, b, c, (t) + 5, X((t) + 5)); \
  KV_S512_ROUND(c, d, e, f, g, h, a, b, (t) + 6, X((t) + 6)); \
  KV_S512_ROUND(b, c, d, e, f, g, h, a, (t) + 7, X((t) + 7))


// A round whose W[t] + K[t] was computed beforehand (by the vector schedule).
#define KV_S512_ROUND_WK(a, b, c, d, e, f, g, h, wk)                        \
  do {                                                                      \
    const uint64_t t1 = KV_S512_S1(e) + (KV_S512_CH(e, f, g) + (h + (wk))); \
    const uint64_t ab = (a) ^ (b);                                          \
    d += t1;                                                                \
    h = KV_S512_S0(a) + (((b) ^ (ab & bc)) + t1);                           \
    bc = ab;                                                                \
  } while (0)

#define KV_S512_EIGHT_WK(wk)                          \
  KV_S512_ROUND_WK(a, b, c, d, e, f, g, h, (wk)[0]); \
  KV_S512_ROUND_WK(h, a, b, c, d, e, f, g, (wk)[1]); \
  KV_S512_ROUND_WK(g, h, a, b, c, d, e, f, (wk)[2]); \
  KV_S512_ROUND_WK(f, g, h, a, b, c, d, e, (wk)[3]); \
  KV_S512_ROUND_WK(e, f, g, h, a, b, c, d, (wk)[4]); \
  KV_S512_ROUND_WK(d, e, f, g, h, a, b, c, (wk)[5]); \
  KV_S512_ROUND_WK(c, d, e, f, g, h, a, b, (wk)[6]); \
  KV_S512_ROUND_WK(b, c, d, e, f, g, h, a, (wk)[7])

}  // namespace kv::digest
