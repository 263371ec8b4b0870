// The compression functions of the digests, one per algorithm and processor
// feature; each consumes `count` whole blocks and updates the chaining state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::digest {

// The 64 round constants of SHA-256 (FIPS 180-4 4.2.2), 16-byte aligned so
// the SHA-instruction path can load them four at a time.
extern const uint32_t kSha256K[64];

void Md5Blocks(uint32_t state[4], const uint8_t* data, size_t count);
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t count);
void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t count);
void Sha512BlocksPortable(uint64_t state[8], const uint8_t* data, size_t count);

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KV_DIGEST_X86 1
// Need SSSE3, SSE4.1 and the SHA extensions (checked by the caller).
void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* data, size_t count);
void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* data, size_t count);
// Needs AVX2 (with the operating system saving YMM state) and BMI2.
void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* data, size_t count);
// The same with the schedule's rotations in AVX-512VL (needs AVX-512F and VL, and the OS's AVX-512 state).
void Sha512BlocksAvx512(uint64_t state[8], const uint8_t* data, size_t count);
#endif

inline uint32_t LoadBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t LoadBe64(const uint8_t* p) { return (uint64_t(LoadBe32(p)) << 32) | LoadBe32(p + 4); }
inline uint32_t Rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t Rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint64_t Rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

}  // namespace kv::digest
