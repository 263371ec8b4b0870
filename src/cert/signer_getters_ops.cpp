// Getters of the chosen signer's certificate (or of the certificate a PFX
// import or query left in the same place).
#include <windows.h>

#include <functional>

#include "cert/cert_info.h"
#include "engine/capi_engine.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"

BSTR CCapiEngine::GetCertB64() {
  const CByteBuffer& signer = Signer().Certificate();
  if (signer.Empty() || signer.Size() <= 0) return kv::NarrowToBstr("");
  CByteBuffer text;
  if (!text.EncodeBase64(signer.Data(), signer.Size())) return kv::NarrowToBstr("");
  return kv::NarrowToBstr(text.c_str());
}

namespace {

template <typename T>
T SignerField(CCapiEngine& engine, const std::function<T(const CCertInfo&)>& field) {
  engine.ResetError();
  CCertInfo info;
  const CByteBuffer& signer = engine.Signer().Certificate();
  info.LoadEncoded(signer.Data(), signer.Size());
  return field(info);
}

BSTR SignerText(CCapiEngine& engine, std::string (CCertInfo::*getter)() const) {
  return kv::NarrowToBstr(SignerField<std::string>(engine, getter));
}

}  // namespace

BSTR CCapiEngine::GetCertSubject() { return SignerText(*this, &CCertInfo::GetSubject); }
BSTR CCapiEngine::GetCertSubjectCN() { return SignerText(*this, &CCertInfo::GetSubjectCN); }
BSTR CCapiEngine::GetCertIssuer() { return SignerText(*this, &CCertInfo::GetIssuer); }
BSTR CCapiEngine::GetCertSerial() { return SignerText(*this, &CCertInfo::GetSerial); }
BSTR CCapiEngine::GetCertNotBefore() { return SignerText(*this, &CCertInfo::GetNotBefore); }
BSTR CCapiEngine::GetCertNotAfter() { return SignerText(*this, &CCertInfo::GetNotAfter); }
BSTR CCapiEngine::GetCertFinger() { return SignerText(*this, &CCertInfo::GetFingerprint); }
LONG CCapiEngine::GetCertKeyUsage() { return SignerField<LONG>(*this, &CCertInfo::GetKeyUsage); }
