// SignPkcs7: a PKCS#7 SignedData message over a text, signed with the chosen
// signer's key, with no certificate, the signer's, or its chain.
#include <windows.h>
#include <wincrypt.h>

#include "engine/capi_engine.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "sign/digest_choice.h"
#include "sign/pkcs7_builder.h"
#include "sign/signing_session.h"

namespace {

constexpr LONG kNoCertificates = 0x100;
constexpr LONG kWithChain = 0x200;
constexpr LONG kDetached = 0x400;
constexpr LONG kWithAttributes = 0x2000;

// Steps of the assembly done here rather than in the builder; like the
// builder's, a failing step's number is what GetCapiErrorCode reports
// (GetCapiErrorMsg then shows the system text of the same number:
// ERROR_BAD_COMMAND, ERROR_BAD_NETPATH, ERROR_NETWORK_BUSY).
constexpr DWORD kStepReverseSignature = 22;
constexpr DWORD kStepAddChainCertificate = 53;
constexpr DWORD kStepAddSignerCertificate = 54;

// Whether a chain's trust status is good enough to ship: time problems and an
// untrusted root are tolerated, revocation, bad signatures and wrong usages
// are not, whatever else is set alongside them.
bool IsAcceptableChain(DWORD status) {
  const DWORD fatal = CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
  if (status == 0) return true;
  if (status & fatal) return false;
  return (status & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_IS_UNTRUSTED_ROOT)) != 0;
}

ErrorCode AddChain(CCapiEngine& engine, PCCERT_CONTEXT cert, kv::sign::CPkcs7Builder& builder) {
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  // The chain engine searches only the system stores and the additional
  // store: the signer's own store (a PFX's, with its issuers) is named here.
  if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain)) {
    engine.FailWithLastError(ERR_NO_CHAIN);
    return ERR_NO_CHAIN;
  }
  ErrorCode code = ERR_SUCCESS;
  if (!IsAcceptableChain(chain->TrustStatus.dwErrorStatus) || chain->cChain == 0) {
    code = ERR_NO_CHAIN;
  } else {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement && code == ERR_SUCCESS; ++i) {
      PCCERT_CONTEXT element = simple->rgpElement[i]->pCertContext;
      if (!builder.AddCertificate(element->pbCertEncoded, element->cbCertEncoded)) {
        code = ERR_ASN1_ENCODE;
        engine.FailWithPlatformError(code, kStepAddChainCertificate);
      }
    }
  }
  CertFreeCertificateChain(chain);
  return code;
}

// A builder failure: an encoding step's number goes with its code.
ErrorCode RecordFailure(CCapiEngine& engine, const kv::sign::Pkcs7Failure& failure) {
  if (failure.code == ERR_ASN1_ENCODE)
    engine.FailWithPlatformError(failure.code, failure.step);
  else
    engine.Fail(failure.code);
  return failure.code;
}

ErrorCode SignPkcs7Text(CCapiEngine& engine, kv::sign::SigningSession& session, LONG flags, std::string* out) {
  ErrorCode code = session.Open(ERR_SIGN);
  if (code == ERR_SUCCESS) code = session.Confirm();
  if (code != ERR_SUCCESS) return code;

  CByteBuffer content;
  session.ContentBytes(&content);
  const kv::sign::SignDigest choice = kv::sign::Pkcs7Digest(flags);
  CByteBuffer digest;
  if (!choice.Compute(content.Data(), content.Size(), &digest)) return ERR_MEM_ALLOC;

  kv::sign::CPkcs7Builder builder;
  const CByteBuffer& signer = engine.Signer().Certificate();
  kv::sign::Pkcs7Failure failure =
      builder.Prepare(signer.Data(), signer.Size(), digest, choice, (flags & kWithAttributes) != 0);
  if (failure.code != ERR_SUCCESS) return RecordFailure(engine, failure);

  code = session.AcquireKey();
  if (code != ERR_SUCCESS) return code;
  CByteBuffer signature;
  code = session.SignHashValue(choice.PlatformAlgorithm(), builder.ValueToSign().Data(), &signature);
  if (code != ERR_SUCCESS) return code;
  CByteBuffer encryptedDigest;
  if (!encryptedDigest.AssignReversed(signature.Data(), signature.Size())) {
    engine.FailWithPlatformError(ERR_ASN1_ENCODE, kStepReverseSignature);
    return ERR_ASN1_ENCODE;
  }

  if (flags & kNoCertificates) {
    builder.OmitCertificates();
  } else if (flags & kWithChain) {
    code = AddChain(engine, session.Certificate(), builder);
    if (code != ERR_SUCCESS) return code;
  } else if (!builder.AddCertificate(signer.Data(), static_cast<DWORD>(signer.Size()))) {
    engine.FailWithPlatformError(ERR_ASN1_ENCODE, kStepAddSignerCertificate);
    return ERR_ASN1_ENCODE;
  }

  failure = builder.Finish(encryptedDigest, content, (flags & kDetached) != 0, out);
  if (failure.code != ERR_SUCCESS) return RecordFailure(engine, failure);
  engine.ResetErrors();
  return ERR_SUCCESS;
}

}  // namespace

BSTR CCapiEngine::SignPkcs7(BSTR strContent, LONG dwFlags) {
  kv::sign::SigningSession session(*this, strContent, dwFlags);
  std::string result;
  ErrorCode code = SignPkcs7Text(*this, session, dwFlags, &result);
  Finish(code);
  if (code != ERR_SUCCESS) result.clear();
  return kv::NarrowToBstr(result);
}
