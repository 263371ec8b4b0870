// The signer state's record keeping.
#include "sign/signer_state.h"

#include "cert/cert_finder.h"
#include "cert/cert_info.h"
#include "sign/shared_memory.h"

namespace kv::sign {

SignerState::SignerState() = default;

SignerState::~SignerState() = default;

bool SignerState::SetCertificate(const BYTE* der, int32_t size) {
  m_certificate.Clear();
  return m_certificate.Append(der, size);
}

bool SignerState::AppendCertificate(const BYTE* der, int32_t size) { return m_certificate.Append(der, size); }

bool SignerState::RecordCertificate(PCCERT_CONTEXT context) {
  m_fingerprint = CCertInfo(context).GetFingerprint();
  return SetCertificate(context->pbCertEncoded, static_cast<int32_t>(context->cbCertEncoded));
}

void SignerState::SetPfxFile(std::string path, std::string name) {
  m_pfxPath = std::move(path);
  m_pfxName = std::move(name);
}

void SignerState::SetStore(std::unique_ptr<CCertFinder> store) { m_store = std::move(store); }

void SignerState::DropKey() {
  m_provider = 0;
  m_store.reset();
}

void SignerState::SetCache(std::unique_ptr<cSharedMemory> cache) { m_cache = std::move(cache); }

void SignerState::Forget() {
  m_source = kSourceNone;
  m_fingerprint.clear();
  m_pfxPassword.clear();
  m_pfxPath.clear();
  m_pfxName.clear();
  m_certificate.Clear();
  DropKey();
}

}  // namespace kv::sign
