// Store handles: memory and system stores, enumeration, adding, linking and
// deleting certificates. A system store handle keeps a cache of its rows,
// refreshed from the database when an enumeration or search starts.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <strings.h>

#include "cert/cert_db.h"
#include "cert/cert_object.h"
#include "cert/cert_stores_internal.h"
#include "cert/token_view.h"
#include "database/user_database.h"
#include "kvcommon/utf.h"
#include "kvwin/desktop.h"

namespace kv::platform::cert {

using kv::platform::ClearDatabaseError;
using kv::platform::LastDatabaseError;

// The database's failure as the HRESULT the store calls report.
HRESULT DatabaseFailure(DWORD fallback) {
  DWORD error = LastDatabaseError();
  return HRESULT_FROM_WIN32(error != 0 ? error : fallback);
}

namespace {

// What every handle on a system store starts from: the store's rows as last
// read, with the version of the tables they were read at, and each row's
// certificate decoded once. A handle opened on a store nobody changed since
// copies these instead of reading and decoding the store again (a search of
// the personal store opens it on every call). Guarded by the model lock.
struct StoreSnapshot {
  std::string version;
  std::vector<StoredCert> rows;
  std::map<int64_t, std::unique_ptr<CertObject>> decoded;  // by row; never handed out
};

StoreSnapshot& SnapshotOf(const Store* store) {
  static auto* snapshots = new std::map<std::pair<DWORD, std::string>, StoreSnapshot>();
  std::string name = store->name;
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));  // names are case-blind
  return (*snapshots)[{store->location, name}];
}

// Takes freshly read rows; decoded certificates of rows that are gone or
// hold other bytes now are dropped.
void Refresh(StoreSnapshot* snapshot, const std::string& version, std::vector<StoredCert> rows) {
  std::map<int64_t, const StoredCert*> byId;
  for (const StoredCert& row : rows) byId[row.id] = &row;
  for (auto it = snapshot->decoded.begin(); it != snapshot->decoded.end();) {
    auto row = byId.find(it->first);
    const std::vector<uint8_t>& kept = it->second->encoded;
    // The decoded form keeps the certificate without any bytes after it.
    bool same = row != byId.end() && row->second->der.size() >= kept.size() &&
                std::equal(kept.begin(), kept.end(), row->second->der.begin());
    it = same ? std::next(it) : snapshot->decoded.erase(it);
  }
  snapshot->rows = std::move(rows);
  snapshot->version = version;
}

// A new context for `row`, copied from its decoded form; null when the row
// does not decode.
CertObject* ObjectFor(StoreSnapshot* snapshot, const StoredCert& row) {
  std::unique_ptr<CertObject>& decoded = snapshot->decoded[row.id];
  if (!decoded) {
    HRESULT error;
    decoded.reset(DecodeCertTemplate(row.der.data(), row.der.size(), &error));
    if (!decoded) {
      snapshot->decoded.erase(row.id);
      return nullptr;
    }
  }
  return CopyCertObject(*decoded);
}

}  // namespace

bool ResyncStore(Store* store) {
  if (store->kind != StoreKind::kSystem) return true;
  ClearDatabaseError();
  const bool tokens = ShowsTokens(store);
  std::vector<kv::platform::crypt::TokenCertificate> tokenCerts;
  std::string tokenStamp;
  if (tokens) kv::platform::crypt::ListTokenCertificates(&tokenCerts, &tokenStamp);
  // Nothing committed since the last refresh and the same tokens present:
  // the cache is current.
  std::string version;
  bool versioned = CertTablesVersion(&version);
  if (versioned && version + "|" + tokenStamp == store->syncedVersion) return true;
  StoreSnapshot unversioned;
  StoreSnapshot& snapshot = versioned ? SnapshotOf(store) : unversioned;
  if (!versioned || snapshot.version != version) {
    std::vector<StoredCert> rows;
    if (!LoadStore(store->location, store->name, &rows)) {
      // The cache stays as it was; the caller hears why.
      SetLastError(static_cast<DWORD>(DatabaseFailure(ERROR_CANTREAD)));
      return false;
    }
    Refresh(&snapshot, versioned ? version : std::string(), std::move(rows));
  }
  store->syncedVersion = versioned ? version + "|" + tokenStamp : std::string();
  std::map<int64_t, CertObject*> cached;
  std::vector<CertObject*> shownTokens;
  for (CertObject* entry : store->entries) {
    if (entry->fromToken) shownTokens.push_back(entry);
    else cached[entry->rowId] = entry;
  }
  std::vector<CertObject*> next;
  for (const StoredCert& row : snapshot.rows) {
    auto it = cached.find(row.id);
    CertObject* object;
    if (it != cached.end()) {
      object = it->second;
      cached.erase(it);
      // Handles live only in this process; everything else follows the database.
      PropertyMap props = row.props;
      for (DWORD keep : {static_cast<DWORD>(CERT_KEY_CONTEXT_PROP_ID), static_cast<DWORD>(CERT_KEY_PROV_HANDLE_PROP_ID)}) {
        auto found = object->props.find(keep);
        if (found != object->props.end()) props[keep] = found->second;
      }
      object->props = std::move(props);
    } else {
      object = ObjectFor(&snapshot, row);
      if (!object) continue;  // a row that no longer decodes is passed over, never fatal
      object->rowId = row.id;
      object->props = row.props;
      object->store = store;
      object->ctx.hCertStore = store;
      object->inList = true;
      object->seq = static_cast<uint64_t>(row.id);
      object->refs = 0;
    }
    next.push_back(object);
  }
  if (tokens) MergeTokenCertificates(store, tokenCerts, &shownTokens, &next);
  std::vector<CertObject*> gone = std::move(shownTokens);
  for (auto& [id, object] : cached) {
    (void)id;
    gone.push_back(object);
  }
  for (CertObject* object : gone) object->inList = false;
  store->entries = std::move(next);
  for (CertObject* object : gone) {
    if (object->refs == 0) {
      object->inList = true;  // let DetachFromStore do the bookkeeping
      store->entries.push_back(object);
      DetachFromStore(object);
    }
  }
  for (CertObject* entry : store->entries)
    if (!entry->fromToken && entry->seq >= store->nextSeq) store->nextSeq = entry->seq + 1;
  return true;
}

PropertyMap CopyableProperties(CertObject* source) {
  PropertyMap props = PropertyOwner(source)->props;
  // Provider handles belong to the source context only.
  props.erase(CERT_KEY_CONTEXT_PROP_ID);
  props.erase(CERT_KEY_PROV_HANDLE_PROP_ID);
  return props;
}

namespace {

CertObject* FindExisting(Store* store, const std::vector<uint8_t>& encoded) {
  for (CertObject* entry : store->entries) {
    CertObject* owner = PropertyOwner(entry);
    if (owner->encoded == encoded) return entry;
  }
  return nullptr;
}

bool ValidDisposition(DWORD disposition) {
  return disposition >= CERT_STORE_ADD_NEW && disposition <= CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES;
}

BOOL Fail(HRESULT hr) {
  SetLastError(static_cast<DWORD>(hr));
  return FALSE;
}

}  // namespace

bool MayAddToStore(HCERTSTORE handle, const std::vector<uint8_t>& encoded) {
  {
    std::lock_guard<std::recursive_mutex> lock(ModelLock());
    Store* store = LookupStore(handle);
    // Only a new certificate of the current user's trusted roots is asked
    // about; what the add itself refuses is left to it.
    if (!store || store->kind != StoreKind::kSystem || store->readOnly ||
        store->location != CERT_SYSTEM_STORE_CURRENT_USER_ID || strcasecmp(store->name.c_str(), "ROOT") != 0)
      return true;
    if (ResyncStore(store) && FindExisting(store, encoded)) return true;
  }
  // Asked without the model's lock: the question waits for the user.
  RootStorePrompt prompt = ActiveRootStorePrompt();
  if (prompt && prompt(encoded.data(), static_cast<DWORD>(encoded.size()))) return true;
  return Fail(HRESULT_FROM_WIN32(ERROR_CANCELLED));
}

// Adds a copy of `encoded` with `props`; `link` non-null adds a link to it instead.
BOOL AddToStoreCommon(Store* store, const std::vector<uint8_t>& encoded, PropertyMap props, CertObject* link,
                      DWORD disposition, PCCERT_CONTEXT* out) {
  if (out) *out = nullptr;
  if (!ValidDisposition(disposition)) return Fail(E_INVALIDARG);
  if (store->readOnly) return Fail(E_ACCESSDENIED);
  if (store->kind == StoreKind::kSystem) {
    if (link) return Fail(E_INVALIDARG);
    int64_t id = 0;
    HRESULT hr = 0;
    if (!AddToStore(store->location, store->name, encoded, props, disposition, &id, &hr)) return Fail(hr);
    ResyncStore(store);
    CertObject* added = nullptr;
    for (CertObject* entry : store->entries)
      if (entry->rowId == id) added = entry;
    // The add has committed; another process may have replaced the copy
    // since (the same certificate added again): its copy stands for ours.
    if (!added) added = FindExisting(store, encoded);
    if (!added && out) return Fail(CRYPT_E_NOT_FOUND);
    // A key context set on the added context stays with this process's copy.
    if (out) {
      AddRef(added);
      *out = &added->ctx;
    }
    return TRUE;
  }
  CertObject* existing = disposition == CERT_STORE_ADD_ALWAYS ? nullptr : FindExisting(store, encoded);
  if (existing) {
    switch (disposition) {
      case CERT_STORE_ADD_NEW:
        return Fail(CRYPT_E_EXISTS);
      case CERT_STORE_ADD_USE_EXISTING: {
        CertObject* owner = PropertyOwner(existing);
        for (auto& [id, value] : props) owner->props.insert({id, value});
        if (out) {
          AddRef(existing);
          *out = &existing->ctx;
        }
        return TRUE;
      }
      case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES: {
        PropertyMap merged = CopyableProperties(existing);
        for (auto& [id, value] : props) merged[id] = value;
        props = std::move(merged);
        break;
      }
      default:
        break;
    }
  }
  CertObject* object;
  if (link) {
    object = NewLinkObject(PropertyOwner(link), store);
  } else {
    HRESULT error = 0;
    object = NewCertObject(encoded.data(), encoded.size(), &error);
    if (!object) return Fail(error);
    object->props = std::move(props);
  }
  if (existing) DetachFromStore(existing);
  AttachToStore(store, object);
  if (out) {
    AddRef(object);
    *out = &object->ctx;
  }
  return TRUE;
}

}  // namespace kv::platform::cert

using namespace kv::platform::cert;

namespace {

std::string WideToUtf8(LPCWSTR text) {
  return text ? kv::Utf16ToUtf8(reinterpret_cast<const char16_t*>(text)) : std::string();
}

HCERTSTORE OpenSystem(const std::string& name, DWORD dwFlags) {
  DWORD location = (dwFlags & CERT_SYSTEM_STORE_LOCATION_MASK) >> CERT_SYSTEM_STORE_LOCATION_SHIFT;
  // A store without a name, or in a location not served, is one that is not
  // there: Windows reports the missing registry key.
  if (name.empty() || (location != CERT_SYSTEM_STORE_CURRENT_USER_ID && location != CERT_SYSTEM_STORE_LOCAL_MACHINE_ID)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (dwFlags & CERT_STORE_DELETE_FLAG) {
    if (!DeleteStoreRecord(location, name)) {
      SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_CANTWRITE)));
      return nullptr;
    }
    SetLastError(0);
    return nullptr;
  }
  bool exists = false;
  ClearDatabaseError();
  if (!StoreExists(location, name, &exists)) {
    SetLastError(static_cast<DWORD>(DatabaseFailure(ERROR_CANTOPEN)));
    return nullptr;
  }
  if (!exists && (dwFlags & CERT_STORE_OPEN_EXISTING_FLAG)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (exists && (dwFlags & CERT_STORE_CREATE_NEW_FLAG)) {
    SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)));
    return nullptr;
  }
  if (!exists && !(dwFlags & CERT_STORE_READONLY_FLAG) && !CreateStoreRecord(location, name)) {
    SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_CANTWRITE)));
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = NewStore(StoreKind::kSystem);
  store->location = location;
  store->name = name;
  store->readOnly = (dwFlags & CERT_STORE_READONLY_FLAG) != 0;
  if (!ResyncStore(store)) {
    // A store whose certificates cannot be read is not opened as an empty one.
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    SetLastError(error);
    return nullptr;
  }
  return store;
}

bool IsProvider(LPCSTR provider, LPCSTR constant, const char* name) {
  if (provider == constant) return true;
  if (reinterpret_cast<uintptr_t>(provider) <= 0xFFFF) return false;
  return strcasecmp(provider, name) == 0;
}

}  // namespace

extern "C" HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                           HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara) {
  (void)dwEncodingType;
  (void)hCryptProv;
  if (IsProvider(lpszStoreProvider, CERT_STORE_PROV_MEMORY, sz_CERT_STORE_PROV_MEMORY)) {
    std::lock_guard<std::recursive_mutex> lock(ModelLock());
    Store* store = NewStore(StoreKind::kMemory);
    store->readOnly = (dwFlags & CERT_STORE_READONLY_FLAG) != 0;
    return store;
  }
  if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_A)
    return OpenSystem(pvPara ? static_cast<const char*>(pvPara) : "", dwFlags);
  if (IsProvider(lpszStoreProvider, CERT_STORE_PROV_SYSTEM_W, sz_CERT_STORE_PROV_SYSTEM_W))
    return OpenSystem(WideToUtf8(static_cast<LPCWSTR>(pvPara)), dwFlags);
  SetLastError(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  return nullptr;
}

extern "C" HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol) {
  if (!szSubsystemProtocol) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, hProv, CERT_SYSTEM_STORE_CURRENT_USER, szSubsystemProtocol);
}

extern "C" HCERTSTORE WINAPI CertOpenSystemStoreW(HCRYPTPROV_LEGACY hProv, LPCWSTR szSubsystemProtocol) {
  if (!szSubsystemProtocol) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, hProv, CERT_SYSTEM_STORE_CURRENT_USER, szSubsystemProtocol);
}

extern "C" HCERTSTORE WINAPI CertDuplicateStore(HCERTSTORE hCertStore) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  if (!store || store->handles <= 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  ++store->handles;
  AddStoreRef(store);
  return store;
}

extern "C" BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  if (!hCertStore) return TRUE;
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  if (!store || store->handles <= 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  // Contexts still held by callers keep the store alive, with or without the
  // force flag: freeing them under the caller would leave dangling pointers.
  --store->handles;
  bool pending = store->refs > 1 && store->handles == 0;
  ReleaseStore(store);
  if ((dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) && pending) {
    SetLastError(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
    return FALSE;
  }
  return TRUE;
}

extern "C" PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  CertObject* prev = pPrevCertContext ? LookupContext(pPrevCertContext) : nullptr;
  if (!store || (pPrevCertContext && (!prev || prev->store != store || prev->refs <= 0))) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  if (!prev && !ResyncStore(store)) return nullptr;
  uint64_t after = prev ? prev->seq : 0;
  // Entries are kept in ascending seq order, so each step is a search, not a walk.
  auto found = std::upper_bound(store->entries.begin(), store->entries.end(), after,
                                [](uint64_t seq, const CertObject* entry) { return seq < entry->seq; });
  CertObject* next = found == store->entries.end() ? nullptr : *found;
  if (next) AddRef(next);
  if (prev) Release(prev);
  if (!next) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return nullptr;
  }
  return &next->ctx;
}

extern "C" BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                        DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
  if (ppStoreContext) *ppStoreContext = nullptr;
  std::vector<uint8_t> asked;
  {
    std::lock_guard<std::recursive_mutex> lock(ModelLock());
    CertObject* source = LookupContext(pCertContext);
    if (source) asked = PropertyOwner(source)->encoded;
  }
  if (!asked.empty() && !MayAddToStore(hCertStore, asked)) return FALSE;
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  CertObject* source = LookupContext(pCertContext);
  if (!store || !source) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  // Keep the source alive while the store may replace it.
  AddRef(source);
  std::vector<uint8_t> encoded = PropertyOwner(source)->encoded;
  BOOL ok = AddToStoreCommon(store, encoded, CopyableProperties(source), nullptr, dwAddDisposition, ppStoreContext);
  DWORD error = GetLastError();
  Release(source);
  SetLastError(error);
  return ok;
}

extern "C" BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                        const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                                        DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext) {
  if (ppCertContext) *ppCertContext = nullptr;
  PCCERT_CONTEXT decoded = CertCreateCertificateContext(dwCertEncodingType, pbCertEncoded, cbCertEncoded);
  if (!decoded) return FALSE;
  if (!MayAddToStore(hCertStore, std::vector<uint8_t>(decoded->pbCertEncoded,
                                                      decoded->pbCertEncoded + decoded->cbCertEncoded))) {
    DWORD error = GetLastError();
    CertFreeCertificateContext(decoded);
    SetLastError(error);
    return FALSE;
  }
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  BOOL ok;
  if (!store) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    ok = FALSE;
  } else {
    std::vector<uint8_t> encoded = LookupContext(decoded)->encoded;
    ok = AddToStoreCommon(store, encoded, PropertyMap(), nullptr, dwAddDisposition, ppCertContext);
  }
  DWORD error = GetLastError();
  CertFreeCertificateContext(decoded);
  SetLastError(error);
  return ok;
}

extern "C" BOOL WINAPI CertAddCertificateLinkToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                     DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
  if (ppStoreContext) *ppStoreContext = nullptr;
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  CertObject* source = LookupContext(pCertContext);
  if (!store || !source || source->refs <= 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  AddRef(source);
  std::vector<uint8_t> encoded = PropertyOwner(source)->encoded;
  BOOL ok = AddToStoreCommon(store, encoded, PropertyMap(), source, dwAddDisposition, ppStoreContext);
  DWORD error = GetLastError();
  Release(source);
  SetLastError(error);
  return ok;
}

extern "C" BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* object = LookupContext(pCertContext);
  if (!object || object->refs <= 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  Store* store = object->store;
  if (!store || !object->inList) {
    Release(object);
    return TRUE;
  }
  // A token's certificate leaves the view with its token; it is not deleted
  // from the token through the store.
  if (store->readOnly || object->fromToken) {
    Release(object);
    SetLastError(static_cast<DWORD>(E_ACCESSDENIED));
    return FALSE;
  }
  if (store->kind == StoreKind::kSystem && !DeleteStoredCert(object->rowId)) {
    Release(object);
    SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_CANTWRITE)));
    return FALSE;
  }
  DetachFromStore(object);
  Release(object);
  return TRUE;
}
