// Removal of the key containers an import made unused.
#include "keys/import_key_containers.h"

#include "cert/cert_finder.h"
#include "kvseam/owned_handles.h"
#include "vocabulary/text.h"

namespace {

struct ContainerRef {
  std::string container;
  std::string provider;
  DWORD provType = 0;
  DWORD machine = 0;
};

bool ReadContainer(CCertFinder& store, PCCERT_CONTEXT context, ContainerRef* ref) {
  KeyProvInfoPtr info = store.GetKeyProvInfo(context);
  if (!info || !info->pwszContainerName) return false;
  ref->container = kv::WideToNarrow(info->pwszContainerName);
  ref->provider = info->pwszProvName ? kv::WideToNarrow(info->pwszProvName) : std::string();
  ref->provType = info->dwProvType;
  ref->machine = info->dwFlags & CRYPT_MACHINE_KEYSET;
  return !ref->container.empty();
}

// Container names are compared without regard to case, as the providers do.
bool SameContainer(const ContainerRef& a, const ContainerRef& b) {
  return a.machine == b.machine && kv::EqualsNoCase(a.container, b.container);
}

// True only when a walk of the whole store read every certificate's key
// information (or found none) and none names the container.
bool UnnamedIn(CCertFinder& store, const ContainerRef& ref) {
  kv::OwnedCertificate context;
  while (kv::NextCertificate(store.Store(), &context)) {
    ContainerRef named;
    bool read = ReadContainer(store, context.get(), &named);
    if ((read && SameContainer(named, ref)) || (!read && store.LastError() != static_cast<DWORD>(CRYPT_E_NOT_FOUND)))
      return false;
  }
  return GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
}

bool Delete(const ContainerRef& ref) {
  HCRYPTPROV gone = 0;
  return CryptAcquireContextA(&gone, ref.container.c_str(), ref.provider.empty() ? nullptr : ref.provider.c_str(),
                              ref.provType, CRYPT_DELETEKEYSET | ref.machine) != FALSE;
}

}  // namespace

namespace kv::keys {

bool DeleteUnusedKeyContainer(CCertFinder& personal, CCertFinder& pfx, PCCERT_CONTEXT context) {
  ContainerRef ref;
  return ReadContainer(pfx, context, &ref) && UnnamedIn(personal, ref) && Delete(ref);
}

}  // namespace kv::keys

void CReplacedKeyContainer::Note(CCertFinder& personal, PCCERT_CONTEXT incoming) {
  m_container.clear();
  kv::OwnedCertificate stored(CertFindCertificateInStore(personal.Store(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                         CERT_FIND_EXISTING, incoming, nullptr));
  if (!stored) return;
  ContainerRef ref;
  if (ReadContainer(personal, stored.get(), &ref)) {
    m_container = ref.container;
    m_provider = ref.provider;
    m_provType = ref.provType;
    m_machine = ref.machine;
  }
}

void CReplacedKeyContainer::RemoveIfUnused(CCertFinder& personal, PCCERT_CONTEXT incoming) {
  if (m_container.empty()) return;
  ContainerRef old{m_container, m_provider, m_provType, m_machine};
  m_container.clear();
  // The new copy must hold the certificate's own key in a container of its
  // own; otherwise the old container may still be the only good key.
  ContainerRef fresh;
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider = 0;
  DWORD keySpec = 0;
  BOOL callerFree = FALSE;
  if (!ReadContainer(personal, incoming, &fresh) || SameContainer(fresh, old)) return;
  if (!CryptAcquireCertificatePrivateKey(incoming, CRYPT_ACQUIRE_CACHE_FLAG | CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr,
                                         &provider, &keySpec, &callerFree))
    return;
  // Only a test of the key: released before the old container may go.
  kv::OwnedProvider(callerFree ? static_cast<HCRYPTPROV>(provider) : 0).reset();
  if (UnnamedIn(personal, old)) Delete(old);
}
