// The body of the vector SHA-512 compression, included by each file that
// builds it for one instruction set: the includer defines KV_S512_TARGET (the
// function attribute), KV_S512_ENTRY (the name of the block function) and,
// in kv::digest's anonymous namespace, template <int N> Ror(__m256i), a
// rotation right of four 64-bit words. The message schedule of two blocks is
// computed together in vector registers (one block per 128-bit lane, two
// words per lane) and stored as W + K; the rounds then run on scalar
// registers with BMI2's flag-free rotations and only one load and add per
// round for the schedule.
// No include guard: each includer compiles it once.

namespace kv::digest {

namespace {

// σ0 and σ1 of FIPS 180-4 on four words at once.
KV_S512_TARGET inline __m256i SmallSigma0(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(Ror<1>(x), Ror<8>(x)), _mm256_srli_epi64(x, 7));
}
KV_S512_TARGET inline __m256i SmallSigma1(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(Ror<19>(x), Ror<61>(x)), _mm256_srli_epi64(x, 6));
}

// Step j (0..39) of the schedule of the blocks at `p0` and `p1`: W[2j] and
// W[2j + 1] of both blocks, stored as W + K into wk0 and wk1. x[j % 8]
// holds W[2j], W[2j + 1] of block 0 in the low lane, of block 1 in the
// high lane.
KV_S512_TARGET __attribute__((always_inline)) inline void ScheduleStep(__m256i (&x)[8], int j, const uint8_t* p0, const uint8_t* p1,
                                        uint64_t* wk0, uint64_t* wk1) {
  if (j < 8) {
    const __m256i byteSwap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                                              7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i raw = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p1 + 16 * j),
                                            reinterpret_cast<const __m128i*>(p0 + 16 * j));
    x[j] = _mm256_shuffle_epi8(raw, byteSwap);
  } else {
    const __m256i w15 = _mm256_alignr_epi8(x[(j + 1) & 7], x[j & 7], 8);
    const __m256i w7 = _mm256_alignr_epi8(x[(j + 5) & 7], x[(j + 4) & 7], 8);
    x[j & 7] = _mm256_add_epi64(_mm256_add_epi64(x[j & 7], SmallSigma0(w15)),
                                _mm256_add_epi64(w7, SmallSigma1(x[(j + 7) & 7])));
  }
  const int t = 2 * j;
  const __m256i k = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha512K + t)));
  _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(wk1 + t), reinterpret_cast<__m128i*>(wk0 + t),
                       _mm256_add_epi64(x[j & 7], k));
}

// One round in the order the BMI2 forms suit: Ch as (e & f) + (~e & g),
// whose halves are disjoint so the sum can be added piecewise, and Σ0(a)
// added to the new `a` only at the start of the next round, which takes it
// off the path from one round's `a` to the next's.
#define KV_S512_ROUND_BMI2(a, b, c, d, e, f, g, h, wk) \
  do {                                                \
    (a) += sigma0;                                    \
    h += (wk);                                        \
    h += (e) & (f);                                   \
    h += ~(e) & (g);                                  \
    h += KV_S512_S1(e);                               \
    const uint64_t ab = (a) ^ (b);                    \
    d += h;                                           \
    sigma0 = KV_S512_S0(a);                           \
    h += (b) ^ (ab & bc);                             \
    bc = ab;                                          \
  } while (0)

#define KV_S512_EIGHT_BMI2(wk)                           \
  KV_S512_ROUND_BMI2(a, b, c, d, e, f, g, h, (wk)[0]); \
  KV_S512_ROUND_BMI2(h, a, b, c, d, e, f, g, (wk)[1]); \
  KV_S512_ROUND_BMI2(g, h, a, b, c, d, e, f, (wk)[2]); \
  KV_S512_ROUND_BMI2(f, g, h, a, b, c, d, e, (wk)[3]); \
  KV_S512_ROUND_BMI2(e, f, g, h, a, b, c, d, (wk)[4]); \
  KV_S512_ROUND_BMI2(d, e, f, g, h, a, b, c, (wk)[5]); \
  KV_S512_ROUND_BMI2(c, d, e, f, g, h, a, b, (wk)[6]); \
  KV_S512_ROUND_BMI2(b, c, d, e, f, g, h, a, (wk)[7])

// The 80 rounds of one block whose W + K is in `wk`; when `next0` is set,
// the schedule of the next two blocks (`next0`, `next1`) is computed in
// between, so the vector units work while the scalar rounds run.
KV_S512_TARGET __attribute__((always_inline)) inline void Rounds(uint64_t state[8], const uint64_t* wk, __m256i (&x)[8], const uint8_t* next0,
                                  const uint8_t* next1, uint64_t* nextWk0, uint64_t* nextWk1) {
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  uint64_t bc = b ^ c, sigma0 = 0;
#pragma GCC unroll 10
  for (int t = 0; t < 80; t += 8) {
    if (next0 != nullptr) {
      ScheduleStep(x, t / 2, next0, next1, nextWk0, nextWk1);
      ScheduleStep(x, t / 2 + 1, next0, next1, nextWk0, nextWk1);
    }
    KV_S512_EIGHT_BMI2(wk + t);
    if (next0 != nullptr) {
      ScheduleStep(x, t / 2 + 2, next0, next1, nextWk0, nextWk1);
      ScheduleStep(x, t / 2 + 3, next0, next1, nextWk0, nextWk1);
    }
  }
  a += sigma0;
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

KV_S512_TARGET void KV_S512_ENTRY(uint64_t state[8], const uint8_t* data, size_t count) {
  if (count == 0) return;
  // Two sets of W + K for two blocks each: the pair being compressed and the
  // pair being scheduled. A lone block is scheduled in both lanes; the copy
  // in the second lane is not used.
  alignas(32) uint64_t wk[2][2][80];
  __m256i x[8];
  const uint8_t* second = count > 1 ? data + 128 : data;
#pragma GCC unroll 40
  for (int j = 0; j < 40; ++j) ScheduleStep(x, j, data, second, wk[0][0], wk[0][1]);
  int current = 0;
  while (count > 0) {
    const size_t blocks = count > 1 ? 2 : 1;
    const size_t remaining = count - blocks;
    const uint8_t* next0 = remaining > 0 ? data + 128 * blocks : nullptr;
    const uint8_t* next1 = remaining > 1 ? next0 + 128 : next0;
    uint64_t(&next)[2][80] = wk[current ^ 1];
    Rounds(state, wk[current][0], x, next0, next1, next[0], next[1]);
    if (blocks == 2) Rounds(state, wk[current][1], x, nullptr, nullptr, nullptr, nullptr);
    data += 128 * blocks;
    count = remaining;
    current ^= 1;
  }
}

}  // namespace kv::digest
