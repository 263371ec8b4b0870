// The digest objects the engine's operations use: each is a CByteBuffer that
// holds the digest after Compute (MD5 in RFC 1321 byte order, the SHA family
// most significant byte of the first chaining word first).
#pragma once

#include <cstdint>

#include "codec/byte_buffer.h"
#include "codec/digest/digest_stream.h"

class CDigestBuffer : public CByteBuffer {
 public:
  // Digests `length` bytes at `data` in one pass and stores the digest as the
  // buffer's content. A zero or negative length, or null data, digests the
  // empty message. False only when the result storage cannot be had.
  bool Compute(const void* data, int32_t length);

 protected:
  explicit CDigestBuffer(kv::digest::Algorithm algorithm) : algorithm_(algorithm) {}

 private:
  kv::digest::Algorithm algorithm_;
};

class CMd5Digest : public CDigestBuffer {
 public:
  CMd5Digest() : CDigestBuffer(kv::digest::Algorithm::kMd5) {}
};

class CSha1Digest : public CDigestBuffer {
 public:
  CSha1Digest() : CDigestBuffer(kv::digest::Algorithm::kSha1) {}
};

class CSha256Digest : public CDigestBuffer {
 public:
  CSha256Digest() : CDigestBuffer(kv::digest::Algorithm::kSha256) {}
};

class CSha384Digest : public CDigestBuffer {
 public:
  CSha384Digest() : CDigestBuffer(kv::digest::Algorithm::kSha384) {}
};

class CSha512Digest : public CDigestBuffer {
 public:
  CSha512Digest() : CDigestBuffer(kv::digest::Algorithm::kSha512) {}
};

// A digest object whose algorithm is chosen at run time (the signing
// operations pick theirs from the caller's flags).
class CDigest : public CDigestBuffer {
 public:
  explicit CDigest(kv::digest::Algorithm algorithm) : CDigestBuffer(algorithm) {}
};

namespace kv::digest {
// The digest the Hash operations choose from their flags: dwFlags & 7 = 1 MD5,
// 3 SHA-256, 4 SHA-512, anything else SHA-1.
Algorithm AlgorithmFromHashFlags(long flags);
}  // namespace kv::digest
