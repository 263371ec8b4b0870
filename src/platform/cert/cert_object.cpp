// Certificate decoding into CERT_INFO, reference counting of contexts and
// stores, and the table of live objects.
#include "cert/cert_object.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "der/der_span.h"
#include "kernel/der_time.h"

namespace kv::platform::cert {

namespace {

std::unordered_set<const void*>& LiveContexts() {
  static auto* set = new std::unordered_set<const void*>();
  return *set;
}

std::unordered_set<const void*>& LiveStores() {
  static auto* set = new std::unordered_set<const void*>();
  return *set;
}

using der::Span;


// AlgorithmIdentifier into CRYPT_ALGORITHM_IDENTIFIER (parameters point into the encoding).
bool ReadAlgorithm(Span* in, CertObject* object, CRYPT_ALGORITHM_IDENTIFIER* out, HRESULT* error) {
  Span body, oid;
  if (!in->Read(der::kSequence, &body)) return *error = in->error(), false;
  if (!body.Read(der::kOid, &oid)) return *error = body.error(), false;
  // An empty identifier decodes to an empty string, as Windows decodes it.
  std::string text;
  if (!oid.empty() && !OidText(oid.data(), oid.size(), &text)) return *error = CRYPT_E_ASN1_CORRUPT, false;
  object->oids.push_back(text);
  out->pszObjId = const_cast<LPSTR>(object->oids.back().c_str());
  out->Parameters.cbData = static_cast<DWORD>(body.size());
  out->Parameters.pbData = body.size() ? const_cast<BYTE*>(body.data()) : nullptr;
  return true;
}

bool ReadBitString(Span contents, CRYPT_BIT_BLOB* out, HRESULT* error) {
  if (contents.empty() || contents.data()[0] > 7 || (contents.size() == 1 && contents.data()[0] != 0)) {
    *error = CRYPT_E_ASN1_CORRUPT;
    return false;
  }
  out->cUnusedBits = contents.data()[0];
  out->cbData = static_cast<DWORD>(contents.size() - 1);
  out->pbData = out->cbData ? const_cast<BYTE*>(contents.data() + 1) : nullptr;
  return true;
}

bool ReadTime(Span* in, FILETIME* out, HRESULT* error) {
  uint8_t tag;
  Span contents;
  if (!in->ReadAny(&tag, &contents)) return *error = in->error(), false;
  if (tag != der::kUtcTime && tag != der::kGeneralizedTime) return *error = CRYPT_E_ASN1_BADTAG, false;
  if (!kv::platform::DerTimeToFileTime(tag, contents, out)) return *error = CRYPT_E_ASN1_CORRUPT, false;
  return true;
}

bool DecodeInto(CertObject* object, HRESULT* error) {
  Span all(object->encoded.data(), object->encoded.size());
  Span cert, tbs, whole;
  if (!all.Read(der::kSequence, &cert, &whole)) return *error = all.error(), false;
  // Anything after the certificate is not part of it.
  object->encoded.resize(whole.size());
  // Windows also takes the body of a certificate without its signature
  // (what it decodes decides, not whether it is signed); a signed
  // certificate starts with the body's SEQUENCE, a bare body with its version
  // or serial number.
  if (!cert.empty() && cert.PeekTag() == der::kSequence) {
    Span tbsWhole;
    if (!cert.Read(der::kSequence, &tbs, &tbsWhole)) return *error = cert.error(), false;
    CRYPT_ALGORITHM_IDENTIFIER outerAlg{};
    if (!ReadAlgorithm(&cert, object, &outerAlg, error)) return false;
    Span signature;
    if (!cert.Read(der::kBitString, &signature)) return *error = cert.error(), false;
  } else {
    tbs = cert;
  }

  CERT_INFO& info = object->info;
  bool present;
  Span versionBody;
  if (!tbs.ReadOptional(der::kContext0, &versionBody, &present)) return *error = tbs.error(), false;
  info.dwVersion = CERT_V1;
  if (present) {
    Span v;
    if (!versionBody.Read(der::kInteger, &v)) return *error = versionBody.error(), false;
    if (v.size() != 1 || v.data()[0] > 2) return *error = CRYPT_E_ASN1_CORRUPT, false;
    info.dwVersion = v.data()[0];
  }
  Span serial;
  if (!tbs.Read(der::kInteger, &serial)) return *error = tbs.error(), false;
  if (serial.empty()) return *error = CRYPT_E_ASN1_CORRUPT, false;
  object->serial.assign(serial.data(), serial.data() + serial.size());
  std::reverse(object->serial.begin(), object->serial.end());
  if (!ReadAlgorithm(&tbs, object, &info.SignatureAlgorithm, error)) return false;
  Span issuer, issuerWhole;
  if (!tbs.Read(der::kSequence, &issuer, &issuerWhole)) return *error = tbs.error(), false;
  Span validity;
  if (!tbs.Read(der::kSequence, &validity)) return *error = tbs.error(), false;
  if (!ReadTime(&validity, &info.NotBefore, error) || !ReadTime(&validity, &info.NotAfter, error)) return false;
  Span subject, subjectWhole;
  if (!tbs.Read(der::kSequence, &subject, &subjectWhole)) return *error = tbs.error(), false;
  Span spki;
  if (!tbs.Read(der::kSequence, &spki)) return *error = tbs.error(), false;
  if (!ReadAlgorithm(&spki, object, &info.SubjectPublicKeyInfo.Algorithm, error)) return false;
  Span keyBits;
  if (!spki.Read(der::kBitString, &keyBits)) return *error = spki.error(), false;
  if (!ReadBitString(keyBits, &info.SubjectPublicKeyInfo.PublicKey, error)) return false;

  Span uid;
  if (!tbs.ReadOptional(0x81, &uid, &present)) return *error = tbs.error(), false;
  if (present && !ReadBitString(uid, &info.IssuerUniqueId, error)) return false;
  if (!tbs.ReadOptional(0x82, &uid, &present)) return *error = tbs.error(), false;
  if (present && !ReadBitString(uid, &info.SubjectUniqueId, error)) return false;

  Span extWrapper;
  if (!tbs.ReadOptional(der::kContext3, &extWrapper, &present)) return *error = tbs.error(), false;
  if (present) {
    Span list;
    if (!extWrapper.Read(der::kSequence, &list)) return *error = extWrapper.error(), false;
    while (!list.empty()) {
      Span ext, oid, value;
      if (!list.Read(der::kSequence, &ext)) return *error = list.error(), false;
      if (!ext.Read(der::kOid, &oid)) return *error = ext.error(), false;
      std::string text;
      if (!OidText(oid.data(), oid.size(), &text)) return *error = CRYPT_E_ASN1_CORRUPT, false;
      CERT_EXTENSION e{};
      Span critical;
      if (!ext.ReadOptional(der::kBoolean, &critical, &present)) return *error = ext.error(), false;
      if (present) {
        if (critical.size() != 1) return *error = CRYPT_E_ASN1_CORRUPT, false;
        e.fCritical = critical.data()[0] ? TRUE : FALSE;
      }
      if (!ext.Read(der::kOctetString, &value)) return *error = ext.error(), false;
      object->oids.push_back(text);
      e.pszObjId = const_cast<LPSTR>(object->oids.back().c_str());
      e.Value.cbData = static_cast<DWORD>(value.size());
      e.Value.pbData = value.size() ? const_cast<BYTE*>(value.data()) : nullptr;
      object->extensions.push_back(e);
    }
  }
  info.SerialNumber.cbData = static_cast<DWORD>(object->serial.size());
  info.SerialNumber.pbData = object->serial.data();
  info.Issuer.cbData = static_cast<DWORD>(issuerWhole.size());
  info.Issuer.pbData = const_cast<BYTE*>(issuerWhole.data());
  info.Subject.cbData = static_cast<DWORD>(subjectWhole.size());
  info.Subject.pbData = const_cast<BYTE*>(subjectWhole.data());
  info.cExtension = static_cast<DWORD>(object->extensions.size());
  info.rgExtension = object->extensions.empty() ? nullptr : object->extensions.data();
  return true;
}

void Destroy(CertObject* object) {
  LiveContexts().erase(object);
  ReleaseProviderProperties(object->props);
  CertObject* target = object->linkTarget;
  delete object;
  if (target) Release(target);
}

void DestroyStore(Store* store) {
  LiveStores().erase(store);
  std::vector<CertObject*> entries;
  entries.swap(store->entries);
  for (CertObject* entry : entries) {
    entry->inList = false;
    if (entry->refs == 0) Destroy(entry);
  }
  delete store;
}

}  // namespace

bool OidText(const uint8_t* data, size_t size, std::string* text) {
  static auto* lock = new std::mutex();
  static auto* known = new std::unordered_map<std::string, std::string>();
  std::string key(reinterpret_cast<const char*>(data), size);
  std::lock_guard<std::mutex> guard(*lock);
  auto found = known->find(key);
  if (found != known->end()) {
    *text = found->second;
    return true;
  }
  if (!der::OidToText(Span(data, size), text)) return false;
  // Bounded, as the encodings come from outside.
  if (known->size() >= 512) known->clear();
  known->emplace(std::move(key), *text);
  return true;
}

void ReleaseProviderHandle(const PropertyMap& props, DWORD propId) {
  auto found = props.find(propId);
  if (found == props.end()) return;
  HCRYPTPROV prov = 0;
  if (propId == CERT_KEY_CONTEXT_PROP_ID && found->second.size() >= sizeof(CERT_KEY_CONTEXT))
    prov = reinterpret_cast<const CERT_KEY_CONTEXT*>(found->second.data())->hCryptProv;
  else if (propId == CERT_KEY_PROV_HANDLE_PROP_ID && found->second.size() >= sizeof(HCRYPTPROV))
    memcpy(&prov, found->second.data(), sizeof prov);
  if (!prov) return;
  // A provider handle kept on a context belongs to it, as on Windows; the
  // caller's last error survives a handle it had already released itself.
  DWORD saved = GetLastError();
  CryptReleaseContext(prov, 0);
  SetLastError(saved);
}

void ReleaseProviderProperties(const PropertyMap& props) {
  ReleaseProviderHandle(props, CERT_KEY_CONTEXT_PROP_ID);
  ReleaseProviderHandle(props, CERT_KEY_PROV_HANDLE_PROP_ID);
}

std::recursive_mutex& ModelLock() {
  static auto* lock = new std::recursive_mutex();
  return *lock;
}

CertObject* LookupContext(PCCERT_CONTEXT context) {
  if (!context) return nullptr;
  auto& live = LiveContexts();
  if (live.find(context) == live.end()) return nullptr;
  return reinterpret_cast<CertObject*>(const_cast<CERT_CONTEXT*>(context));
}

Store* LookupStore(HCERTSTORE store) {
  if (!store) return nullptr;
  auto& live = LiveStores();
  if (live.find(store) == live.end()) return nullptr;
  return static_cast<Store*>(store);
}

CertObject* DecodeCertTemplate(const uint8_t* data, size_t size, HRESULT* error) {
  auto* object = new CertObject();
  object->encoded.assign(data, data + size);
  if (!DecodeInto(object, error)) {
    delete object;
    return nullptr;
  }
  object->ctx.dwCertEncodingType = X509_ASN_ENCODING;
  object->ctx.pbCertEncoded = object->encoded.data();
  object->ctx.cbCertEncoded = static_cast<DWORD>(object->encoded.size());
  object->ctx.pCertInfo = &object->info;
  object->ctx.hCertStore = nullptr;
  return object;
}

CertObject* NewCertObject(const uint8_t* data, size_t size, HRESULT* error) {
  CertObject* object = DecodeCertTemplate(data, size, error);
  if (!object) return nullptr;
  object->refs = 1;
  LiveContexts().insert(object);
  return object;
}

CertObject* CopyCertObject(const CertObject& decoded) {
  auto* object = new CertObject();
  object->encoded = decoded.encoded;
  object->serial = decoded.serial;
  object->oids = decoded.oids;
  object->extensions = decoded.extensions;
  object->info = decoded.info;
  // Every pointer of the decoded form points into the encoding, the serial
  // number or the identifier texts: each is moved to the same place in the copy.
  const uint8_t* from = decoded.encoded.data();
  uint8_t* to = object->encoded.data();
  auto rebase = [&](BYTE* p) -> BYTE* { return p ? to + (p - from) : nullptr; };
  auto oid = [&](LPSTR text) -> LPSTR {
    for (size_t i = 0; i < decoded.oids.size(); ++i)
      if (decoded.oids[i].c_str() == text) return const_cast<LPSTR>(object->oids[i].c_str());
    return text;
  };
  CERT_INFO& info = object->info;
  info.SerialNumber.pbData = object->serial.data();
  info.SignatureAlgorithm.pszObjId = oid(info.SignatureAlgorithm.pszObjId);
  info.SignatureAlgorithm.Parameters.pbData = rebase(info.SignatureAlgorithm.Parameters.pbData);
  info.Issuer.pbData = rebase(info.Issuer.pbData);
  info.Subject.pbData = rebase(info.Subject.pbData);
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = oid(info.SubjectPublicKeyInfo.Algorithm.pszObjId);
  info.SubjectPublicKeyInfo.Algorithm.Parameters.pbData =
      rebase(info.SubjectPublicKeyInfo.Algorithm.Parameters.pbData);
  info.SubjectPublicKeyInfo.PublicKey.pbData = rebase(info.SubjectPublicKeyInfo.PublicKey.pbData);
  info.IssuerUniqueId.pbData = rebase(info.IssuerUniqueId.pbData);
  info.SubjectUniqueId.pbData = rebase(info.SubjectUniqueId.pbData);
  for (CERT_EXTENSION& extension : object->extensions) {
    extension.pszObjId = oid(extension.pszObjId);
    extension.Value.pbData = rebase(extension.Value.pbData);
  }
  info.rgExtension = object->extensions.empty() ? nullptr : object->extensions.data();
  object->ctx = decoded.ctx;
  object->ctx.pbCertEncoded = to;
  object->ctx.pCertInfo = &object->info;
  object->ctx.hCertStore = nullptr;
  object->refs = 1;
  LiveContexts().insert(object);
  return object;
}

CertObject* NewLinkObject(CertObject* target, Store* store) {
  auto* object = new CertObject();
  AddRef(target);
  object->linkTarget = target;
  object->ctx = target->ctx;
  object->ctx.hCertStore = store;
  object->refs = 1;
  LiveContexts().insert(object);
  return object;
}

void AddRef(CertObject* object) {
  ++object->refs;
  if (object->store) ++object->store->refs;
}

void Release(CertObject* object) {
  Store* store = object->store;
  if (object->refs <= 0) return;  // a reference the caller no longer holds
  --object->refs;
  bool destroy = object->refs == 0 && !object->inList;
  if (destroy) Destroy(object);
  if (store && --store->refs <= 0) DestroyStore(store);
}

Store* NewStore(StoreKind kind) {
  auto* store = new Store();
  store->kind = kind;
  store->refs = 1;
  store->handles = 1;
  LiveStores().insert(store);
  return store;
}

void AddStoreRef(Store* store) { ++store->refs; }

void ReleaseStore(Store* store) {
  if (--store->refs <= 0) DestroyStore(store);
}

void AttachToStore(Store* store, CertObject* object) {
  // The caller's reference becomes a reference that counts against the store.
  object->store = store;
  object->ctx.hCertStore = store;
  object->inList = true;
  object->seq = object->rowId ? static_cast<uint64_t>(object->rowId) : store->nextSeq++;
  if (object->seq >= store->nextSeq) store->nextSeq = object->seq + 1;
  store->entries.push_back(object);
  --object->refs;
}

void DetachFromStore(CertObject* object) {
  Store* store = object->store;
  if (!store || !object->inList) return;
  auto& entries = store->entries;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (*it == object) {
      entries.erase(it);
      break;
    }
  }
  object->inList = false;
  if (object->refs == 0) Destroy(object);
}

CertObject* PropertyOwner(CertObject* object) {
  while (object->linkTarget) object = object->linkTarget;
  return object;
}

static std::vector<uint8_t> Digest(const EVP_MD* md, const std::vector<uint8_t>& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(data.data(), data.size(), out, &n, md, nullptr)) return {};
  return std::vector<uint8_t>(out, out + n);
}

std::vector<uint8_t> Sha1Of(const std::vector<uint8_t>& data) { return Digest(EVP_sha1(), data); }
std::vector<uint8_t> Md5Of(const std::vector<uint8_t>& data) { return Digest(EVP_md5(), data); }

namespace {

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool GetU32(const std::vector<uint8_t>& in, size_t* pos, uint32_t* v) {
  if (in.size() - *pos < 4 || *pos > in.size()) return false;
  *v = 0;
  for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(in[*pos + i]) << (8 * i);
  *pos += 4;
  return true;
}

void PutWide(std::vector<uint8_t>* out, LPCWSTR text) {
  if (!text) {
    PutU32(out, 0xFFFFFFFFu);
    return;
  }
  uint32_t n = 0;
  while (text[n]) ++n;
  PutU32(out, n);
  for (uint32_t i = 0; i < n; ++i) {
    out->push_back(static_cast<uint8_t>(text[i]));
    out->push_back(static_cast<uint8_t>(text[i] >> 8));
  }
}

bool GetWide(const std::vector<uint8_t>& in, size_t* pos, std::u16string* text, bool* present) {
  uint32_t n;
  if (!GetU32(in, pos, &n)) return false;
  *present = n != 0xFFFFFFFFu;
  text->clear();
  if (!*present) return true;
  if ((in.size() - *pos) / 2 < n) return false;
  for (uint32_t i = 0; i < n; ++i) {
    text->push_back(static_cast<char16_t>(in[*pos] | (in[*pos + 1] << 8)));
    *pos += 2;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> SerializeKeyProvInfo(const CRYPT_KEY_PROV_INFO& info) {
  std::vector<uint8_t> out;
  PutWide(&out, info.pwszContainerName);
  PutWide(&out, info.pwszProvName);
  PutU32(&out, info.dwProvType);
  PutU32(&out, info.dwFlags);
  PutU32(&out, info.dwKeySpec);
  DWORD count = info.rgProvParam ? info.cProvParam : 0;
  PutU32(&out, count);
  for (DWORD i = 0; i < count; ++i) {
    const CRYPT_KEY_PROV_PARAM& p = info.rgProvParam[i];
    DWORD cb = p.pbData ? p.cbData : 0;
    PutU32(&out, p.dwParam);
    PutU32(&out, p.dwFlags);
    PutU32(&out, cb);
    if (cb) out.insert(out.end(), p.pbData, p.pbData + cb);
  }
  return out;
}

bool ExpandKeyProvInfo(const std::vector<uint8_t>& flat, void* out, DWORD* size) {
  size_t pos = 0;
  std::u16string container, provider;
  bool hasContainer, hasProvider;
  uint32_t provType, flags, keySpec, count;
  if (!GetWide(flat, &pos, &container, &hasContainer) || !GetWide(flat, &pos, &provider, &hasProvider) ||
      !GetU32(flat, &pos, &provType) || !GetU32(flat, &pos, &flags) || !GetU32(flat, &pos, &keySpec) ||
      !GetU32(flat, &pos, &count) || count > 1024)
    return false;
  struct Param {
    uint32_t id, flags;
    std::vector<uint8_t> data;
  };
  std::vector<Param> params(count);
  for (auto& p : params) {
    uint32_t cb;
    if (!GetU32(flat, &pos, &p.id) || !GetU32(flat, &pos, &p.flags) || !GetU32(flat, &pos, &cb) ||
        flat.size() - pos < cb)
      return false;
    p.data.assign(flat.begin() + pos, flat.begin() + pos + cb);
    pos += cb;
  }
  // Layout: structure, parameter array, names, parameter data; each part aligned.
  auto align = [](size_t v) { return (v + 7) & ~static_cast<size_t>(7); };
  size_t total = align(sizeof(CRYPT_KEY_PROV_INFO));
  size_t paramsAt = total;
  total = align(total + count * sizeof(CRYPT_KEY_PROV_PARAM));
  size_t containerAt = total;
  if (hasContainer) total = align(total + (container.size() + 1) * sizeof(WCHAR));
  size_t providerAt = total;
  if (hasProvider) total = align(total + (provider.size() + 1) * sizeof(WCHAR));
  std::vector<size_t> dataAt;
  for (auto& p : params) {
    dataAt.push_back(total);
    total = align(total + p.data.size());
  }
  *size = static_cast<DWORD>(total);
  if (!out) return true;
  auto* base = static_cast<uint8_t*>(out);
  memset(base, 0, total);
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(base);
  if (hasContainer) {
    memcpy(base + containerAt, container.c_str(), (container.size() + 1) * sizeof(WCHAR));
    info->pwszContainerName = reinterpret_cast<LPWSTR>(base + containerAt);
  }
  if (hasProvider) {
    memcpy(base + providerAt, provider.c_str(), (provider.size() + 1) * sizeof(WCHAR));
    info->pwszProvName = reinterpret_cast<LPWSTR>(base + providerAt);
  }
  info->dwProvType = provType;
  info->dwFlags = flags;
  info->dwKeySpec = keySpec;
  info->cProvParam = count;
  info->rgProvParam = count ? reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(base + paramsAt) : nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    CRYPT_KEY_PROV_PARAM& p = info->rgProvParam[i];
    p.dwParam = params[i].id;
    p.dwFlags = params[i].flags;
    p.cbData = static_cast<DWORD>(params[i].data.size());
    if (!params[i].data.empty()) memcpy(base + dataAt[i], params[i].data.data(), params[i].data.size());
    p.pbData = base + dataAt[i];
  }
  return true;
}

}  // namespace kv::platform::cert
