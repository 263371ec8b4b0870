// Shared preparation of PKCS#1 and PKCS#7 signing.
#include "sign/signing_session.h"

#include <shlwapi.h>

#include <memory>

#include "cert/cert_info.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "host/caller_origin.h"
#include "sign/sha2_provider.h"
#include "sign/signer_cache.h"
#include "sign/signer_pfx.h"
#include "sign/signer_record.h"
#include "ui/dialog_launch.h"

namespace kv::sign {

SigningSession::SigningSession(CCapiEngine& engine, BSTR content, LONG flags)
    : m_engine(engine), m_content(content), m_flags(flags) {
  if (content) m_narrow = WideToNarrow(content, static_cast<int>(SysStringLen(content)));
}

SigningSession::~SigningSession() {
  SysFreeString(m_content);
}

ErrorCode SigningSession::OpenStore() {
  CCapiEngine& e = m_engine;
  SignerState& signer = e.Signer();
  if (signer.Source() == kSourceStore) {
    if (!signer.Store()) {
      signer.SetStore(std::make_unique<CCertFinder>());
      ErrorCode code = signer.Store()->OpenMyStore();
      if (code != ERR_SUCCESS) {
        e.FailWithPlatformError(code, signer.Store()->LastError());
        return code;
      }
    }
    m_finder = signer.Store();
    return ERR_SUCCESS;
  }
  if (signer.Source() == kSourcePfx) {
    std::string full = JoinPfxPath(signer.PfxPath(), signer.PfxName());
    if (!PathFileExistsA(full.c_str())) return ERR_CERT_FILE_READ;
    // Another process may have changed this file's password through the cache.
    CSignerCache cache(e);
    if (cache.ReadInt(kSignerMediaKey) == kSourcePfx) {
      std::string password = cache.ReadString(kSignerCertPasswdKey);
      std::string cachedFull =
          JoinPfxPath(cache.ReadString(kSignerCertFilePathKey), cache.ReadString(kSignerCertFileNameKey));
      if (EqualsNoCase(cachedFull, full)) signer.SetPfxPassword(password);
    }
    // The file is read again for every signature, but an unchanged file with
    // the same password keeps the store and keys imported last time.
    auto* pfx = dynamic_cast<CSignerPfx*>(signer.Store());
    if (!pfx) {
      auto owned = std::make_unique<CSignerPfx>();
      pfx = owned.get();
      signer.SetStore(std::move(owned));
    }
    ErrorCode code = pfx->Reload(full, signer.PfxPassword());
    if (code != ERR_SUCCESS) {
      e.FailWithPlatformError(code, pfx->LastError());
      return code;
    }
    m_finder = pfx;
    return ERR_SUCCESS;
  }
  return ERR_NO_SIGNER;
}

ErrorCode SigningSession::Open(ErrorCode noKeyInfoCode) {
  CCapiEngine& e = m_engine;
  e.ResetErrors();
  if (m_narrow.empty()) return ERR_BAD_PARAM;
  if (e.RefuseInProtectedMode()) return ERR_IE_PROTECTED_MODE;
  const SignerState& signer = e.Signer();
  if (signer.Fingerprint().empty() || signer.Certificate().Empty()) return ERR_NO_SIGNER;
  ErrorCode code = OpenStore();
  if (code != ERR_SUCCESS) return code;
  if (!m_finder->Store()) return ERR_NO_SIGNER;

  kv::OwnedCertificate cursor;
  while (kv::NextCertificate(m_finder->Store(), &cursor)) {
    if (CCertInfo(cursor.get()).GetFingerprint() == signer.Fingerprint()) {
      m_cert = std::move(cursor);  // the enumeration stops here; the session keeps it
      break;
    }
  }
  if (!m_cert) return ERR_NO_SIGNER;
  m_keyInfo = m_finder->GetKeyProvInfo(m_cert.get());
  // The finder's number is reported even when the information was found.
  e.NotePlatformError(m_finder->LastError());
  if (!m_keyInfo) return noKeyInfoCode;
  return ERR_SUCCESS;
}

ErrorCode SigningSession::AcquireKey() {
  CCapiEngine& e = m_engine;
  HCRYPTPROV prov = 0;
  DWORD keySpec = 0;
  BOOL callerFree = FALSE;
  BOOL ok = CryptAcquireCertificatePrivateKey(m_cert.get(), CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov, &keySpec,
                                              &callerFree);
  // The platform number is kept whatever the outcome, as the signer always has.
  e.NotePlatformError(GetLastError());
  if (!ok) return IsPlatformProvider(m_keyInfo->pwszProvName) ? ERR_MY_STORE_DENIED : ERR_IC_CARD_NOT_READY;
  e.Signer().SetProvider(prov);
  return ERR_SUCCESS;
}

ErrorCode SigningSession::Confirm() {
  // A web page cannot skip the confirmation: it is what shows the person
  // what a site is about to sign in their name.
  if (!(m_flags & kConfirm) && kv::CallerOrigin().empty()) return ERR_SUCCESS;
  CCertInfo info(m_cert.get());
  ErrorCode code = kv::ui::ConfirmSignature(m_narrow, info.GetSerial(), info.GetSubjectCN(), info.GetNotBefore(),
                                            info.GetNotAfter());
  if (code == ERR_SUCCESS || code == ERR_MEM_ALLOC) return code;
  return ERR_USER_CANCEL;
}

bool SigningSession::ContentBytes(CByteBuffer* out) const {
  out->Clear();
  if (m_flags & kContentAnsi) {
    size_t end = m_narrow.find('\0');
    std::string text = m_narrow.substr(0, end);
    return out->Append(text.data(), static_cast<int32_t>(text.size()));
  }
  return out->Append(m_content, static_cast<int32_t>(SysStringByteLen(m_content)));
}

ErrorCode SigningSession::SignHashValue(ALG_ID algorithm, const BYTE* value, CByteBuffer* signature) {
  CCapiEngine& e = m_engine;
  HCRYPTHASH hash = 0;
  HCRYPTPROV sha2Prov = 0;  // the AES-capable provider, when the key's own has no SHA-2
  if (!CreateHashForKey(e.Signer().Provider(), algorithm, &hash, &sha2Prov)) {
    e.FailWithLastError(ERR_SIGN);
    return ERR_SIGN;
  }
  const kv::OwnedProvider ownedSha2(sha2Prov);
  const kv::OwnedHash ownedHash(hash);  // destroyed before its provider
  ErrorCode code = ERR_SUCCESS;
  DWORD size = 0;
  if (!CryptSetHashParam(hash, HP_HASHVAL, value, 0) ||
      !CryptSignHashA(hash, m_keyInfo->dwKeySpec, nullptr, 0, nullptr, &size) || size == 0 ||
      !signature->Allocate(static_cast<int32_t>(size))) {
    code = ERR_SIGN;
    e.FailWithLastError(code);
  } else if (!CryptSignHashA(hash, m_keyInfo->dwKeySpec, nullptr, 0, signature->Data(), &size)) {
    code = ERR_SIGN;
    e.FailWithLastError(code);
    // The key is not usable any more: forget it and the store it came from.
    e.Signer().DropKey();
  }
  return code;
}

}  // namespace kv::sign
