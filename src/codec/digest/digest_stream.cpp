// The streaming front of the digests: buffering of partial blocks, padding,
// output byte order, and the run-time choice of block functions.
#include "codec/digest/digest_stream.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "codec/digest/block_functions.h"

#if defined(KV_DIGEST_X86)
#include <cpuid.h>
#endif

namespace kv::digest {

namespace {

struct CpuFeatures {
  bool shaExtensions = false;
  bool avx2Bmi2 = false;
  bool avx512Vl = false;  // and avx2Bmi2
};

CpuFeatures DetectCpu() {
  CpuFeatures features;
#if defined(KV_DIGEST_X86)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return features;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  // AVX registers are usable only when the operating system saves them.
  bool ymmState = false, zmmState = false;
  if ((ecx & (1u << 27)) != 0 && (ecx & (1u << 28)) != 0) {
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    ymmState = (xcr0Low & 6u) == 6u;
    zmmState = (xcr0Low & 0xE6u) == 0xE6u;  // opmask and both halves of the ZMM registers too
  }
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return features;
  features.shaExtensions = ssse3 && sse41 && (ebx & (1u << 29)) != 0;
  features.avx2Bmi2 = ymmState && (ebx & (1u << 5)) != 0 && (ebx & (1u << 8)) != 0;
  features.avx512Vl = features.avx2Bmi2 && zmmState && (ebx & (1u << 16)) != 0 && (ebx & (1u << 31)) != 0;
#endif
  return features;
}

const CpuFeatures& Cpu() {
  static const CpuFeatures features = DetectCpu();
  return features;
}

bool PortableFromEnvironment() {
  const char* value = std::getenv("KORVESSA_DIGEST_PORTABLE");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

std::atomic<int>& SelectionFlag() {
  static std::atomic<int> flag(PortableFromEnvironment() ? int(Implementation::kPortable)
                                                         : int(Implementation::kAuto));
  return flag;
}

bool Portable() { return SelectionFlag().load(std::memory_order_relaxed) == int(Implementation::kPortable); }

void StoreBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

void StoreBe64(uint8_t* p, uint64_t v) {
  StoreBe32(p, uint32_t(v >> 32));
  StoreBe32(p + 4, uint32_t(v));
}

void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

size_t DigestLength(Algorithm algorithm) {
  switch (algorithm) {
    case Algorithm::kMd5: return 16;
    case Algorithm::kSha1: return 20;
    case Algorithm::kSha256: return 32;
    case Algorithm::kSha384: return 48;
    case Algorithm::kSha512: return 64;
  }
  return 0;
}

void SelectImplementation(Implementation implementation) {
  SelectionFlag().store(int(implementation), std::memory_order_relaxed);
}

Implementation SelectedImplementation() { return Portable() ? Implementation::kPortable : Implementation::kAuto; }

bool CpuHasShaExtensions() { return Cpu().shaExtensions; }
bool UsingShaExtensions() { return !Portable() && Cpu().shaExtensions; }
bool CpuHasAvx2Bmi2() { return Cpu().avx2Bmi2; }
bool CpuHasAvx512Vl() { return Cpu().avx512Vl; }
bool UsingAvx2Sha512() { return !Portable() && Cpu().avx2Bmi2; }

Hasher::Hasher(Algorithm algorithm) : algorithm_(algorithm) { Reset(); }

void Hasher::Reset() {
  static const uint32_t kMd5Init[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  static const uint32_t kSha1Init[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  static const uint32_t kSha256Init[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static const uint64_t kSha512Init[8] = {0x6a09e667f3bcc908ull, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull,
                                          0xa54ff53a5f1d36f1ull, 0x510e527fade682d1ull, 0x9b05688c2b3e6c1full,
                                          0x1f83d9abfb41bd6bull, 0x5be0cd19137e2179ull};
  static const uint64_t kSha384Init[8] = {0xcbbb9d5dc1059ed8ull, 0x629a292a367cd507ull, 0x9159015a3070dd17ull,
                                          0x152fecd8f70e5939ull, 0x67332667ffc00b31ull, 0x8eb44a8768581511ull,
                                          0xdb0c2e0d64f98fa7ull, 0x47b5481dbefa4fa4ull};
  std::memset(&state_, 0, sizeof(state_));
  switch (algorithm_) {
    case Algorithm::kMd5: std::memcpy(state_.words32, kMd5Init, sizeof(kMd5Init)); break;
    case Algorithm::kSha1: std::memcpy(state_.words32, kSha1Init, sizeof(kSha1Init)); break;
    case Algorithm::kSha256: std::memcpy(state_.words32, kSha256Init, sizeof(kSha256Init)); break;
    case Algorithm::kSha512: std::memcpy(state_.words64, kSha512Init, sizeof(kSha512Init)); break;
    case Algorithm::kSha384: std::memcpy(state_.words64, kSha384Init, sizeof(kSha384Init)); break;
  }
  pendingLength_ = 0;
  totalBytes_ = 0;
}

void Hasher::Blocks(const uint8_t* data, size_t count) {
  switch (algorithm_) {
    case Algorithm::kMd5:
      Md5Blocks(state_.words32, data, count);
      return;
    case Algorithm::kSha1:
#if defined(KV_DIGEST_X86)
      if (UsingShaExtensions()) return Sha1BlocksShaNi(state_.words32, data, count);
#endif
      Sha1BlocksPortable(state_.words32, data, count);
      return;
    case Algorithm::kSha256:
#if defined(KV_DIGEST_X86)
      if (UsingShaExtensions()) return Sha256BlocksShaNi(state_.words32, data, count);
#endif
      Sha256BlocksPortable(state_.words32, data, count);
      return;
    case Algorithm::kSha512:
    case Algorithm::kSha384:
#if defined(KV_DIGEST_X86)
      if (UsingAvx2Sha512())
        return Cpu().avx512Vl ? Sha512BlocksAvx512(state_.words64, data, count)
                              : Sha512BlocksAvx2(state_.words64, data, count);
#endif
      Sha512BlocksPortable(state_.words64, data, count);
      return;
  }
}

void Hasher::Update(const void* data, size_t length) {
  if (data == nullptr || length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  const size_t blockSize = BlockSize();
  totalBytes_ += length;
  if (pendingLength_ > 0) {
    const size_t take = length < blockSize - pendingLength_ ? length : blockSize - pendingLength_;
    std::memcpy(pending_ + pendingLength_, in, take);
    pendingLength_ += take;
    in += take;
    length -= take;
    if (pendingLength_ < blockSize) return;
    Blocks(pending_, 1);
    pendingLength_ = 0;
  }
  const size_t whole = length / blockSize;
  if (whole > 0) {
    Blocks(in, whole);
    in += whole * blockSize;
    length -= whole * blockSize;
  }
  if (length > 0) {
    std::memcpy(pending_, in, length);
    pendingLength_ = length;
  }
}

void Hasher::Final(uint8_t* out) {
  const size_t blockSize = BlockSize();
  // The length field: 8 bytes of bit count (16 for SHA-512 and SHA-384, whose
  // upper half holds the bits shifted out of the 64-bit byte count).
  const size_t lengthField = Wide() ? 16 : 8;
  const uint64_t bitsLow = totalBytes_ << 3;
  const uint64_t bitsHigh = totalBytes_ >> 61;

  pending_[pendingLength_++] = 0x80;
  if (pendingLength_ > blockSize - lengthField) {
    std::memset(pending_ + pendingLength_, 0, blockSize - pendingLength_);
    Blocks(pending_, 1);
    pendingLength_ = 0;
  }
  std::memset(pending_ + pendingLength_, 0, blockSize - pendingLength_);
  if (algorithm_ == Algorithm::kMd5) {
    StoreLe32(pending_ + 56, uint32_t(bitsLow));
    StoreLe32(pending_ + 60, uint32_t(bitsLow >> 32));
  } else if (Wide()) {
    StoreBe64(pending_ + 112, bitsHigh);
    StoreBe64(pending_ + 120, bitsLow);
  } else {
    StoreBe64(pending_ + 56, bitsLow);
  }
  Blocks(pending_, 1);

  switch (algorithm_) {
    case Algorithm::kMd5:
      for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, state_.words32[i]);
      break;
    case Algorithm::kSha1:
      for (int i = 0; i < 5; ++i) StoreBe32(out + 4 * i, state_.words32[i]);
      break;
    case Algorithm::kSha256:
      for (int i = 0; i < 8; ++i) StoreBe32(out + 4 * i, state_.words32[i]);
      break;
    case Algorithm::kSha384:
      for (int i = 0; i < 6; ++i) StoreBe64(out + 8 * i, state_.words64[i]);
      break;
    case Algorithm::kSha512:
      for (int i = 0; i < 8; ++i) StoreBe64(out + 8 * i, state_.words64[i]);
      break;
  }
  Reset();
}

}  // namespace kv::digest
