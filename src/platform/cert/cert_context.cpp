// CertCreate/Free/DuplicateCertificateContext and the context properties.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "cert/cert_db.h"
#include "cert/cert_object.h"
#include "crypt/out_buffer.h"

using namespace kv::platform::cert;
using kv::platform::crypt::ReturnBytes;
using kv::platform::crypt::ReturnFilled;

namespace {

bool PersistProperty(CertObject* owner, DWORD propId, const std::vector<uint8_t>* value) {
  if (!owner->store || owner->store->kind != StoreKind::kSystem || !owner->inList || !owner->rowId) return true;
  if (!IsPersistedProperty(propId)) return true;
  return WriteStoredProperty(owner->rowId, propId, value);
}

}  // namespace

extern "C" PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                              DWORD cbCertEncoded) {
  if (GET_CERT_ENCODING_TYPE(dwCertEncodingType) != X509_ASN_ENCODING) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  if (cbCertEncoded == 0) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
    return nullptr;
  }
  if (!pbCertEncoded) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  HRESULT error = 0;
  CertObject* object = NewCertObject(pbCertEncoded, cbCertEncoded, &error);
  if (!object) {
    SetLastError(static_cast<DWORD>(error));
    return nullptr;
  }
  return &object->ctx;
}

extern "C" BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  // Windows returns TRUE whatever it is given; an unknown pointer is simply ignored here.
  if (CertObject* object = LookupContext(pCertContext)) Release(object);
  return TRUE;
}

extern "C" PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* object = LookupContext(pCertContext);
  if (!object || object->refs <= 0) return nullptr;
  AddRef(object);
  return pCertContext;
}

extern "C" BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                         void* pvData, DWORD* pcbData) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* object = LookupContext(pCertContext);
  if (!object || !pcbData) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  CertObject* owner = PropertyOwner(object);
  auto found = owner->props.find(dwPropId);
  switch (dwPropId) {
    case CERT_SHA1_HASH_PROP_ID:
    case CERT_MD5_HASH_PROP_ID:
      if (found == owner->props.end()) {
        // Computed on first use and kept, as Windows does.
        owner->props[dwPropId] = dwPropId == CERT_SHA1_HASH_PROP_ID ? Sha1Of(owner->encoded) : Md5Of(owner->encoded);
        found = owner->props.find(dwPropId);
      }
      break;
    case CERT_KEY_PROV_INFO_PROP_ID:
      if (found != owner->props.end()) {
        DWORD size = 0;
        if (!ExpandKeyProvInfo(found->second, nullptr, &size)) {
          SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
          return FALSE;
        }
        return ReturnFilled(size, pvData, pcbData, [&](void* to) { ExpandKeyProvInfo(found->second, to, &size); });
      }
      break;
    case CERT_ACCESS_STATE_PROP_ID: {
      DWORD state = 0;
      if (owner->store && owner->store->kind == StoreKind::kSystem)
        state = CERT_ACCESS_STATE_WRITE_PERSIST_FLAG | CERT_ACCESS_STATE_SYSTEM_STORE_FLAG;
      return ReturnBytes(&state, sizeof state, pvData, pcbData);
    }
    default:
      break;
  }
  if (found == owner->props.end()) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
  }
  return ReturnBytes(found->second.data(), found->second.size(), pvData, pcbData);
}

extern "C" BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                         DWORD dwFlags, const void* pvData) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* object = LookupContext(pCertContext);
  if (!object || dwPropId == 0 || dwPropId > CERT_LAST_USER_PROP_ID || dwPropId == CERT_ACCESS_STATE_PROP_ID) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  CertObject* owner = PropertyOwner(object);
  std::vector<uint8_t> value;
  bool remove = pvData == nullptr;
  if (!remove) {
    switch (dwPropId) {
      case CERT_KEY_PROV_INFO_PROP_ID:
        value = SerializeKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
        break;
      case CERT_KEY_CONTEXT_PROP_ID: {
        auto* keyContext = static_cast<const CERT_KEY_CONTEXT*>(pvData);
        // 12 is the size a 32-bit caller passes; both describe the same fields.
        if (keyContext->cbSize != sizeof(CERT_KEY_CONTEXT) && keyContext->cbSize != 12) {
          SetLastError(static_cast<DWORD>(E_INVALIDARG));
          return FALSE;
        }
        CERT_KEY_CONTEXT copy{};
        copy.cbSize = sizeof copy;
        copy.hCryptProv = keyContext->hCryptProv;
        copy.dwKeySpec = keyContext->dwKeySpec;
        auto* p = reinterpret_cast<const uint8_t*>(&copy);
        value.assign(p, p + sizeof copy);
        break;
      }
      case CERT_KEY_PROV_HANDLE_PROP_ID: {
        auto* handle = static_cast<const HCRYPTPROV*>(pvData);
        auto* p = reinterpret_cast<const uint8_t*>(handle);
        value.assign(p, p + sizeof(HCRYPTPROV));
        break;
      }
      case CERT_KEY_SPEC_PROP_ID: {
        auto* p = static_cast<const uint8_t*>(pvData);
        value.assign(p, p + sizeof(DWORD));
        break;
      }
      default: {
        auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
        if (blob->cbData && !blob->pbData) {
          SetLastError(static_cast<DWORD>(E_INVALIDARG));
          return FALSE;
        }
        if (blob->cbData) value.assign(blob->pbData, blob->pbData + blob->cbData);
        break;
      }
    }
  }
  if (!(dwFlags & CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG) &&
      !PersistProperty(owner, dwPropId, remove ? nullptr : &value) &&
      !(dwFlags & CERT_SET_PROPERTY_IGNORE_PERSIST_ERROR_FLAG)) {
    SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_CANTWRITE)));
    return FALSE;
  }
  if (dwPropId == CERT_KEY_CONTEXT_PROP_ID || dwPropId == CERT_KEY_PROV_HANDLE_PROP_ID) {
    auto old = owner->props.find(dwPropId);
    if (old != owner->props.end() && (remove || old->second != value)) {
      // The handle being replaced belongs to the context: release it, unless the new value keeps it.
      bool sameHandle = false;
      if (!remove && dwPropId == CERT_KEY_CONTEXT_PROP_ID && old->second.size() == value.size())
        sameHandle = reinterpret_cast<const CERT_KEY_CONTEXT*>(old->second.data())->hCryptProv ==
                     reinterpret_cast<const CERT_KEY_CONTEXT*>(value.data())->hCryptProv;
      if (!sameHandle) ReleaseProviderHandle(owner->props, dwPropId);
    }
  }
  if (remove)
    owner->props.erase(dwPropId);
  else
    owner->props[dwPropId] = std::move(value);
  return TRUE;
}

extern "C" DWORD WINAPI CertEnumCertificateContextProperties(PCCERT_CONTEXT pCertContext, DWORD dwPropId) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* object = LookupContext(pCertContext);
  if (!object) return 0;
  CertObject* owner = PropertyOwner(object);
  auto it = owner->props.upper_bound(dwPropId);
  return it == owner->props.end() ? 0 : it->first;
}
