// CertGetCertificateChain with the default engine: the issuer path is
// searched in the caller's additional store and the user's "MY", "CA" and
// "ROOT" stores (not the certificate's own store, as on Windows); signatures are verified with
// OpenSSL, and a root is trusted when it is in "ROOT".
#include <windows.h>
#include <wincrypt.h>

#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

#include "cert/cert_object.h"
#include "cert/cert_stores_internal.h"
#include "der/der_span.h"
#include "kernel/file_time.h"
#include "ossl/owned.h"

using namespace kv::platform::cert;
using kv::platform::X509Ptr;
namespace der = kv::der;

namespace {

const size_t kMaxDepth = 16;

struct ChainObject {
  CERT_CHAIN_CONTEXT context{};
  CERT_SIMPLE_CHAIN simple{};
  PCERT_SIMPLE_CHAIN simplePtr = nullptr;
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> elementPtrs;
  std::vector<CertObject*> certs;  // one reference each
  int refs = 1;
};

std::unordered_set<const void*>& LiveChains() {
  static auto* set = new std::unordered_set<const void*>();
  return *set;
}


X509Ptr Parse(const CertObject* object) {
  const unsigned char* p = object->encoded.data();
  return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(object->encoded.size())));
}

bool SignedBy(const CertObject* child, const CertObject* issuer) {
  X509Ptr c = Parse(child), i = Parse(issuer);
  if (!c || !i) return false;
  EVP_PKEY* key = X509_get0_pubkey(i.get());
  return key && X509_verify(c.get(), key) == 1;
}

bool SameBlob(const CERT_NAME_BLOB& a, const CERT_NAME_BLOB& b) {
  return a.cbData == b.cbData && memcmp(a.pbData, b.pbData, a.cbData) == 0;
}

const CERT_EXTENSION* Extension(const CERT_INFO& info, const char* oid) {
  for (DWORD i = 0; i < info.cExtension; ++i)
    if (strcmp(info.rgExtension[i].pszObjId, oid) == 0) return &info.rgExtension[i];
  return nullptr;
}

// The subject key identifier, or the key identifier of the authority key
// identifier; empty when absent.
der::Span SubjectKeyId(const CERT_INFO& info) {
  const CERT_EXTENSION* ext = Extension(info, szOID_SUBJECT_KEY_IDENTIFIER);
  der::Span in(ext ? ext->Value.pbData : nullptr, ext ? ext->Value.cbData : 0), id;
  return ext && in.Read(der::kOctetString, &id) ? id : der::Span();
}

der::Span AuthorityKeyId(const CERT_INFO& info) {
  const CERT_EXTENSION* ext = Extension(info, szOID_AUTHORITY_KEY_IDENTIFIER2);
  der::Span in(ext ? ext->Value.pbData : nullptr, ext ? ext->Value.cbData : 0), seq, id;
  bool present = false;
  if (!ext || !in.Read(der::kSequence, &seq) || !seq.ReadOptional(0x80, &id, &present) || !present)
    return der::Span();
  return id;
}

// How an issuer was matched, as Windows reports it: by key when the child
// names the issuer's key identifier, by name otherwise.
DWORD IssuerMatch(const CERT_INFO& child, const CERT_INFO& issuer) {
  der::Span wanted = AuthorityKeyId(child), have = SubjectKeyId(issuer);
  bool byKey = !wanted.empty() && wanted.size() == have.size() && memcmp(wanted.data(), have.data(), have.size()) == 0;
  return byKey ? CERT_TRUST_HAS_KEY_MATCH_ISSUER : CERT_TRUST_HAS_NAME_MATCH_ISSUER;
}

// A certificate body without its signature decodes, but no chain is built
// for it: Windows reports the missing outer structure.
bool IsSignedCertificate(const CertObject* object) {
  der::Span all(object->encoded.data(), object->encoded.size()), cert;
  return all.Read(der::kSequence, &cert) && cert.PeekTag() == der::kSequence;
}

// Basic constraints: -1 absent, 0 not a CA, 1 a CA.
int IsCaByConstraints(const CERT_INFO& info) {
  const CERT_EXTENSION* ext = Extension(info, szOID_BASIC_CONSTRAINTS2);
  if (!ext) return -1;
  der::Span in(ext->Value.pbData, ext->Value.cbData), seq, flag;
  if (!in.Read(der::kSequence, &seq)) return 0;
  bool present = false;
  if (!seq.ReadOptional(der::kBoolean, &flag, &present) || !present) return 0;
  return flag.size() == 1 && flag.data()[0] ? 1 : 0;
}

// The enhanced key usages of a certificate; false when it has none (any usage).
bool EnhancedUsages(const CERT_INFO& info, std::vector<std::string>* out) {
  const CERT_EXTENSION* ext = Extension(info, szOID_ENHANCED_KEY_USAGE);
  if (!ext) return false;
  der::Span in(ext->Value.pbData, ext->Value.cbData), seq;
  if (!in.Read(der::kSequence, &seq)) return true;
  while (!seq.empty()) {
    der::Span oid;
    if (!seq.Read(der::kOid, &oid)) break;
    std::string text;
    if (der::OidToText(oid, &text)) out->push_back(text);
  }
  return true;
}

bool UsageAllowed(const CERT_INFO& info, const CERT_USAGE_MATCH& wanted) {
  if (wanted.Usage.cUsageIdentifier == 0 || !wanted.Usage.rgpszUsageIdentifier) return true;
  std::vector<std::string> usages;
  if (!EnhancedUsages(info, &usages)) return true;
  bool any = false, all = true;
  for (DWORD i = 0; i < wanted.Usage.cUsageIdentifier; ++i) {
    const char* oid = wanted.Usage.rgpszUsageIdentifier[i];
    bool has = oid && std::find(usages.begin(), usages.end(), oid) != usages.end();
    any = any || has;
    all = all && has;
  }
  return wanted.dwType == USAGE_MATCH_TYPE_OR ? any : all;
}

struct Sources {
  std::vector<Store*> stores;  // searched in order
  std::vector<HCERTSTORE> opened;
  Store* root = nullptr;
};

HCERTSTORE OpenReadOnly(const char* name, DWORD location) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                       (location << CERT_SYSTEM_STORE_LOCATION_SHIFT) | CERT_STORE_READONLY_FLAG, name);
}

CertObject* FindIssuer(const Sources& sources, const CertObject* child, const std::vector<CertObject*>& chain,
                       bool* signatureOk, uint64_t now) {
  CertObject* nameMatch = nullptr;
  CertObject* expiredButSigned = nullptr;
  for (Store* store : sources.stores) {
    for (CertObject* entry : store->entries) {
      CertObject* candidate = PropertyOwner(entry);
      if (!SameBlob(candidate->info.Subject, child->info.Issuer)) continue;
      bool inChain = false;
      for (CertObject* c : chain) inChain = inChain || c->encoded == candidate->encoded;
      if (inChain) continue;
      if (SignedBy(child, candidate)) {
        bool timeValid = now >= kv::platform::FileTimeTicks(candidate->info.NotBefore) &&
                         now <= kv::platform::FileTimeTicks(candidate->info.NotAfter);
        if (timeValid) {
          *signatureOk = true;
          return entry;
        }
        if (!expiredButSigned) expiredButSigned = entry;
      } else if (!nameMatch) {
        nameMatch = entry;
      }
    }
  }
  if (expiredButSigned) {
    *signatureOk = true;
    return expiredButSigned;
  }
  *signatureOk = false;
  return nameMatch;
}

bool InRootStore(const Sources& sources, const CertObject* cert) {
  if (!sources.root) return false;
  for (CertObject* entry : sources.root->entries)
    if (PropertyOwner(entry)->encoded == cert->encoded) return true;
  return false;
}

BOOL Fail(HRESULT hr) {
  SetLastError(static_cast<DWORD>(hr));
  return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                                               LPFILETIME pTime, HCERTSTORE hAdditionalStore,
                                               PCERT_CHAIN_PARA pChainPara, DWORD dwFlags, LPVOID pvReserved,
                                               PCCERT_CHAIN_CONTEXT* ppChainContext) {
  if (ppChainContext) *ppChainContext = nullptr;
  if (!ppChainContext || !pChainPara || pChainPara->cbSize < sizeof(DWORD) || pvReserved ||
      (hChainEngine != HCCE_CURRENT_USER && hChainEngine != HCCE_LOCAL_MACHINE))
    return Fail(E_INVALIDARG);
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* leaf = LookupContext(pCertContext);
  Store* additional = hAdditionalStore ? LookupStore(hAdditionalStore) : nullptr;
  if (!leaf || leaf->refs <= 0 || (hAdditionalStore && !additional)) return Fail(E_INVALIDARG);
  if (!IsSignedCertificate(PropertyOwner(leaf))) return Fail(CRYPT_E_ASN1_BADTAG);

  DWORD location = hChainEngine == HCCE_LOCAL_MACHINE ? CERT_SYSTEM_STORE_LOCAL_MACHINE_ID
                                                      : CERT_SYSTEM_STORE_CURRENT_USER_ID;
  Sources sources;
  if (additional) {
    ResyncStore(additional);
    sources.stores.push_back(additional);
  }
  for (const char* name : {"MY", "CA", "ROOT"}) {
    HCERTSTORE handle = OpenReadOnly(name, location);
    if (!handle) continue;
    sources.opened.push_back(handle);
    Store* store = LookupStore(handle);
    sources.stores.push_back(store);
    if (strcmp(name, "ROOT") == 0) sources.root = store;
  }

  FILETIME now;
  if (pTime) now = *pTime; else GetSystemTimeAsFileTime(&now);
  uint64_t at = kv::platform::FileTimeTicks(now);
  CERT_USAGE_MATCH usage{};
  if (pChainPara->cbSize >= sizeof(CERT_CHAIN_PARA)) usage = pChainPara->RequestedUsage;

  auto* chain = new ChainObject();
  std::vector<CertObject*> path;  // property owners, for comparisons
  std::vector<DWORD> errors, infos;
  AddRef(leaf);
  chain->certs.push_back(leaf);
  path.push_back(PropertyOwner(leaf));
  DWORD chainError = 0;
  while (true) {
    CertObject* current = path.back();
    size_t index = path.size() - 1;
    errors.push_back(0);
    infos.push_back(0);
    if (SameBlob(current->info.Subject, current->info.Issuer)) {
      // Self-issued: the top of the path.
      if (SignedBy(current, current))
        infos[index] |= CERT_TRUST_IS_SELF_SIGNED | IssuerMatch(current->info, current->info);
      else
        errors[index] |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
      if (!InRootStore(sources, current)) errors[index] |= CERT_TRUST_IS_UNTRUSTED_ROOT;
      break;
    }
    if (path.size() >= kMaxDepth) {
      chainError |= CERT_TRUST_IS_PARTIAL_CHAIN;
      break;
    }
    bool signatureOk = false;
    CertObject* issuer = FindIssuer(sources, current, path, &signatureOk, at);
    if (!issuer) {
      // A path that leads back into itself ends, as on Windows, with the
      // certificate it returns to shown once more and marked cyclic.
      for (size_t j = 0; j < path.size(); ++j) {
        if (!SameBlob(path[j]->info.Subject, current->info.Issuer)) continue;
        infos[index] |= IssuerMatch(current->info, path[j]->info);
        if (!SignedBy(current, path[j])) errors[index] |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
        AddRef(chain->certs[j]);
        chain->certs.push_back(chain->certs[j]);
        path.push_back(path[j]);
        errors.push_back(CERT_TRUST_IS_CYCLIC);
        infos.push_back(IssuerMatch(path[j]->info, path[j + 1]->info));
        break;
      }
      chainError |= CERT_TRUST_IS_PARTIAL_CHAIN;
      break;
    }
    infos[index] |= IssuerMatch(current->info, PropertyOwner(issuer)->info);
    if (!signatureOk) errors[index] |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    AddRef(issuer);
    chain->certs.push_back(issuer);
    path.push_back(PropertyOwner(issuer));
  }

  for (size_t i = 0; i < path.size(); ++i) {
    const CERT_INFO& info = path[i]->info;
    if (CertVerifyTimeValidity(&now, const_cast<PCERT_INFO>(&info)) != 0) errors[i] |= CERT_TRUST_IS_NOT_TIME_VALID;
    // CERT_TRUST_IS_NOT_TIME_NESTED is never set: current Windows no longer
    // reports it, and issuers routinely expire before what they issued.
    if (!UsageAllowed(info, usage)) errors[i] |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    if (i > 0) {
      // An issuer must be allowed to issue certificates.
      if (IsCaByConstraints(info) == 0) errors[i] |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
      BYTE keyUsage = 0;
      if (CertGetIntendedKeyUsage(X509_ASN_ENCODING, const_cast<PCERT_INFO>(&info), &keyUsage, 1) &&
          !(keyUsage & CERT_KEY_CERT_SIGN_KEY_USAGE))
        errors[i] |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    }
    if (dwFlags & (CERT_CHAIN_REVOCATION_CHECK_END_CERT | CERT_CHAIN_REVOCATION_CHECK_CHAIN |
                   CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT)) {
      // No revocation source is reachable: the status is unknown, never "good".
      bool isRoot = i + 1 == path.size() && (infos[i] & CERT_TRUST_IS_SELF_SIGNED);
      bool checked = (dwFlags & CERT_CHAIN_REVOCATION_CHECK_CHAIN) ||
                     ((dwFlags & CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT) && !isRoot) ||
                     ((dwFlags & CERT_CHAIN_REVOCATION_CHECK_END_CERT) && i == 0);
      if (checked && !isRoot) errors[i] |= CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
    }
    chainError |= errors[i];
  }

  size_t count = chain->certs.size();
  chain->elements.resize(count);
  chain->elementPtrs.resize(count);
  DWORD chainInfo = 0;
  for (size_t i = 0; i < count; ++i) {
    chainInfo |= infos[i] & (CERT_TRUST_HAS_NAME_MATCH_ISSUER | CERT_TRUST_HAS_KEY_MATCH_ISSUER);
    CERT_CHAIN_ELEMENT& e = chain->elements[i];
    e.cbSize = sizeof(CERT_CHAIN_ELEMENT);
    e.pCertContext = &chain->certs[i]->ctx;
    e.TrustStatus.dwErrorStatus = errors[i];
    e.TrustStatus.dwInfoStatus = infos[i];
    chain->elementPtrs[i] = &e;
  }
  chain->simple.cbSize = sizeof(CERT_SIMPLE_CHAIN);
  chain->simple.TrustStatus.dwErrorStatus = chainError;
  chain->simple.TrustStatus.dwInfoStatus = chainInfo;
  chain->simple.cElement = static_cast<DWORD>(count);
  chain->simple.rgpElement = chain->elementPtrs.data();
  chain->simplePtr = &chain->simple;
  chain->context.cbSize = sizeof(CERT_CHAIN_CONTEXT);
  chain->context.TrustStatus = chain->simple.TrustStatus;
  chain->context.cChain = 1;
  chain->context.rgpChain = &chain->simplePtr;
  LiveChains().insert(&chain->context);

  for (HCERTSTORE handle : sources.opened) CertCloseStore(handle, 0);
  *ppChainContext = &chain->context;
  return TRUE;
}

extern "C" void WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  if (!pChainContext) return;
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  auto& live = LiveChains();
  if (live.find(pChainContext) == live.end()) return;
  auto* chain = reinterpret_cast<ChainObject*>(const_cast<CERT_CHAIN_CONTEXT*>(pChainContext));
  if (--chain->refs > 0) return;
  live.erase(pChainContext);
  for (CertObject* cert : chain->certs) Release(cert);
  delete chain;
}

extern "C" PCCERT_CHAIN_CONTEXT WINAPI CertDuplicateCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  auto& live = LiveChains();
  if (!pChainContext || live.find(pChainContext) == live.end()) return nullptr;
  ++reinterpret_cast<ChainObject*>(const_cast<CERT_CHAIN_CONTEXT*>(pChainContext))->refs;
  return pChainContext;
}
