// Personal store browsing: GetIECertCount takes a snapshot of "MY"; the
// indexed getters and DeleteIECert address it from 1.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <functional>

#include "cert/cert_info.h"
#include "cert/store_snapshot.h"
#include "kvseam/owned_handles.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "host/page_action_guard.h"

namespace {

HCERTSTORE OpenPersonalStore() {
  static const WCHAR kMy[] = {'M', 'Y', 0};
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kCertEncoding, 0, CERT_SYSTEM_STORE_CURRENT_USER, kMy);
}

}  // namespace

LONG CCapiEngine::GetIECertCount() {
  if (RefuseInProtectedMode()) return 0;
  Snapshot().Clear();
  ResetError();
  kv::OwnedStore store(OpenPersonalStore());
  if (!store) {
    // A store that cannot be read (its storage damaged or unreadable) is not
    // an empty one: the caller hears of it.
    FailWithLastError(ERR_OPEN_MY_STORE);
    return 0;
  }
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr)
    Snapshot().Add(context->pbCertEncoded, context->cbCertEncoded);
  if (GetLastError() != static_cast<DWORD>(CRYPT_E_NOT_FOUND)) {
    FailWithLastError(ERR_OPEN_MY_STORE);
    Snapshot().Clear();
  }
  return static_cast<LONG>(Snapshot().Count());
}

// Reads one field of the snapshot's certificate at `index` (1-based).
static BSTR SnapshotField(CCapiEngine& engine, LONG index, const std::function<std::string(const CCertInfo&)>& field) {
  if (engine.RefuseInProtectedMode()) return kv::NarrowToBstr("");
  const std::vector<BYTE>* listed = engine.Snapshot().At(index);
  if (!listed) return kv::NarrowToBstr("");
  const std::vector<BYTE>& der = *listed;
  kv::OwnedCertificate context(
      CertCreateCertificateContext(kCertEncoding, der.data(), static_cast<DWORD>(der.size())));
  if (!context) return kv::NarrowToBstr("");
  return kv::NarrowToBstr(field(CCertInfo(context.get())));
}

BSTR CCapiEngine::GetIECertSerial(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetSerial); }
BSTR CCapiEngine::GetIECertCommonName(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetSubjectCN); }
BSTR CCapiEngine::GetIECertSubject(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetSubject); }
BSTR CCapiEngine::GetIECertIssuer(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetIssuer); }
BSTR CCapiEngine::GetIECertNotBefore(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetNotBefore); }
BSTR CCapiEngine::GetIECertNotAfter(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetNotAfter); }
BSTR CCapiEngine::GetIECertFinger(LONG i) { return SnapshotField(*this, i, &CCertInfo::GetFingerprint); }

LONG CCapiEngine::DeleteIECert(LONG index) {
  if (ErrorCode refused = kv::host::ConfirmPageDeletion(*this, index)) return refused;
  ResetError();
  if (RefuseInProtectedMode()) return ERR_IE_PROTECTED_MODE;
  ErrorCode result = ERR_CERT_NOT_FOUND;
  if (!Snapshot().At(index)) {
    Fail(result);
    return result;
  }
  const std::vector<BYTE> listed = *Snapshot().At(index);
  kv::OwnedCertificate probe(
      CertCreateCertificateContext(kCertEncoding, listed.data(), static_cast<DWORD>(listed.size())));
  if (!probe) {
    Fail(result);
    return result;
  }
  kv::OwnedStore store(OpenPersonalStore());
  if (store) {
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store.get(), context)) != nullptr) {
      if (context->cbCertEncoded != listed.size() ||
          std::memcmp(context->pbCertEncoded, listed.data(), listed.size()) != 0)
        continue;
      // Deleting frees the context, which also ends the enumeration.
      if (CertDeleteCertificateFromStore(context)) {
        result = ERR_SUCCESS;
        Snapshot().Clear();
      } else {
        FailWithLastError(result);
      }
      break;
    }
  }
  Finish(result);
  return result;
}
