// Streaming message digests (MD5, SHA-1, SHA-256, SHA-384, SHA-512): the engine's own
// implementation behind the digest objects and the file hashing, which feeds
// a file through in chunks instead of holding it whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::digest {

enum class Algorithm { kMd5, kSha1, kSha256, kSha512, kSha384 };

constexpr size_t kMaxDigestLength = 64;
size_t DigestLength(Algorithm algorithm);

class Hasher {
 public:
  explicit Hasher(Algorithm algorithm);

  Algorithm algorithm() const { return algorithm_; }
  size_t length() const { return DigestLength(algorithm_); }

  // Starts a new message (the constructor already did).
  void Reset();
  void Update(const void* data, size_t length);
  // Pads, writes length() bytes to `out` and starts a new message.
  void Final(uint8_t* out);

 private:
  // SHA-384 is SHA-512 with its own initial values, cut to 48 bytes.
  bool Wide() const { return algorithm_ == Algorithm::kSha512 || algorithm_ == Algorithm::kSha384; }
  size_t BlockSize() const { return Wide() ? 128 : 64; }
  void Blocks(const uint8_t* data, size_t count);

  Algorithm algorithm_;
  union {
    uint32_t words32[8];
    uint64_t words64[8];
  } state_;
  alignas(16) uint8_t pending_[128];
  size_t pendingLength_ = 0;
  uint64_t totalBytes_ = 0;
};

// Which block functions run. kAuto picks the fastest the processor supports
// (the SHA instructions for SHA-1 and SHA-256, AVX2 and BMI2 for SHA-512);
// kPortable forces the plain C++
// code everywhere, so tests can hold every path to the same results. The
// environment variable KORVESSA_DIGEST_PORTABLE=1 forces kPortable at start.
enum class Implementation { kAuto, kPortable };
void SelectImplementation(Implementation implementation);
Implementation SelectedImplementation();

// What the processor offers, and what the current selection uses.
bool CpuHasShaExtensions();
bool UsingShaExtensions();
bool CpuHasAvx2Bmi2();
// AVX-512F and VL usable as well (the SHA-512 schedule then rotates with them).
bool CpuHasAvx512Vl();
bool UsingAvx2Sha512();

}  // namespace kv::digest
