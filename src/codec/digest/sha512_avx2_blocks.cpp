// SHA-512 compression for x86 processors with AVX2, BMI1 and BMI2 (the body
// is sha512_vector_body.h). Only this file is compiled for AVX2/BMI2; the
// caller checks CPUID and the operating system's YMM support.
#include "codec/digest/sha512_rounds.h"

#if defined(KV_DIGEST_X86)

#include <immintrin.h>

#define KV_S512_TARGET __attribute__((target("avx2,bmi,bmi2")))
#define KV_S512_ENTRY Sha512BlocksAvx2

namespace kv::digest {
namespace {

template <int N>
KV_S512_TARGET inline __m256i Ror(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi64(x, N), _mm256_slli_epi64(x, 64 - N));
}

}  // namespace
}  // namespace kv::digest

#include "codec/digest/sha512_vector_body.h"

#endif  // KV_DIGEST_X86
