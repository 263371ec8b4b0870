// Key pairs and requests: one request (CreateRequest) or a signature and an
// exchange key (CreateRequestPair), each key in its own new container,
// checked for weakness, with its PendingRequest record. A key is kept only
// with its complete record: a generation that fails part-way deletes what it
// made, and one that was killed is swept by the next.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "vocabulary/text.h"
#include "keys/cert_request_manager.h"
#include "keys/request_container_name.h"
#include "keys/request_progress.h"
#include "keys/request_records.h"
#include "keys/request_text.h"
#include "keys/request_weak_key.h"

namespace {

// Wipes key material before its buffer is given back.
void Wipe(std::vector<BYTE>* bytes) {
  volatile BYTE* p = bytes->data();
  for (size_t i = 0; i < bytes->size(); ++i) p[i] = 0;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool CCertRequestManager::CanWriteRegistry() {
  std::string probe;
  DWORD error = 0;
  bool ok = kv::keys::NewContainerName(&probe, &error);
  if (ok) {
    std::string root(kRegistryRoot);
    root.pop_back();  // the folder itself, without the separator
    ok = kv::keys::ProbeRegistryWrite(root, probe, &error);
  }
  if (!ok) NotePlatformError(error);
  return ok;
}

bool CCertRequestManager::IsWeakRsaKey(HCRYPTKEY key) {
  DWORD size = 0;
  if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
    NotePlatformError(GetLastError());
    return true;
  }
  std::vector<BYTE> blob(size);
  if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) {
    NotePlatformError(GetLastError());
    Wipe(&blob);
    return true;
  }
  bool consistent = kv::keys::RsaPrivateBlobConsistent(blob.data(), size);
  Wipe(&blob);
  return !consistent;
}

DWORD CCertRequestManager::KeyGenerationFlags() const {
  DWORD flags = static_cast<DWORD>(m_keyBits) << 16;
  // Other providers (cards, tokens) take only the size.
  if (StartsWith(m_providerName, "Microsoft")) {
    flags |= (m_keyFlagsMode & 1) ? CRYPT_EXPORTABLE : CRYPT_ARCHIVABLE;
    if (m_keyFlagsMode & 2) flags |= CRYPT_USER_PROTECTED;
  }
  return flags;
}

bool CCertRequestManager::GenerateKey(const std::string& container, kv::OwnedProvider* prov, kv::OwnedKey* key,
                                      bool* containerMade) {
  const DWORD flags = KeyGenerationFlags();
  for (int attempt = 0; attempt < kMaxKeyAttempts; ++attempt) {
    *containerMade = false;
    HCRYPTPROV acquired = 0;
    if (!CryptAcquireContextA(&acquired, container.c_str(), m_providerName.c_str(), m_providerType, CRYPT_NEWKEYSET)) {
      DWORD error = GetLastError();
      bool unsupported = error == static_cast<DWORD>(NTE_KEYSET_NOT_DEF) || error == static_cast<DWORD>(NTE_BAD_PROV_TYPE);
      Fail(unsupported ? ERR_CSP_UNSUPPORTED : ERR_CSP_ACQUIRE, error);
      return false;
    }
    prov->reset(acquired);
    *containerMade = true;
    HCRYPTKEY generated = 0;
    if (!CryptGenKey(prov->get(), m_keySpec, flags, &generated)) {
      // Reported with the generator's own error rather than the missing key
      // the next step would trip over.
      Fail(ERR_KEY_GENERATE, GetLastError());
      return false;
    }
    key->reset(generated);
    if (!IsWeakRsaKey(key->get())) {
      ClearError();
      return true;
    }
    // A weak key is thrown away with its container, and the same name is
    // tried again.
    FailWithNotedError(ERR_RSA_WEAK_KEY);
    key->reset();
    prov->reset();
    HCRYPTPROV gone = 0;
    if (CryptAcquireContextA(&gone, container.c_str(), m_providerName.c_str(), m_providerType, CRYPT_DELETEKEYSET))
      *containerMade = false;
  }
  return false;
}

bool CCertRequestManager::PrepareRequest(const std::u16string& commonName) {
  ClearError();
  if (!CanWriteRegistry()) {
    FailWithNotedError(ERR_ACCESS_DENIED);
    return false;
  }
  if (commonName.empty()) {
    Fail(ERR_BAD_PARAM);
    return false;
  }
  if (m_providerName.empty()) {
    Fail(ERR_CSP_NAME_MISSING);
    return false;
  }
  kv::keys::SweepAbandonedRequests(m_registryBase, m_providerName, m_providerType);
  return true;
}

std::string CCertRequestManager::GenerateOne(const std::u16string& commonName, const std::string& dateTime) {
  kv::keys::PendingRequest record;
  DWORD error = 0;
  if (!kv::keys::NewContainerName(&record.containerName, &error)) {
    Fail(ERR_CSP_ACQUIRE, error);
    return {};
  }
  kv::keys::RequestInProgress progress;
  if (!progress.Begin(m_registryBase, record.containerName, &error)) {
    // A name in use is what creating its key set would have met.
    if (error == ERROR_ALREADY_EXISTS)
      Fail(ERR_CSP_ACQUIRE, static_cast<DWORD>(NTE_EXISTS));
    else
      Fail(kErrPendingRecord, error);
    progress.Abandon(false, m_providerName, m_providerType);
    return {};
  }
  kv::OwnedProvider prov;
  kv::OwnedKey key;
  bool containerMade = false;
  std::string text;
  if (GenerateKey(record.containerName, &prov, &key, &containerMade)) {
    ErrorCode code = kv::keys::BuildRequestText(prov.get(), m_keySpec, commonName, &text, &error);
    if (code != ERR_SUCCESS) Fail(code, error);
  }
  if (Code() == ERR_SUCCESS) {
    DWORD size = 0;
    bool exported = CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, nullptr, &size) != FALSE;
    if (exported) {
      record.publicKey.resize(size);
      exported = CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, record.publicKey.data(), &size) != FALSE;
      record.publicKey.resize(size);
    }
    if (!exported) {
      Fail(kErrPendingRecord, GetLastError());
    } else {
      record.providerName = m_providerName;
      record.providerType = m_providerType;
      record.keySpec = m_keySpec;
      record.dateTime = dateTime;
      record.commonName = kv::WideToNarrow(reinterpret_cast<LPCWSTR>(commonName.c_str()), static_cast<int>(commonName.size()));
      if (!kv::keys::WritePendingRequest(m_registryBase, record, &error) || !progress.Commit(&error))
        Fail(kErrPendingRecord, error);
    }
  }
  // Both go before an abandoned request's container is deleted.
  key.reset();
  prov.reset();
  if (Code() != ERR_SUCCESS) {
    // A key without its complete record could never be matched to its
    // certificate: it goes, with what was written of the record.
    progress.Abandon(containerMade, m_providerName, m_providerType);
    text.clear();
  }
  return text;
}

std::string CCertRequestManager::CreateRequest(const std::u16string& commonName) {
  ClearRequestTexts();
  const std::string dateTime = kv::keys::RecordDateTime();
  if (!PrepareRequest(commonName)) return {};
  m_csrForSign = GenerateOne(commonName, dateTime);
  return m_csrForSign;
}

ErrorCode CCertRequestManager::CreateRequestPair(const std::u16string& commonName) {
  ClearRequestTexts();
  const std::string dateTime = kv::keys::RecordDateTime();
  if (!PrepareRequest(commonName)) return Code();
  SetKeySpec(AT_SIGNATURE);
  std::string forSign = GenerateOne(commonName, dateTime);
  if (Code() != ERR_SUCCESS) return Code();
  SetKeySpec(AT_KEYEXCHANGE);
  std::string forEncrypt = GenerateOne(commonName, dateTime);
  if (Code() != ERR_SUCCESS) return Code();
  m_csrForSign = std::move(forSign);
  m_csrForEncrypt = std::move(forEncrypt);
  return ERR_SUCCESS;
}
