// PFXExportCertStore: the certificates of a store, with their private keys
// when asked, as a PKCS#12 image in the layout Windows writes: certificates
// and shrouded keys under PBE-SHA1-3DES, a SHA-1 MAC, local key identifiers
// pairing each key with its certificate. Each key bag carries what Windows
// writes there: the key container's name as friendlyName (other readers name
// the key entry after it), the provider's name (Microsoft's CSP-name
// attribute) and, inside the key, its usage by key spec.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "cert/cert_object.h"
#include "cert/cert_stores_internal.h"
#include "cert/pfx_internal.h"
#include "ossl/owned.h"
#include "ossl/providers.h"
#include "crypt/rsa_blob.h"

using namespace kv::platform::cert;
using kv::platform::EnsureLegacyProviders;
using kv::platform::X509Ptr;
namespace crypt = kv::platform::crypt;

namespace {

const int kIterations = 2000;

enum class KeyOutcome { kFound, kNoKey, kNotExportable };

// Where a key came from, as its key bag names it: BMPString bytes (UTF-16,
// most significant byte first) of the container and provider names, and the
// key usage attribute of the key spec.
struct KeyOrigin {
  std::vector<unsigned char> container, provider;
  int usage = KEY_EX;
};

std::vector<unsigned char> BmpString(LPCWSTR text) {
  std::vector<unsigned char> bmp;
  for (; text && *text; ++text) {
    bmp.push_back(static_cast<unsigned char>(static_cast<uint16_t>(*text) >> 8));
    bmp.push_back(static_cast<unsigned char>(*text & 0xFF));
  }
  return bmp;
}

// Puts the names of `origin` on `keyBag`; an empty name is left off.
bool NameKeyBag(PKCS12_SAFEBAG* keyBag, const KeyOrigin& origin) {
  auto add = [&](int nid, const std::vector<unsigned char>& bmp) {
    return bmp.empty() ||
           PKCS12_add1_attr_by_NID(keyBag, nid, V_ASN1_BMPSTRING, bmp.data(), static_cast<int>(bmp.size())) == 1;
  };
  return add(NID_friendlyName, origin.container) && add(NID_ms_csp_name, origin.provider);
}

// The private key behind a certificate's CERT_KEY_PROV_INFO_PROP_ID, as the
// RSAPrivateKey DER its key bag will hold (made from the provider's
// PRIVATEKEYBLOB, so no OpenSSL key is built only to be encoded again).
KeyOutcome ExportPrivateKey(PCCERT_CONTEXT ctx, WipedBytes* keyDer, KeyOrigin* origin) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return KeyOutcome::kNoKey;
  std::vector<BYTE> block(size);
  if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size))
    return KeyOutcome::kNoKey;
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
  origin->container = BmpString(info->pwszContainerName);
  origin->provider = BmpString(info->pwszProvName);
  origin->usage = info->dwKeySpec == AT_SIGNATURE ? KEY_SIG : KEY_EX;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                            info->dwFlags & CRYPT_MACHINE_KEYSET))
    return KeyOutcome::kNoKey;
  HCRYPTKEY key = 0;
  KeyOutcome outcome = KeyOutcome::kNoKey;
  if (CryptGetUserKey(prov, info->dwKeySpec ? info->dwKeySpec : AT_KEYEXCHANGE, &key)) {
    DWORD len = 0;
    outcome = KeyOutcome::kNotExportable;
    WipedBytes blob;
    if (CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &len)) {
      blob.bytes.resize(len);
      if (CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.bytes.data(), &len) &&
          crypt::RsaPrivateBlobToDer(blob.bytes.data(), len, &keyDer->bytes)) {
        outcome = KeyOutcome::kFound;
      }
    }
    CryptDestroyKey(key);
  }
  CryptReleaseContext(prov, 0);
  return outcome;
}

// A key bag as PKCS12_add_key writes one for an RSA key (PKCS#8 with
// rsaEncryption and NULL parameters, the key usage attribute, shrouded
// under the password), from the key's DER instead of an OpenSSL key.
PKCS12_SAFEBAG* ShroudedKeyBag(const WipedBytes& keyDer, int usage, const PfxPassword& pw) {
  PKCS8_PRIV_KEY_INFO* p8 = PKCS8_PRIV_KEY_INFO_new();
  unsigned char* owned = p8 ? static_cast<unsigned char*>(OPENSSL_malloc(keyDer.bytes.size())) : nullptr;
  if (!owned) {
    PKCS8_PRIV_KEY_INFO_free(p8);
    return nullptr;
  }
  memcpy(owned, keyDer.bytes.data(), keyDer.bytes.size());
  if (PKCS8_pkey_set0(p8, OBJ_nid2obj(NID_rsaEncryption), 0, V_ASN1_NULL, nullptr, owned,
                      static_cast<int>(keyDer.bytes.size())) != 1) {
    OPENSSL_clear_free(owned, keyDer.bytes.size());
    PKCS8_PRIV_KEY_INFO_free(p8);
    return nullptr;
  }
  PKCS12_SAFEBAG* bag = nullptr;
  if (PKCS8_add_keyusage(p8, usage) == 1)
    bag = PKCS12_SAFEBAG_create_pkcs8_encrypt(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, pw.data(), -1, nullptr, 0,
                                              kIterations, p8);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return bag;
}

// A certificate bag holding the certificate's own bytes: decoding them into
// an X509 only to encode them again would cost more than the bag.
PKCS12_SAFEBAG* CertBag(const std::vector<unsigned char>& encoded) {
  // A SEQUENCE held by ASN1_TYPE is written out as the whole element it is.
  ASN1_TYPE* any = ASN1_TYPE_new();
  ASN1_STRING* whole = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
  if (!any || !whole || ASN1_STRING_set(whole, encoded.data(), static_cast<int>(encoded.size())) != 1) {
    ASN1_STRING_free(whole);
    ASN1_TYPE_free(any);
    return nullptr;
  }
  ASN1_TYPE_set(any, V_ASN1_SEQUENCE, whole);
  PKCS12_SAFEBAG* bag = PKCS12_item_pack_safebag(any, ASN1_ITEM_rptr(ASN1_ANY), NID_x509Certificate, NID_certBag);
  ASN1_TYPE_free(any);
  return bag;
}

// One certificate of the export with what goes beside it.
struct ExportItem {
  std::vector<unsigned char> encoded;      // the certificate
  std::vector<unsigned char> friendlyBmp;  // BMPString bytes; empty: none
  WipedBytes keyDer;                       // RSAPrivateKey; empty: the certificate goes alone
  KeyOrigin origin;
};

// Feeds `bytes` to `md` with their length first, so that no two different
// sequences of fields digest alike.
void DigestField(EVP_MD_CTX* md, const unsigned char* bytes, size_t size) {
  const uint64_t length = size;
  EVP_DigestUpdate(md, &length, sizeof length);
  if (size) EVP_DigestUpdate(md, bytes, size);
}
void DigestField(EVP_MD_CTX* md, const std::vector<unsigned char>& bytes) {
  DigestField(md, bytes.data(), bytes.size());
}

// Reads the store into `items`: each certificate, its friendly name and,
// when asked, its private key. `recipe` gets a SHA-256 of everything the
// export is made of (flags, password, every certificate, name, key and key
// origin), so two exports with the same recipe differ only in their random
// salts.
bool GatherExport(Store* store, const PfxPassword& pw, DWORD flags, std::vector<ExportItem>* items,
                  std::vector<unsigned char>* recipe, HRESULT* hr) {
  *hr = NTE_NO_MEMORY;
  kv::platform::MdCtxPtr md(EVP_MD_CTX_new());
  if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1) return false;
  EVP_DigestUpdate(md.get(), &flags, sizeof flags);
  const unsigned char isNull = pw.isNull ? 1 : 0;
  EVP_DigestUpdate(md.get(), &isNull, 1);
  DigestField(md.get(), reinterpret_cast<const unsigned char*>(pw.utf8.data()), pw.utf8.size());
  bool ok = true;
  std::vector<CertObject*> entries = store->entries;
  for (CertObject* entry : entries) AddRef(entry);
  for (size_t i = 0; ok && i < entries.size(); ++i) {
    CertObject* owner = PropertyOwner(entries[i]);
    ExportItem item;
    item.encoded = owner->encoded;
    if (flags & EXPORT_PRIVATE_KEYS) {
      KeyOutcome outcome = ExportPrivateKey(&entries[i]->ctx, &item.keyDer, &item.origin);
      if (outcome == KeyOutcome::kNoKey && (flags & REPORT_NO_PRIVATE_KEY)) {
        *hr = NTE_NO_KEY;
        ok = false;
        break;
      }
      if (outcome == KeyOutcome::kNotExportable && (flags & REPORT_NOT_ABLE_TO_EXPORT_PRIVATE_KEY)) {
        *hr = NTE_BAD_KEY;
        ok = false;
        break;
      }
    }
    auto friendly = owner->props.find(CERT_FRIENDLY_NAME_PROP_ID);
    if (friendly != owner->props.end() && friendly->second.size() >= 2) {
      // BMPString is big-endian; the property holds little-endian UTF-16 with a terminator.
      for (size_t k = 0; k + 1 < friendly->second.size(); k += 2) {
        if (friendly->second[k] == 0 && friendly->second[k + 1] == 0) break;
        item.friendlyBmp.push_back(friendly->second[k + 1]);
        item.friendlyBmp.push_back(friendly->second[k]);
      }
    }
    DigestField(md.get(), owner->encoded);
    DigestField(md.get(), item.friendlyBmp);
    DigestField(md.get(), item.keyDer.bytes);
    DigestField(md.get(), item.origin.container);
    DigestField(md.get(), item.origin.provider);
    EVP_DigestUpdate(md.get(), &item.origin.usage, sizeof item.origin.usage);
    items->push_back(std::move(item));
  }
  for (CertObject* entry : entries) Release(entry);
  if (!ok) return false;
  recipe->resize(EVP_MAX_MD_SIZE);
  unsigned int digestLength = 0;
  if (EVP_DigestFinal_ex(md.get(), recipe->data(), &digestLength) != 1) return false;
  recipe->resize(digestLength);
  return true;
}

bool BuildPfx(std::vector<ExportItem>& items, const PfxPassword& pw, std::vector<uint8_t>* image, HRESULT* hr) {
  STACK_OF(PKCS12_SAFEBAG)* certBags = sk_PKCS12_SAFEBAG_new_null();
  STACK_OF(PKCS12_SAFEBAG)* keyBags = sk_PKCS12_SAFEBAG_new_null();
  STACK_OF(PKCS7)* safes = nullptr;
  PKCS12* p12 = nullptr;
  bool ok = certBags && keyBags;
  *hr = NTE_NO_MEMORY;
  uint32_t keyIndex = 0;
  for (size_t i = 0; ok && i < items.size(); ++i) {
    ExportItem& item = items[i];
    PKCS12_SAFEBAG* certBag = CertBag(item.encoded);
    if (!certBag || !sk_PKCS12_SAFEBAG_push(certBags, certBag)) {
      PKCS12_SAFEBAG_free(certBag);
      ok = false;
      break;
    }
    if (!item.friendlyBmp.empty()) {
      PKCS12_add_friendlyname_uni(certBag, item.friendlyBmp.data(), static_cast<int>(item.friendlyBmp.size()));
    }
    if (!item.keyDer.bytes.empty()) {
      ++keyIndex;
      unsigned char id[4] = {static_cast<unsigned char>(keyIndex), static_cast<unsigned char>(keyIndex >> 8),
                             static_cast<unsigned char>(keyIndex >> 16), static_cast<unsigned char>(keyIndex >> 24)};
      PKCS12_SAFEBAG* keyBag = ShroudedKeyBag(item.keyDer, item.origin.usage, pw);
      if (!keyBag || !sk_PKCS12_SAFEBAG_push(keyBags, keyBag)) {
        PKCS12_SAFEBAG_free(keyBag);
        ok = false;
        break;
      }
      if (!PKCS12_add_localkeyid(keyBag, id, sizeof id) || !NameKeyBag(keyBag, item.origin) ||
          !PKCS12_add_localkeyid(certBag, id, sizeof id)) {
        ok = false;
        break;
      }
    }
  }
  if (ok) {
    ok = PKCS12_add_safe(&safes, certBags, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, kIterations, pw.data()) &&
         (sk_PKCS12_SAFEBAG_num(keyBags) == 0 || PKCS12_add_safe(&safes, keyBags, -1, 0, nullptr));
    if (!safes) safes = sk_PKCS7_new_null();
    p12 = ok && safes ? PKCS12_add_safes(safes, 0) : nullptr;
    ok = p12 && PKCS12_set_mac(p12, pw.data(), pw.isNull ? 0 : -1, nullptr, 0, kIterations, EVP_sha1()) == 1;
    if (ok) {
      int n = i2d_PKCS12(p12, nullptr);
      ok = n > 0;
      if (ok) {
        image->resize(static_cast<size_t>(n));
        unsigned char* out = image->data();
        i2d_PKCS12(p12, &out);
      }
    }
  }
  sk_PKCS12_SAFEBAG_pop_free(certBags, PKCS12_SAFEBAG_free);
  sk_PKCS12_SAFEBAG_pop_free(keyBags, PKCS12_SAFEBAG_free);
  sk_PKCS7_pop_free(safes, PKCS7_free);
  PKCS12_free(p12);
  ERR_clear_error();
  return ok;
}

// The image a size query built, kept for the data call that follows it, as
// the caller's two calls ask for one export. It is handed out only to a call
// whose recipe (see GatherExport) is the same: the same flags, password,
// certificates, names, keys and key origins give the same file but for its
// random salts, whichever store or thread asks; anything else builds anew.
// One image at a time, taken by the first call that uses it; guarded by the
// model lock.
struct PendingExport {
  std::vector<unsigned char> recipe;
  std::vector<uint8_t> image;
};

PendingExport& Pending() {
  static PendingExport* pending = new PendingExport;
  return *pending;
}

}  // namespace

extern "C" BOOL WINAPI PFXExportCertStore(HCERTSTORE hStore, CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword,
                                          DWORD dwFlags) {
  if (!pPFX) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  EnsureLegacyProviders();
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hStore);
  if (!store) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  PfxPassword pw;
  if (!pw.FromWide(szPassword)) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  ResyncStore(store);
  std::vector<ExportItem> items;
  std::vector<unsigned char> recipe;
  HRESULT hr = 0;
  PendingExport& pending = Pending();
  if (!GatherExport(store, pw, dwFlags, &items, &recipe, &hr)) {
    SetLastError(static_cast<DWORD>(hr));
    return FALSE;
  }
  const bool reused = !pending.image.empty() && pending.recipe == recipe;
  std::vector<uint8_t> image;
  if (reused) {
    image.swap(pending.image);
  } else if (!BuildPfx(items, pw, &image, &hr)) {
    SetLastError(static_cast<DWORD>(hr));
    return FALSE;
  }
  pending.image.clear();
  pending.recipe.clear();
  DWORD size = static_cast<DWORD>(image.size());
  if (!pPFX->pbData || pPFX->cbData < size) {
    // The caller comes back with room for this very image.
    pending.recipe = std::move(recipe);
    pending.image = std::move(image);
    pPFX->cbData = size;
    if (!pPFX->pbData) return TRUE;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  memcpy(pPFX->pbData, image.data(), size);
  pPFX->cbData = size;
  return TRUE;
}
