// The signing operations' digest rules.
#include "sign/digest_choice.h"

#include "codec/digests.h"
#include "sign/machine_digest.h"

namespace kv::sign {
namespace {

using kv::digest::Algorithm;

// The SHA-2 digest the flags name, the longest first; false when none.
bool StrongDigest(LONG flags, Algorithm* algorithm) {
  if (flags & kDigestSha512) *algorithm = Algorithm::kSha512;
  else if (flags & kDigestSha384) *algorithm = Algorithm::kSha384;
  else if (flags & kDigestSha256) *algorithm = Algorithm::kSha256;
  else return false;
  return true;
}

SignDigest Of(Algorithm algorithm, bool overMd5 = false) {
  SignDigest digest;
  digest.algorithm = algorithm;
  digest.overMd5 = overMd5;
  return digest;
}

// What a call that names no digest gets.
SignDigest Unnamed() { return Of(MachineDefaultsToSha256() ? Algorithm::kSha256 : Algorithm::kSha1); }

}  // namespace

bool SignDigest::IsSha2() const {
  return algorithm == Algorithm::kSha256 || algorithm == Algorithm::kSha384 || algorithm == Algorithm::kSha512;
}

ALG_ID SignDigest::PlatformAlgorithm() const {
  switch (algorithm) {
    case Algorithm::kMd5: return CALG_MD5;
    case Algorithm::kSha256: return CALG_SHA_256;
    case Algorithm::kSha384: return CALG_SHA_384;
    case Algorithm::kSha512: return CALG_SHA_512;
    case Algorithm::kSha1: break;
  }
  return CALG_SHA1;
}

const char* SignDigest::Pkcs7Oid() const {
  switch (algorithm) {
    case Algorithm::kMd5: return "1.2.840.113549.1.1.4";
    case Algorithm::kSha256: return "2.16.840.1.101.3.4.2.1";
    case Algorithm::kSha384: return "2.16.840.1.101.3.4.2.2";
    case Algorithm::kSha512: return "2.16.840.1.101.3.4.2.3";
    case Algorithm::kSha1: break;
  }
  return "1.3.14.3.2.26";
}

bool SignDigest::Compute(const void* data, int32_t length, CByteBuffer* out) const {
  CDigest digest(algorithm);
  if (overMd5) {
    CMd5Digest md5;
    if (!md5.Compute(data, length) || !digest.Compute(md5.Data(), md5.Size())) return false;
  } else if (!digest.Compute(data, length)) {
    return false;
  }
  out->Clear();
  return out->Append(digest.Data(), digest.Size());
}

SignDigest Pkcs1Digest(LONG flags) {
  Algorithm strong;
  if (StrongDigest(flags, &strong)) return Of(strong);
  if (flags & kDigestMd5) return Of(Algorithm::kMd5);
  if (flags & kDigestSha1OfMd5) return Of(Algorithm::kSha1, true);
  return Unnamed();
}

SignDigest Pkcs7Digest(LONG flags) {
  Algorithm strong;
  if (StrongDigest(flags, &strong)) return Of(strong);
  if (flags & kDigestMd5) return Of(Algorithm::kMd5);
  return Unnamed();
}

}  // namespace kv::sign
