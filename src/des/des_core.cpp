// DES rounds, key schedule and the permutation tables, built once from the
// standard's tables.
#include "des/des_core.h"

namespace kv::des {

namespace {

const uint8_t kInitialPermutation[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                         62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                         57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                         61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

const uint8_t kRoundPermutation[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                       2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

const uint8_t kPermutedChoice1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                      10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                      63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                      14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

const uint8_t kPermutedChoice2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                      26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                      51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

const uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

const uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2, 11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4,  13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, 13, 8,  11, 5, 6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1, 3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6, 8,  5, 3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9, 8,  6, 4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7, 5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5, 2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1, 7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2, 15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8, 1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9, 3,  14, 5,  0,  12, 7, 1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2, 7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Bit i (1 = most significant) of a value `width` bits wide.
inline uint64_t Bit(uint64_t value, int i, int width) { return (value >> (width - i)) & 1; }
inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> ((32 - n) & 31)); }
inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << ((32 - n) & 31)); }

// Into the rotated round form: the initial permutation, its halves each
// rotated left by one bit.
uint64_t InitialPermutationSlow(uint64_t block) {
  uint64_t permuted = 0;
  for (int i = 0; i < 64; ++i) permuted = (permuted << 1) | Bit(block, kInitialPermutation[i], 64);
  const uint32_t left = Rotl(uint32_t(permuted >> 32), 1), right = Rotl(uint32_t(permuted), 1);
  return (uint64_t(left) << 32) | right;
}

// Out of the rotated round form: the halves unrotated, then the inverse of
// the initial permutation.
uint64_t FinalPermutationSlow(uint64_t rotated) {
  const uint64_t block = (uint64_t(Rotr(uint32_t(rotated >> 32), 1)) << 32) | Rotr(uint32_t(rotated), 1);
  uint64_t out = 0;
  for (int i = 0; i < 64; ++i) out |= Bit(block, i + 1, 64) << (64 - kInitialPermutation[i]);
  return out;
}

struct Tables {
  // S-box n (0-7) combined with the round permutation, in the rotated form.
  uint32_t sp[8][64];
  // The two permutations, one table per input nibble.
  uint64_t initial[16][16];
  uint64_t final[16][16];

  Tables() {
    for (int box = 0; box < 8; ++box) {
      for (int x = 0; x < 64; ++x) {
        const int row = ((x >> 4) & 2) | (x & 1), column = (x >> 1) & 15;
        const uint32_t before = uint32_t(kSBoxes[box][row * 16 + column]) << (28 - 4 * box);
        uint32_t after = 0;
        for (int i = 0; i < 32; ++i) after = (after << 1) | uint32_t(Bit(before, kRoundPermutation[i], 32));
        sp[box][x] = Rotl(after, 1);
      }
    }
    for (int nibble = 0; nibble < 16; ++nibble) {
      for (int v = 0; v < 16; ++v) {
        const uint64_t in = uint64_t(v) << (60 - 4 * nibble);
        initial[nibble][v] = InitialPermutationSlow(in);
        final[nibble][v] = FinalPermutationSlow(in);
      }
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

inline uint64_t Permute(const uint64_t (&table)[16][16], uint64_t x) {
  return table[0][x >> 60] ^ table[1][(x >> 56) & 15] ^ table[2][(x >> 52) & 15] ^ table[3][(x >> 48) & 15] ^
         table[4][(x >> 44) & 15] ^ table[5][(x >> 40) & 15] ^ table[6][(x >> 36) & 15] ^
         table[7][(x >> 32) & 15] ^ table[8][(x >> 28) & 15] ^ table[9][(x >> 24) & 15] ^
         table[10][(x >> 20) & 15] ^ table[11][(x >> 16) & 15] ^ table[12][(x >> 12) & 15] ^
         table[13][(x >> 8) & 15] ^ table[14][(x >> 4) & 15] ^ table[15][x & 15];
}

inline uint64_t LoadBe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

inline void StoreBe64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = uint8_t(v);
}

// Blocks decrypted side by side.
constexpr size_t kDecryptLanes = 4;

// One round: `a` holds the S1/S3/S5/S7 key bits rotated to line up with the
// unrotated half, `b` the S2/S4/S6/S8 key bits, so the key is mixed in
// without first rotating the half.
#define KV_DES_ROUND(into, from, keys, n)                                                             \
  do {                                                                                                \
    const uint32_t a = (from) ^ (keys)[2 * (n)];                                                      \
    const uint32_t b = (from) ^ (keys)[2 * (n) + 1];                                                  \
    into ^= (sp[6][(a >> 4) & 63] ^ sp[4][(a >> 12) & 63]) ^ (sp[2][(a >> 20) & 63] ^ sp[0][Rotl(a, 4) & 63]) ^ \
            (sp[7][b & 63] ^ sp[5][(b >> 8) & 63]) ^ (sp[3][(b >> 16) & 63] ^ sp[1][(b >> 24) & 63]);       \
  } while (0)

// The S-box and permutation output of one round for the key-mixed inputs
// `a` and `b`, as a balanced tree of XORs.
#define KV_DES_F(a, b)                                                                                \
  (((sp[6][((a) >> 4) & 63] ^ sp[4][((a) >> 12) & 63]) ^ (sp[2][((a) >> 20) & 63] ^ sp[0][Rotl(a, 4) & 63])) ^ \
   ((sp[7][(b) & 63] ^ sp[5][((b) >> 8) & 63]) ^ (sp[3][((b) >> 16) & 63] ^ sp[1][((b) >> 24) & 63])))

// One round of a single block, with the next round's key already mixed in.
// The next round reads the half this one writes, so its inputs are
// (into ^ next key) ^ f, and (into ^ next key) does not wait for f. The XORs
// are ordered by when their operands arrive: the S-box 8 lookup needs one
// operation less to form its index, so it meets the early term first, and the
// slowest pairs are combined last. The written half itself is recovered from
// the next input, off the path from round to round.
#define KV_DES_ROUND_AHEAD(into, keys, n)                                                      \
  do {                                                                                         \
    const uint32_t u = sp[2][(a >> 20) & 63] ^ sp[0][Rotl(a, 4) & 63];                         \
    const uint32_t q = (sp[6][(a >> 4) & 63] ^ sp[4][(a >> 12) & 63]) ^                        \
                       (sp[3][(b >> 16) & 63] ^ sp[1][(b >> 24) & 63]);                        \
    const uint32_t t7 = sp[7][b & 63], t5 = sp[5][(b >> 8) & 63];                              \
    const uint32_t ka = (keys)[2 * (n) + 2];                                                   \
    a = ((((into) ^ ka) ^ t7) ^ t5 ^ u) ^ q;                                                   \
    b = ((((into) ^ (keys)[2 * (n) + 3]) ^ t7) ^ t5 ^ u) ^ q;                                  \
    into = a ^ ka;                                                                             \
  } while (0)

// Sixteen rounds on the rotated halves; the halves end unswapped (l = L16,
// r = R16), so the block continues as (r, l).
inline void Rounds(uint32_t& l, uint32_t& r, const uint32_t* keys, const uint32_t (&sp)[8][64]) {
  uint32_t a = r ^ keys[0], b = r ^ keys[1];
  KV_DES_ROUND_AHEAD(l, keys, 0);
  KV_DES_ROUND_AHEAD(r, keys, 1);
  KV_DES_ROUND_AHEAD(l, keys, 2);
  KV_DES_ROUND_AHEAD(r, keys, 3);
  KV_DES_ROUND_AHEAD(l, keys, 4);
  KV_DES_ROUND_AHEAD(r, keys, 5);
  KV_DES_ROUND_AHEAD(l, keys, 6);
  KV_DES_ROUND_AHEAD(r, keys, 7);
  KV_DES_ROUND_AHEAD(l, keys, 8);
  KV_DES_ROUND_AHEAD(r, keys, 9);
  KV_DES_ROUND_AHEAD(l, keys, 10);
  KV_DES_ROUND_AHEAD(r, keys, 11);
  KV_DES_ROUND_AHEAD(l, keys, 12);
  KV_DES_ROUND_AHEAD(r, keys, 13);
  KV_DES_ROUND_AHEAD(l, keys, 14);
  r ^= KV_DES_F(a, b);
}

// A whole DES or EDE pass on a block in round form (l, r); returns the block
// in round form as the final permutation expects it (high half r).
inline uint64_t Pass(uint32_t l, uint32_t r, const Schedule& k1, const Schedule* k2, const Schedule* k3,
                     const uint32_t (&sp)[8][64]) {
  Rounds(l, r, k1.words, sp);
  if (k2 != nullptr) {
    Rounds(r, l, k2->words, sp);
    Rounds(l, r, k3->words, sp);
  }
  return (uint64_t(r) << 32) | l;
}


// Sixteen rounds on N independent blocks at once: a block's rounds form one
// long dependency chain of table loads, so interleaving blocks lets the
// processor overlap them.
template <int N>
inline void RoundsN(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t* keys, const uint32_t (&sp)[8][64]) {
  for (int n = 0; n < 16; n += 2) {
    for (int i = 0; i < N; ++i) KV_DES_ROUND(l[i], r[i], keys, n);
    for (int i = 0; i < N; ++i) KV_DES_ROUND(r[i], l[i], keys, n + 1);
  }
}

// N blocks through the whole pass, from and to the forms of Pass.
template <int N>
inline void PassN(const uint64_t (&in)[N], uint64_t (&out)[N], const Schedule& k1, const Schedule* k2,
                  const Schedule* k3, const uint32_t (&sp)[8][64]) {
  uint32_t l[N], r[N];
  for (int i = 0; i < N; ++i) {
    l[i] = uint32_t(in[i] >> 32);
    r[i] = uint32_t(in[i]);
  }
  RoundsN(l, r, k1.words, sp);
  if (k2 != nullptr) {
    RoundsN(r, l, k2->words, sp);
    RoundsN(l, r, k3->words, sp);
  }
  for (int i = 0; i < N; ++i) out[i] = (uint64_t(r[i]) << 32) | l[i];
}

// CBC decryption of `count` (<= N) blocks; `state` is the previous
// ciphertext in round form and becomes the last of these.
template <int N>
inline void DecryptGroup(const Schedule& k1, const Schedule* k2, const Schedule* k3, const Tables& t,
                         uint64_t& state, const uint8_t* in, uint8_t* out) {
  uint64_t x[N], y[N];
  for (int i = 0; i < N; ++i) x[i] = Permute(t.initial, LoadBe64(in + 8 * i));
  PassN<N>(x, y, k1, k2, k3, t.sp);
  for (int i = 0; i < N; ++i) {
    StoreBe64(out + 8 * i, Permute(t.final, y[i] ^ state));
    state = x[i];
  }
}
}  // namespace

void MakeSchedule(const uint8_t key[8], bool decrypt, Schedule* schedule) {
  const uint64_t k = LoadBe64(key);
  uint32_t c = 0, d = 0;
  for (int i = 0; i < 28; ++i) c = (c << 1) | uint32_t(Bit(k, kPermutedChoice1[i], 64));
  for (int i = 28; i < 56; ++i) d = (d << 1) | uint32_t(Bit(k, kPermutedChoice1[i], 64));
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kKeyShifts[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    const uint64_t cd = (uint64_t(c) << 28) | d;
    uint32_t group[8] = {};
    for (int i = 0; i < 48; ++i) group[i / 6] = (group[i / 6] << 1) | uint32_t(Bit(cd, kPermutedChoice2[i], 56));
    const uint32_t odd = (group[0] << 24) | (group[2] << 16) | (group[4] << 8) | group[6];
    const uint32_t even = (group[1] << 24) | (group[3] << 16) | (group[5] << 8) | group[7];
    const int slot = decrypt ? 15 - round : round;
    schedule->words[2 * slot] = Rotl(odd, 4);
    schedule->words[2 * slot + 1] = even;
  }
}

void EncryptBlock(const Schedule& k1, const Schedule* k2, const Schedule* k3, const uint8_t in[8], uint8_t out[8]) {
  const Tables& t = T();
  const uint64_t x = Permute(t.initial, LoadBe64(in));
  StoreBe64(out, Permute(t.final, Pass(uint32_t(x >> 32), uint32_t(x), k1, k2, k3, t.sp)));
}

void CbcEncrypt(const Schedule& k1, const Schedule* k2, const Schedule* k3, uint8_t chain[8], const uint8_t* in,
                uint8_t* out, size_t blocks) {
  const Tables& t = T();
  // The chaining value in round form: IP(previous ciphertext) = the previous
  // pass's output with its halves swapped back.
  uint64_t state = Permute(t.initial, LoadBe64(chain));
  for (size_t i = 0; i < blocks; ++i) {
    const uint64_t x = Permute(t.initial, LoadBe64(in + 8 * i)) ^ state;
    const uint64_t y = Pass(uint32_t(x >> 32), uint32_t(x), k1, k2, k3, t.sp);
    state = y;
    StoreBe64(out + 8 * i, Permute(t.final, y));
  }
  if (blocks > 0) StoreBe64(chain, Permute(t.final, state));
}

void CbcDecrypt(const Schedule& k1, const Schedule* k2, const Schedule* k3, uint8_t chain[8], const uint8_t* in,
                uint8_t* out, size_t blocks) {
  if (blocks == 0) return;
  const Tables& t = T();
  uint64_t state = Permute(t.initial, LoadBe64(chain));
  size_t i = 0;
  for (; i + kDecryptLanes <= blocks; i += kDecryptLanes) {
    DecryptGroup<kDecryptLanes>(k1, k2, k3, t, state, in + 8 * i, out + 8 * i);
  }
  for (; i < blocks; ++i) DecryptGroup<1>(k1, k2, k3, t, state, in + 8 * i, out + 8 * i);
  StoreBe64(chain, Permute(t.final, state));
}

}  // namespace kv::des
