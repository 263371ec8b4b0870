// One-shot computation of the digest objects.
#include "codec/digests.h"

#include <cstring>

bool CDigestBuffer::Compute(const void* data, int32_t length) {
  Clear();
  kv::digest::Hasher hasher(algorithm_);
  if (data != nullptr && length > 0) hasher.Update(data, static_cast<size_t>(length));
  uint8_t digest[kv::digest::kMaxDigestLength];
  hasher.Final(digest);
  const int32_t size = static_cast<int32_t>(hasher.length());
  if (!Allocate(size)) return false;
  std::memcpy(Data(), digest, static_cast<size_t>(size));
  return true;
}

namespace kv::digest {

Algorithm AlgorithmFromHashFlags(long flags) {
  switch (flags & 7) {
    case 1: return Algorithm::kMd5;
    case 3: return Algorithm::kSha256;
    case 4: return Algorithm::kSha512;
    default: return Algorithm::kSha1;
  }
}

}  // namespace kv::digest
