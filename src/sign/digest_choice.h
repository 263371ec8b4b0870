// Which digest a signature is made with: MD5 and SHA-1 as the signing flags
// have always chosen them, the SHA-2 flags beside them, and the machine's
// default for calls that name no digest.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "codec/byte_buffer.h"
#include "codec/digest/digest_stream.h"

namespace kv::sign {

// SHA-2 flags of SignPkcs1 and SignPkcs7. One of them outranks 0x1000 and
// 0x2000's digest; of several, the longest digest wins.
inline constexpr LONG kDigestSha256 = 0x10000;
inline constexpr LONG kDigestSha384 = 0x20000;
inline constexpr LONG kDigestSha512 = 0x40000;
inline constexpr LONG kDigestMd5 = 0x1000;
// SignPkcs1 only: SHA-1 of the content's MD5 digest (SignPkcs7 reads the
// bit as "with signed attributes").
inline constexpr LONG kDigestSha1OfMd5 = 0x2000;

struct SignDigest {
  kv::digest::Algorithm algorithm = kv::digest::Algorithm::kSha1;
  bool overMd5 = false;  // the digest is taken of the content's MD5 digest

  bool IsSha2() const;
  // The hash algorithm the provider signs the value as (its DigestInfo).
  ALG_ID PlatformAlgorithm() const;
  // The digest algorithm identifier of a SignedData message (MD5 has always
  // been written as md5WithRSAEncryption there).
  const char* Pkcs7Oid() const;
  // The digest of `length` bytes at `data` as this choice takes it.
  bool Compute(const void* data, int32_t length, CByteBuffer* out) const;
};

SignDigest Pkcs1Digest(LONG flags);
SignDigest Pkcs7Digest(LONG flags);

}  // namespace kv::sign
