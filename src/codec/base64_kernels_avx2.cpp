// AVX2 Base64 kernels: 24 input bytes to 32 characters per step when
// encoding; 32 characters to 24 bytes per step when decoding, taken only when
// all 32 are alphabet characters (anything else goes back to the caller's
// exact path). Compiled for AVX2 function by function, so the rest of the
// module keeps the baseline instruction set; used only when the CPU says so.
#include "codec/base64_kernels.h"

// Not with GCC for Windows: it cannot align the stack to 32 bytes and may
// spill 256-bit registers with aligned moves, which faults.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && \
    !(defined(_WIN32) && !defined(__clang__))
#define KV_BASE64_AVX2 1
#include <immintrin.h>
#endif

namespace kv::codec::base64 {

#ifdef KV_BASE64_AVX2
namespace {

__attribute__((target("avx2"))) inline __m256i SixBitValuesToAscii(__m256i values) {
  // Rank 0: 'A'..'Z' (values 0-25) get 13, 'a'..'z' 0, digits 1-10, '+' 11,
  // '/' 12; the rank picks the offset that turns a value into its character.
  const __m256i offsets = _mm256_setr_epi8(
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A',
      0, 0);
  __m256i rank = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
  const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
  rank = _mm256_or_si256(rank, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, rank), values);
}

__attribute__((target("avx2"))) size_t EncodeAvx2Impl(const uint8_t* src, size_t n, char* out) {
  // Each 128-bit lane takes 12 bytes; two 16-byte loads need 28 readable bytes.
  const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0,
                                          2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  size_t i = 0;
  for (; n - i >= 28; i += 24, out += 32) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 12));
    __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    // Per 32-bit word the bytes b1 b0 b2 b1; multiplications move each 6-bit
    // field into its own byte.
    in = _mm256_shuffle_epi8(in, spread);
    const __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(in, _mm256_set1_epi32(0x0FC0FC00)),
                                          _mm256_set1_epi32(0x04000040));
    const __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(in, _mm256_set1_epi32(0x003F03F0)),
                                          _mm256_set1_epi32(0x01000010));
    const __m256i chars = SixBitValuesToAscii(_mm256_or_si256(ac, bd));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
  }
  return i + EncodeScalar(src + i, n - i, out);
}

__attribute__((target("avx2"))) size_t DecodeAvx2Impl(const char* src, size_t n, uint8_t* out) {
  // Classification by nibbles: a character is in the alphabet exactly when
  // the bits its low nibble and its high nibble select have nothing in common.
  const __m256i lowClass = _mm256_setr_epi8(
      0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A,
      0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i highClass = _mm256_setr_epi8(
      0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
      0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // Offset from character to value by high nibble ('/' is moved to slot 1).
  const __m256i toValue = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i slash = _mm256_set1_epi8('/');
  const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1,
                                        0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i joinLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);

  size_t i = 0;
  for (; n - i >= 32; i += 32, out += 24) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(in, 4), nibble);
    const __m256i low = _mm256_and_si256(in, nibble);
    const __m256i cls = _mm256_and_si256(_mm256_shuffle_epi8(lowClass, low),
                                         _mm256_shuffle_epi8(highClass, high));
    if (!_mm256_testz_si256(cls, cls)) break;
    const __m256i slot = _mm256_add_epi8(_mm256_cmpeq_epi8(in, slash), high);
    const __m256i values = _mm256_add_epi8(in, _mm256_shuffle_epi8(toValue, slot));
    // a*64+b and c*64+d in 16 bits, then (ab)*4096+cd in 32 bits.
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), joinLanes);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
  }
  return i + DecodeScalar(src + i, n - i, out);
}

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace

EncodeKernel EncodeAvx2() {
  static const bool available = CpuHasAvx2();
  return available ? &EncodeAvx2Impl : nullptr;
}

DecodeKernel DecodeAvx2() {
  static const bool available = CpuHasAvx2();
  return available ? &DecodeAvx2Impl : nullptr;
}

#else

EncodeKernel EncodeAvx2() { return nullptr; }
DecodeKernel DecodeAvx2() { return nullptr; }

#endif

namespace {
bool g_forceScalar = false;
}  // namespace

EncodeKernel ActiveEncodeKernel() {
  EncodeKernel fast = g_forceScalar ? nullptr : EncodeAvx2();
  return fast ? fast : &EncodeScalar;
}

DecodeKernel ActiveDecodeKernel() {
  DecodeKernel fast = g_forceScalar ? nullptr : DecodeAvx2();
  return fast ? fast : &DecodeScalar;
}

void ForceScalarKernels(bool force) { g_forceScalar = force; }

}  // namespace kv::codec::base64
