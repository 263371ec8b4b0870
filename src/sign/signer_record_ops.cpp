// Signer record helpers.
#include "sign/signer_record.h"

#include "cert/cert_finder.h"
#include "cert/cert_info.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"

namespace kv::sign {

void ResetSignerRecord(CCapiEngine& engine) {
  engine.m_signerSource = kSourceNone;
  engine.m_signerFingerprint.clear();
  engine.m_signerPfxPassword.clear();
  engine.m_signerPfxPath.clear();
  engine.m_signerPfxName.clear();
  engine.m_signerCert.Clear();
  // The provider handle is acquired with CRYPT_ACQUIRE_CACHE_FLAG: it belongs
  // to the certificate context that cached it and is released with it, so
  // the record only forgets it.
  engine.m_signerProv = 0;
  engine.m_signerStore.reset();
}

bool RecordSignerCertificate(CCapiEngine& engine, PCCERT_CONTEXT context) {
  CCertInfo info(context);
  engine.m_signerFingerprint = info.GetFingerprint();
  engine.m_signerCert.Clear();
  return engine.m_signerCert.Append(context->pbCertEncoded, static_cast<int32_t>(context->cbCertEncoded));
}

std::string JoinPfxPath(const std::string& folder, const std::string& name) {
  bool endsWithSeparator = !folder.empty() && FindLastBackslash(folder) == folder.size() - 1;
  return endsWithSeparator ? folder + name : folder + "\\" + name;
}

bool IsPlatformProvider(LPCWSTR providerName) {
  return WideToNarrow(providerName).find("Microsoft") != std::string::npos;
}

}  // namespace kv::sign
