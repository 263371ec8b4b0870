// In-memory model behind certificate contexts and store handles: the
// decoded certificate, its properties, reference counts, and the table of
// live objects that lets every call reject a pointer of the wrong kind.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kv::platform::cert {

struct Store;

using PropertyMap = std::map<DWORD, std::vector<uint8_t>>;

// One certificate context. CERT_CONTEXT comes first so the public pointer
// and the object share an address.
struct CertObject {
  CERT_CONTEXT ctx{};
  int refs = 0;          // references handed to callers
  bool inList = false;   // held by its store's list
  uint64_t seq = 0;      // position in the store (insertion order)
  int64_t rowId = 0;     // row of a system store, 0 otherwise
  bool fromToken = false;  // shown by "MY" while its token is present; never stored
  Store* store = nullptr;
  CertObject* linkTarget = nullptr;  // a link: properties live at the target
  std::vector<uint8_t> encoded;
  CERT_INFO info{};
  std::deque<std::string> oids;  // storage for the OID strings of `info`
  std::vector<CERT_EXTENSION> extensions;
  std::vector<uint8_t> serial;   // least significant byte first
  PropertyMap props;
};

enum class StoreKind { kMemory, kSystem };

struct Store {
  int refs = 0;     // open handles plus caller references to its contexts
  int handles = 0;  // open handles alone
  StoreKind kind = StoreKind::kMemory;
  bool readOnly = false;
  DWORD location = 0;  // system stores: CERT_SYSTEM_STORE_*_ID
  std::string name;    // system stores: the name as opened
  std::vector<CertObject*> entries;  // insertion order
  std::string syncedVersion;         // system stores: CertTablesVersion at the last refresh
  uint64_t nextSeq = 1;
  uint64_t tokenSeqs = 0;  // token certificates shown so far (cert/token_view.h)
};

// The lock every certificate call holds while it touches the model.
std::recursive_mutex& ModelLock();

// Live-object table.
CertObject* LookupContext(PCCERT_CONTEXT context);  // null when not a live context
Store* LookupStore(HCERTSTORE store);                // null when not a live store

// Decodes `size` bytes of a certificate into a new object with one caller
// reference and no store; null with the decoder's error in *error.
CertObject* NewCertObject(const uint8_t* data, size_t size, HRESULT* error);
// The decoded form alone, for copying with CopyCertObject: not a context
// (no reference, not in the live table); the owner deletes it.
CertObject* DecodeCertTemplate(const uint8_t* data, size_t size, HRESULT* error);
// A new object with one caller reference and no store, decoded as `decoded`
// (from DecodeCertTemplate or NewCertObject) without decoding again.
CertObject* CopyCertObject(const CertObject& decoded);
// A new link object in `store` pointing at `target` (which gains a reference).
CertObject* NewLinkObject(CertObject* target, Store* store);

// Reference counting, as CertDuplicate/CertFreeCertificateContext do.
void AddRef(CertObject* object);
void Release(CertObject* object);

// Store lifetime.
Store* NewStore(StoreKind kind);
void AddStoreRef(Store* store);
void ReleaseStore(Store* store);

// Puts an object (created with one caller reference) into a store's list:
// the caller reference moves to the store's accounting.
void AttachToStore(Store* store, CertObject* object);
// Takes an object out of its store's list; destroyed if nobody holds it.
void DetachFromStore(CertObject* object);

// Releases the provider handle a CERT_KEY_CONTEXT_PROP_ID or
// CERT_KEY_PROV_HANDLE_PROP_ID property owns (no-op when absent).
void ReleaseProviderHandle(const PropertyMap& props, DWORD propId);
void ReleaseProviderProperties(const PropertyMap& props);

// Properties of an object, following links.
CertObject* PropertyOwner(CertObject* object);

// The dotted text of an OID's contents octets, as der::OidToText makes it.
// Certificates and names repeat a handful of identifiers, and formatting one
// is most of a certificate's decoding: the texts are kept by encoding.
bool OidText(const uint8_t* data, size_t size, std::string* text);

// SHA-1 and MD5 of the encoding.
std::vector<uint8_t> Sha1Of(const std::vector<uint8_t>& data);
std::vector<uint8_t> Md5Of(const std::vector<uint8_t>& data);

// The CRYPT_KEY_PROV_INFO property is kept in a flat, pointer-free form.
std::vector<uint8_t> SerializeKeyProvInfo(const CRYPT_KEY_PROV_INFO& info);
// Expands the flat form into the Windows layout (structure, parameters and
// strings in one block) at `out`, or only measures it when `out` is null.
bool ExpandKeyProvInfo(const std::vector<uint8_t>& flat, void* out, DWORD* size);

}  // namespace kv::platform::cert
