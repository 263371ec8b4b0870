// MD5 compression (RFC 1321), fully unrolled. MD5 is one long dependency
// chain, so the round functions are written to put as little as possible on
// it: the message word and constant are added before the chaining value is
// needed, and G is split into two disjoint terms that can be added apart.
#include "codec/digest/block_functions.h"

namespace kv::digest {

namespace {

#define KV_MD5_F(a, b, c, d, x, k, s)              \
  a += (x) + (k) + ((d) ^ ((b) & ((c) ^ (d))));    \
  a = Rotl32(a, s) + (b)
#define KV_MD5_G(a, b, c, d, x, k, s)              \
  a += (x) + (k) + ((c) & ~(d));                   \
  a += ((b) & (d));                                \
  a = Rotl32(a, s) + (b)
#define KV_MD5_H(a, b, c, d, x, k, s)              \
  a += (x) + (k) + ((b) ^ (c) ^ (d));              \
  a = Rotl32(a, s) + (b)
#define KV_MD5_I(a, b, c, d, x, k, s)              \
  a += (x) + (k) + ((c) ^ ((b) | ~(d)));           \
  a = Rotl32(a, s) + (b)

}  // namespace

void Md5Blocks(uint32_t state[4], const uint8_t* data, size_t count) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; count > 0; --count, data += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLe32(data + 4 * i);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    KV_MD5_F(a, b, c, d, x[0], 0xd76aa478, 7);
    KV_MD5_F(d, a, b, c, x[1], 0xe8c7b756, 12);
    KV_MD5_F(c, d, a, b, x[2], 0x242070db, 17);
    KV_MD5_F(b, c, d, a, x[3], 0xc1bdceee, 22);
    KV_MD5_F(a, b, c, d, x[4], 0xf57c0faf, 7);
    KV_MD5_F(d, a, b, c, x[5], 0x4787c62a, 12);
    KV_MD5_F(c, d, a, b, x[6], 0xa8304613, 17);
    KV_MD5_F(b, c, d, a, x[7], 0xfd469501, 22);
    KV_MD5_F(a, b, c, d, x[8], 0x698098d8, 7);
    KV_MD5_F(d, a, b, c, x[9], 0x8b44f7af, 12);
    KV_MD5_F(c, d, a, b, x[10], 0xffff5bb1, 17);
    KV_MD5_F(b, c, d, a, x[11], 0x895cd7be, 22);
    KV_MD5_F(a, b, c, d, x[12], 0x6b901122, 7);
    KV_MD5_F(d, a, b, c, x[13], 0xfd987193, 12);
    KV_MD5_F(c, d, a, b, x[14], 0xa679438e, 17);
    KV_MD5_F(b, c, d, a, x[15], 0x49b40821, 22);

    KV_MD5_G(a, b, c, d, x[1], 0xf61e2562, 5);
    KV_MD5_G(d, a, b, c, x[6], 0xc040b340, 9);
    KV_MD5_G(c, d, a, b, x[11], 0x265e5a51, 14);
    KV_MD5_G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    KV_MD5_G(a, b, c, d, x[5], 0xd62f105d, 5);
    KV_MD5_G(d, a, b, c, x[10], 0x02441453, 9);
    KV_MD5_G(c, d, a, b, x[15], 0xd8a1e681, 14);
    KV_MD5_G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    KV_MD5_G(a, b, c, d, x[9], 0x21e1cde6, 5);
    KV_MD5_G(d, a, b, c, x[14], 0xc33707d6, 9);
    KV_MD5_G(c, d, a, b, x[3], 0xf4d50d87, 14);
    KV_MD5_G(b, c, d, a, x[8], 0x455a14ed, 20);
    KV_MD5_G(a, b, c, d, x[13], 0xa9e3e905, 5);
    KV_MD5_G(d, a, b, c, x[2], 0xfcefa3f8, 9);
    KV_MD5_G(c, d, a, b, x[7], 0x676f02d9, 14);
    KV_MD5_G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    KV_MD5_H(a, b, c, d, x[5], 0xfffa3942, 4);
    KV_MD5_H(d, a, b, c, x[8], 0x8771f681, 11);
    KV_MD5_H(c, d, a, b, x[11], 0x6d9d6122, 16);
    KV_MD5_H(b, c, d, a, x[14], 0xfde5380c, 23);
    KV_MD5_H(a, b, c, d, x[1], 0xa4beea44, 4);
    KV_MD5_H(d, a, b, c, x[4], 0x4bdecfa9, 11);
    KV_MD5_H(c, d, a, b, x[7], 0xf6bb4b60, 16);
    KV_MD5_H(b, c, d, a, x[10], 0xbebfbc70, 23);
    KV_MD5_H(a, b, c, d, x[13], 0x289b7ec6, 4);
    KV_MD5_H(d, a, b, c, x[0], 0xeaa127fa, 11);
    KV_MD5_H(c, d, a, b, x[3], 0xd4ef3085, 16);
    KV_MD5_H(b, c, d, a, x[6], 0x04881d05, 23);
    KV_MD5_H(a, b, c, d, x[9], 0xd9d4d039, 4);
    KV_MD5_H(d, a, b, c, x[12], 0xe6db99e5, 11);
    KV_MD5_H(c, d, a, b, x[15], 0x1fa27cf8, 16);
    KV_MD5_H(b, c, d, a, x[2], 0xc4ac5665, 23);

    KV_MD5_I(a, b, c, d, x[0], 0xf4292244, 6);
    KV_MD5_I(d, a, b, c, x[7], 0x432aff97, 10);
    KV_MD5_I(c, d, a, b, x[14], 0xab9423a7, 15);
    KV_MD5_I(b, c, d, a, x[5], 0xfc93a039, 21);
    KV_MD5_I(a, b, c, d, x[12], 0x655b59c3, 6);
    KV_MD5_I(d, a, b, c, x[3], 0x8f0ccc92, 10);
    KV_MD5_I(c, d, a, b, x[10], 0xffeff47d, 15);
    KV_MD5_I(b, c, d, a, x[1], 0x85845dd1, 21);
    KV_MD5_I(a, b, c, d, x[8], 0x6fa87e4f, 6);
    KV_MD5_I(d, a, b, c, x[15], 0xfe2ce6e0, 10);
    KV_MD5_I(c, d, a, b, x[6], 0xa3014314, 15);
    KV_MD5_I(b, c, d, a, x[13], 0x4e0811a1, 21);
    KV_MD5_I(a, b, c, d, x[4], 0xf7537e82, 6);
    KV_MD5_I(d, a, b, c, x[11], 0xbd3af235, 10);
    KV_MD5_I(c, d, a, b, x[2], 0x2ad7d2bb, 15);
    KV_MD5_I(b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace kv::digest
