// SignPkcs1: the bare PKCS#1 v1.5 signature of a text with the chosen
// signer's key, as hex or Base64.
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "sign/digest_choice.h"
#include "sign/signing_session.h"

namespace {

constexpr LONG kOutputBase64 = 0x100;
constexpr LONG kPlatformByteOrder = 0x4000;

ErrorCode SignPkcs1Text(CCapiEngine& engine, kv::sign::SigningSession& session, LONG flags, std::string* out) {
  ErrorCode code = session.Open(ERR_MY_STORE_DENIED);
  if (code == ERR_SUCCESS) code = session.AcquireKey();
  if (code == ERR_SUCCESS) code = session.Confirm();
  if (code != ERR_SUCCESS) return code;

  CByteBuffer content;
  session.ContentBytes(&content);
  const kv::sign::SignDigest choice = kv::sign::Pkcs1Digest(flags);
  CByteBuffer digest;
  if (!choice.Compute(content.Data(), content.Size(), &digest)) return ERR_MEM_ALLOC;

  CByteBuffer signature;
  code = session.SignHashValue(choice.PlatformAlgorithm(), digest.Data(), &signature);
  if (code != ERR_SUCCESS) return code;

  CByteBuffer ordered;
  const CByteBuffer* bytes = &signature;
  if (!(flags & kPlatformByteOrder)) {
    if (!ordered.AssignReversed(signature.Data(), signature.Size())) return ERR_MEM_ALLOC;
    bytes = &ordered;
  }
  CByteBuffer text;
  bool encoded = (flags & kOutputBase64) ? text.EncodeBase64(bytes->Data(), bytes->Size())
                                         : text.EncodeHex(bytes->Data(), bytes->Size());
  if (!encoded) return ERR_MEM_ALLOC;
  *out = text.c_str();
  engine.ResetErrors();
  return ERR_SUCCESS;
}

}  // namespace

BSTR CCapiEngine::SignPkcs1(BSTR strContent, LONG dwFlags) {
  kv::sign::SigningSession session(*this, strContent, dwFlags);
  std::string result;
  ErrorCode code = SignPkcs1Text(*this, session, dwFlags, &result);
  Finish(code);
  if (code != ERR_SUCCESS) result.clear();
  return kv::NarrowToBstr(result);
}
