// SHA-1 and SHA-256 compression on the processor's SHA instructions. Only
// these functions are compiled for SHA/SSE4.1, so the rest of the library
// still runs on any x86-64; the caller checks CPUID before using them.
#include "codec/digest/block_functions.h"

#if defined(KV_DIGEST_X86)

#include <immintrin.h>

#define KV_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace kv::digest {

// Four rounds per step g (0..19); the schedule lives in four registers m0..m3,
// m[g % 4] holding W[4g..4g+3] when step g runs, most significant lane first.
#define KV_SHA1_STEP(g, Ecur, Enext, mg, mnext, mprev, mprev2)                          \
  Ecur = _mm_sha1nexte_epu32(Ecur, mg);                                                \
  Enext = abcd;                                                                        \
  if ((g) >= 3 && (g) <= 18) mnext = _mm_sha1msg2_epu32(mnext, mg);                    \
  abcd = _mm_sha1rnds4_epu32(abcd, Ecur, (g) / 5);                                     \
  if ((g) >= 1 && (g) <= 16) mprev = _mm_sha1msg1_epu32(mprev, mg);                    \
  if ((g) >= 2 && (g) <= 17) mprev2 = _mm_xor_si128(mprev2, mg)

KV_SHA_TARGET void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* data, size_t count) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607ll, 0x08090a0b0c0d0e0fll);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  __m128i e1;
  for (; count > 0; --count, data += 64) {
    const __m128i abcdSave = abcd;
    const __m128i e0Save = e0;
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), mask);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), mask);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), mask);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), mask);

    e0 = _mm_add_epi32(e0, m0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    KV_SHA1_STEP(1, e1, e0, m1, m2, m0, m3);
    KV_SHA1_STEP(2, e0, e1, m2, m3, m1, m0);
    KV_SHA1_STEP(3, e1, e0, m3, m0, m2, m1);
    KV_SHA1_STEP(4, e0, e1, m0, m1, m3, m2);
    KV_SHA1_STEP(5, e1, e0, m1, m2, m0, m3);
    KV_SHA1_STEP(6, e0, e1, m2, m3, m1, m0);
    KV_SHA1_STEP(7, e1, e0, m3, m0, m2, m1);
    KV_SHA1_STEP(8, e0, e1, m0, m1, m3, m2);
    KV_SHA1_STEP(9, e1, e0, m1, m2, m0, m3);
    KV_SHA1_STEP(10, e0, e1, m2, m3, m1, m0);
    KV_SHA1_STEP(11, e1, e0, m3, m0, m2, m1);
    KV_SHA1_STEP(12, e0, e1, m0, m1, m3, m2);
    KV_SHA1_STEP(13, e1, e0, m1, m2, m0, m3);
    KV_SHA1_STEP(14, e0, e1, m2, m3, m1, m0);
    KV_SHA1_STEP(15, e1, e0, m3, m0, m2, m1);
    KV_SHA1_STEP(16, e0, e1, m0, m1, m3, m2);
    KV_SHA1_STEP(17, e1, e0, m1, m2, m0, m3);
    KV_SHA1_STEP(18, e0, e1, m2, m3, m1, m0);
    KV_SHA1_STEP(19, e1, e0, m3, m0, m2, m1);

    e0 = _mm_sha1nexte_epu32(e0, e0Save);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

// Four rounds per step g (0..15) with m[g % 4] = W[4g..4g+3].
#define KV_SHA256_STEP(g, mg, mnext, mprev)                                              \
  do {                                                                                   \
    __m128i wk = _mm_add_epi32(mg, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256K + 4 * (g)))); \
    state1 = _mm_sha256rnds2_epu32(state1, state0, wk);                                  \
    if ((g) >= 3 && (g) <= 14) {                                                         \
      mnext = _mm_add_epi32(mnext, _mm_alignr_epi8(mg, mprev, 4));                       \
      mnext = _mm_sha256msg2_epu32(mnext, mg);                                           \
    }                                                                                    \
    wk = _mm_shuffle_epi32(wk, 0x0E);                                                    \
    state0 = _mm_sha256rnds2_epu32(state0, state1, wk);                                  \
    if ((g) >= 1 && (g) <= 12) mprev = _mm_sha256msg1_epu32(mprev, mg);                  \
  } while (0)

KV_SHA_TARGET void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* data, size_t count) {
  const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);  // CDAB
  __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);  // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);     // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);          // CDGH
  for (; count > 0; --count, data += 64) {
    const __m128i abefSave = state0;
    const __m128i cdghSave = state1;
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), mask);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), mask);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), mask);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), mask);

    KV_SHA256_STEP(0, m0, m1, m3);
    KV_SHA256_STEP(1, m1, m2, m0);
    KV_SHA256_STEP(2, m2, m3, m1);
    KV_SHA256_STEP(3, m3, m0, m2);
    KV_SHA256_STEP(4, m0, m1, m3);
    KV_SHA256_STEP(5, m1, m2, m0);
    KV_SHA256_STEP(6, m2, m3, m1);
    KV_SHA256_STEP(7, m3, m0, m2);
    KV_SHA256_STEP(8, m0, m1, m3);
    KV_SHA256_STEP(9, m1, m2, m0);
    KV_SHA256_STEP(10, m2, m3, m1);
    KV_SHA256_STEP(11, m3, m0, m2);
    KV_SHA256_STEP(12, m0, m1, m3);
    KV_SHA256_STEP(13, m1, m2, m0);
    KV_SHA256_STEP(14, m2, m3, m1);
    KV_SHA256_STEP(15, m3, m0, m2);

    state0 = _mm_add_epi32(state0, abefSave);
    state1 = _mm_add_epi32(state1, cdghSave);
  }
  tmp = _mm_shuffle_epi32(state0, 0x1B);                // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);             // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);          // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);             // EFGH
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

}  // namespace kv::digest

#endif  // KV_DIGEST_X86
