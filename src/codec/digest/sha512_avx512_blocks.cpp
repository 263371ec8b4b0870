// SHA-512 compression for x86 processors that also have AVX-512F and VL:
// the same body as the AVX2 one (sha512_vector_body.h), with the message
// schedule's rotations done by one VPRORQ each instead of two shifts and an
// OR, which is a sixth of the schedule's instructions. Only this file is
// compiled for AVX-512; the caller checks CPUID and the operating system's
// support of the AVX-512 state.
#include "codec/digest/sha512_rounds.h"

#if defined(KV_DIGEST_X86)

#include <immintrin.h>

#define KV_S512_TARGET __attribute__((target("avx2,bmi,bmi2,avx512f,avx512vl")))
#define KV_S512_ENTRY Sha512BlocksAvx512

namespace kv::digest {
namespace {

template <int N>
KV_S512_TARGET inline __m256i Ror(__m256i x) {
  return _mm256_ror_epi64(x, N);
}

}  // namespace
}  // namespace kv::digest

#include "codec/digest/sha512_vector_body.h"

#endif  // KV_DIGEST_X86
