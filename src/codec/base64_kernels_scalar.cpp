// Scalar Base64 kernels: encoding looks up 12 bits at a time in a table of
// character pairs; decoding ORs four per-position tables whose entries already
// sit at their place in the 24-bit result and carry a flag bit for anything
// outside the alphabet.
#include <cstring>

#include "codec/base64_kernels.h"

// The decoding tables lay the three result bytes out as a little-endian word.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the Base64 kernels assume a little-endian CPU"
#endif

namespace kv::codec::base64 {

const char kAlphabet[66] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

namespace {

constexpr uint32_t kNotAlphabet = 0x01000000u;

struct ScalarTables {
  char pairs[4096][2];
  // Little-endian result word b0 | b1 << 8 | b2 << 16 for each position.
  uint32_t position[4][256];

  ScalarTables() {
    for (int v = 0; v < 4096; ++v) {
      pairs[v][0] = kAlphabet[v >> 6];
      pairs[v][1] = kAlphabet[v & 63];
    }
    for (int p = 0; p < 4; ++p) {
      for (int c = 0; c < 256; ++c) position[p][c] = kNotAlphabet;
    }
    for (uint32_t s = 0; s < 64; ++s) {
      const unsigned char c = static_cast<unsigned char>(kAlphabet[s]);
      position[0][c] = s << 2;
      position[1][c] = (s >> 4) | ((s & 15) << 12);
      position[2][c] = ((s >> 2) << 8) | ((s & 3) << 22);
      position[3][c] = s << 16;
    }
  }
};

const ScalarTables& Tables() {
  static const ScalarTables tables;
  return tables;
}

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(v);
#else
  uint64_t r = 0;
  for (int i = 0; i < 8; ++i) r = (r << 8) | p[i];
  return r;
#endif
}

}  // namespace

size_t EncodeScalar(const uint8_t* src, size_t n, char* out) {
  const ScalarTables& t = Tables();
  size_t i = 0;
  // Six input bytes per step through an eight-byte load.
  for (; n - i >= 8; i += 6, out += 8) {
    const uint64_t v = LoadBigEndian64(src + i);
    std::memcpy(out + 0, t.pairs[(v >> 52) & 0xFFF], 2);
    std::memcpy(out + 2, t.pairs[(v >> 40) & 0xFFF], 2);
    std::memcpy(out + 4, t.pairs[(v >> 28) & 0xFFF], 2);
    std::memcpy(out + 6, t.pairs[(v >> 16) & 0xFFF], 2);
  }
  for (; n - i >= 3; i += 3, out += 4) {
    const uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8) | src[i + 2];
    std::memcpy(out + 0, t.pairs[v >> 12], 2);
    std::memcpy(out + 2, t.pairs[v & 0xFFF], 2);
  }
  return i;
}

size_t DecodeScalar(const char* src, size_t n, uint8_t* out) {
  const ScalarTables& t = Tables();
  const unsigned char* in = reinterpret_cast<const unsigned char*>(src);
  size_t i = 0;
  for (; n - i >= 8; i += 8, out += 6) {
    const uint32_t a = t.position[0][in[i]] | t.position[1][in[i + 1]] |
                       t.position[2][in[i + 2]] | t.position[3][in[i + 3]];
    const uint32_t b = t.position[0][in[i + 4]] | t.position[1][in[i + 5]] |
                       t.position[2][in[i + 6]] | t.position[3][in[i + 7]];
    if ((a | b) & kNotAlphabet) break;
    std::memcpy(out, &a, 4);
    std::memcpy(out + 3, &b, 4);
  }
  for (; n - i >= 4; i += 4, out += 3) {
    const uint32_t a = t.position[0][in[i]] | t.position[1][in[i + 1]] |
                       t.position[2][in[i + 2]] | t.position[3][in[i + 3]];
    if (a & kNotAlphabet) break;
    std::memcpy(out, &a, 4);
  }
  return i;
}

}  // namespace kv::codec::base64
