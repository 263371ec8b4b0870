// PKCS#12 (PFX) reading: PFXIsPFXBlob, PFXVerifyPassword and
// PFXImportCertStore. Private keys go into new key containers of the
// provider calls, named uniquely; only RSA keys are accepted.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cert/cert_object.h"
#include "cert/pfx_internal.h"
#include "crypt/container_store.h"
#include "ossl/owned.h"
#include "ossl/providers.h"
#include "crypt/rsa_blob.h"
#include "der/der_span.h"

namespace kv::platform::cert {

bool PfxPassword::FromWide(LPCWSTR password) {
  isNull = password == nullptr;
  utf8.clear();
  if (isNull) return true;
  int n = WideCharToMultiByte(CP_UTF8, 0, password, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8.resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_UTF8, 0, password, -1, &utf8[0], n, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(n - 1));
  return true;
}

PfxPassword PfxPassword::Latin1Variant() const {
  // Older writers turned each byte of the text into one BMP character; the
  // UTF-8 form of those characters reproduces that key.
  PfxPassword other = *this;
  other.utf8.clear();
  for (unsigned char c : utf8) {
    if (c < 0x80) {
      other.utf8.push_back(static_cast<char>(c));
    } else {
      other.utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      other.utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return other;
}

bool PfxPassword::HasNonAscii() const {
  for (unsigned char c : utf8)
    if (c >= 0x80) return true;
  return false;
}

Pkcs12Ptr ParsePfx(const CRYPT_DATA_BLOB* blob) {
  if (!blob || !blob->pbData || blob->cbData == 0 || blob->cbData > 0x7FFFFFFF) return nullptr;
  EnsureLegacyProviders();
  const unsigned char* p = blob->pbData;
  Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(blob->cbData)));
  ERR_clear_error();
  return p12;
}

namespace {


// A certificate of the file: its bytes as the bag holds them, decoded by
// OpenSSL only where they are needed that way.
struct CertItem {
  std::vector<uint8_t> encoded;
  X509Ptr cert;
  std::string localKeyId;
  std::u16string friendlyName;

  X509* Decoded() {
    if (!cert) {
      const unsigned char* p = encoded.data();
      cert.reset(d2i_X509(nullptr, &p, static_cast<long>(encoded.size())));
      if (!cert) ERR_clear_error();
    }
    return cert.get();
  }
};

// The certificate's bytes from the bag's own encoding (SafeBag { bagId,
// [0] CertBag { certId, [0] OCTET STRING } }): OpenSSL's certificate reader
// decodes the public key, which costs more than the rest of an import.
bool CertBagBytes(const PKCS12_SAFEBAG* bag, std::vector<uint8_t>* out) {
  unsigned char* encoded = nullptr;
  const int length = i2d_PKCS12_SAFEBAG(bag, &encoded);
  if (length <= 0) return false;
  der::Span in(encoded, static_cast<size_t>(length)), safeBag, oid, value, certBag, certValue, octets;
  const bool ok = in.Read(der::kSequence, &safeBag) && safeBag.Read(der::kOid, &oid) &&
                  safeBag.Read(der::kContext0, &value) && value.Read(der::kSequence, &certBag) &&
                  certBag.Read(der::kOid, &oid) && certBag.Read(der::kContext0, &certValue) &&
                  certValue.Read(der::kOctetString, &octets) && !octets.empty();
  if (ok) out->assign(octets.data(), octets.data() + octets.size());
  OPENSSL_free(encoded);
  return ok;
}

// A private key of the file: an RSA key's PRIVATEKEYBLOB, read straight from
// its DER, or (for what that reader does not take) the key OpenSSL decoded.
struct KeyItem {
  WipedBytes blob;
  kv::platform::PkeyPtr key;
  std::string localKeyId;
  bool used = false;

  // The key as OpenSSL's, for matching it to a certificate without a key id.
  EVP_PKEY* Pkey() {
    if (!key && !blob.bytes.empty()) {
      ALG_ID alg = 0;
      bool isPrivate = false;
      DWORD error = 0;
      key = crypt::RsaFromBlob(blob.bytes.data(), blob.bytes.size(), &alg, &isPrivate, &error);
    }
    return key.get();
  }
};

// The key of a PKCS#8 structure. An RSA key is read by the blob reader:
// OpenSSL's decoders would cost more than the rest of the import.
bool ReadKey(const PKCS8_PRIV_KEY_INFO* p8, KeyItem* item, HRESULT* hr) {
  const ASN1_OBJECT* algorithm = nullptr;
  const unsigned char* der = nullptr;
  int length = 0;
  if (PKCS8_pkey_get0(&algorithm, &der, &length, nullptr, p8) == 1 && OBJ_obj2nid(algorithm) == NID_rsaEncryption &&
      length > 0 && crypt::RsaPrivateDerToBlob(der::Span(der, static_cast<size_t>(length)), CALG_RSA_KEYX,
                                               &item->blob.bytes)) {
    return true;
  }
  item->key.reset(EVP_PKCS82PKEY(p8));
  if (!item->key) ERR_clear_error();
  // Only RSA keys fit the provider's key containers.
  if (!item->key || EVP_PKEY_get_base_id(item->key.get()) != EVP_PKEY_RSA) {
    *hr = NTE_BAD_ALGID;
    return false;
  }
  return true;
}

struct Contents {
  std::vector<CertItem> certs;
  std::vector<KeyItem> keys;
};

// The first value of the bag attribute `nid` when it has the ASN.1 type
// `type`. The value's bytes are taken as they stand in the file: no text
// conversion of the library's sits between the file and the property.
const ASN1_STRING* BagAttribute(const PKCS12_SAFEBAG* bag, int nid, int type) {
  const STACK_OF(X509_ATTRIBUTE)* attrs = PKCS12_SAFEBAG_get0_attrs(bag);
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(attrs); ++i) {
    X509_ATTRIBUTE* attr = sk_X509_ATTRIBUTE_value(attrs, i);
    if (OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attr)) != nid) continue;
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attr, 0);
    if (!value || value->type != type) return nullptr;
    return value->value.asn1_string;
  }
  return nullptr;
}

std::string LocalKeyId(const PKCS12_SAFEBAG* bag) {
  const ASN1_STRING* s = BagAttribute(bag, NID_localKeyID, V_ASN1_OCTET_STRING);
  if (!s) return std::string();
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), static_cast<size_t>(ASN1_STRING_length(s)));
}

// The friendlyName attribute is a BMPString: UTF-16 code units, most
// significant byte first. They become the property's code units one for one,
// so surrogate pairs (characters beyond the BMP, as Windows writes them) and
// every CJK character arrive unchanged.
std::u16string FriendlyName(const PKCS12_SAFEBAG* bag) {
  std::u16string name;
  const ASN1_STRING* s = BagAttribute(bag, NID_friendlyName, V_ASN1_BMPSTRING);
  if (!s) return name;
  const unsigned char* p = ASN1_STRING_get0_data(s);
  size_t n = static_cast<size_t>(ASN1_STRING_length(s));
  name.reserve(n / 2);
  for (size_t i = 0; i + 1 < n; i += 2) {
    char16_t unit = static_cast<char16_t>((p[i] << 8) | p[i + 1]);
    if (unit == 0) break;  // a terminator some writers include
    name.push_back(unit);
  }
  return name;
}

// An OpenSSL failure while decrypting: a missing algorithm or a wrong password.
HRESULT DecryptError() {
  unsigned long e;
  HRESULT hr = ERROR_INVALID_PASSWORD;
  while ((e = ERR_get_error()) != 0) {
    int reason = ERR_GET_REASON(e);
    if (reason == ERR_R_UNSUPPORTED || reason == EVP_R_UNSUPPORTED_CIPHER ||
        reason == EVP_R_UNKNOWN_CIPHER || reason == EVP_R_UNSUPPORTED_ALGORITHM ||
        reason == EVP_R_UNSUPPORTED_KEY_DERIVATION_FUNCTION || reason == EVP_R_UNKNOWN_PBE_ALGORITHM ||
        reason == EVP_R_UNSUPPORTED_PRF || reason == EVP_R_UNSUPPORTED_KEYLENGTH ||
        reason == ERR_R_FETCH_FAILED)
      hr = NTE_BAD_ALGID;
  }
  return hr;
}

bool ReadBags(const STACK_OF(PKCS12_SAFEBAG)* bags, const PfxPassword& pw, Contents* out, HRESULT* hr, int depth) {
  if (depth > 4) {
    *hr = CRYPT_E_BAD_ENCODE;
    return false;
  }
  for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
    switch (PKCS12_SAFEBAG_get_nid(bag)) {
      case NID_keyBag:
      case NID_pkcs8ShroudedKeyBag: {
        KeyItem item;
        if (PKCS12_SAFEBAG_get_nid(bag) == NID_keyBag) {
          const PKCS8_PRIV_KEY_INFO* plain = PKCS12_SAFEBAG_get0_p8inf(bag);
          if (!plain) {
            *hr = NTE_BAD_ALGID;
            return false;
          }
          if (!ReadKey(plain, &item, hr)) return false;
        } else {
          PKCS8_PRIV_KEY_INFO* p8 = PKCS12_decrypt_skey(bag, pw.data(), pw.length());
          if (!p8) {
            *hr = DecryptError();
            return false;
          }
          bool read = ReadKey(p8, &item, hr);
          PKCS8_PRIV_KEY_INFO_free(p8);
          if (!read) return false;
        }
        item.localKeyId = LocalKeyId(bag);
        out->keys.push_back(std::move(item));
        break;
      }
      case NID_certBag: {
        if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
        CertItem item;
        if (!CertBagBytes(bag, &item.encoded)) {
          item.cert.reset(PKCS12_SAFEBAG_get1_cert(bag));
          if (!item.cert) {
            ERR_clear_error();
            *hr = CRYPT_E_BAD_ENCODE;
            return false;
          }
        }
        item.localKeyId = LocalKeyId(bag);
        item.friendlyName = FriendlyName(bag);
        out->certs.push_back(std::move(item));
        break;
      }
      case NID_safeContentsBag:
        if (!ReadBags(PKCS12_SAFEBAG_get0_safes(bag), pw, out, hr, depth + 1)) return false;
        break;
      default:
        break;  // CRL and secret bags carry nothing a store holds
    }
  }
  return true;
}

bool ReadContents(PKCS12* p12, const PfxPassword& pw, Contents* out, HRESULT* hr) {
  STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
  if (!safes) {
    ERR_clear_error();
    *hr = CRYPT_E_BAD_ENCODE;
    return false;
  }
  bool ok = true;
  for (int i = 0; ok && i < sk_PKCS7_num(safes); ++i) {
    PKCS7* p7 = sk_PKCS7_value(safes, i);
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    int nid = OBJ_obj2nid(p7->type);
    if (nid == NID_pkcs7_data) {
      bags = PKCS12_unpack_p7data(p7);
      if (!bags) {
        ERR_clear_error();
        *hr = CRYPT_E_BAD_ENCODE;
        ok = false;
      }
    } else if (nid == NID_pkcs7_encrypted) {
      bags = PKCS12_unpack_p7encdata(p7, pw.data(), pw.length());
      if (!bags) {
        *hr = DecryptError();
        ok = false;
      }
    } else {
      continue;
    }
    if (ok) ok = ReadBags(bags, pw, out, hr, 0);
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
  }
  sk_PKCS7_pop_free(safes, PKCS7_free);
  ERR_clear_error();
  return ok;
}

std::string NewContainerName() {
  unsigned char r[16];
  if (RAND_bytes(r, sizeof r) != 1) return std::string();
  r[6] = (r[6] & 0x0F) | 0x40;
  r[8] = (r[8] & 0x3F) | 0x80;
  char text[40];
  snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", r[0], r[1],
           r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], r[12], r[13], r[14], r[15]);
  return text;
}

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Creates a container holding `key` as its exchange key; the name on success.
bool ImportKey(KeyItem& key, DWORD flags, std::string* container, HRESULT* hr) {
  if (key.blob.bytes.empty() && !crypt::RsaToBlob(key.key.get(), CALG_RSA_KEYX, true, &key.blob.bytes)) {
    *hr = NTE_BAD_KEY;
    return false;
  }
  const std::vector<BYTE>& blob = key.blob.bytes;
  std::string name = NewContainerName();
  HCRYPTPROV prov = 0;
  DWORD machine = flags & CRYPT_MACHINE_KEYSET;
  // Temporary until a certificate kept in a persistent store refers to it:
  // should this process die before its store is closed, the next opening of
  // the key store removes the key.
  if (name.empty() || !crypt::AcquireNewTemporaryContainer(&prov, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                                            CRYPT_NEWKEYSET | machine)) {
    *hr = static_cast<HRESULT>(GetLastError());
    return false;
  }
  HCRYPTKEY handle = 0;
  BOOL ok = CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0,
                           flags & (CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED), &handle);
  DWORD error = GetLastError();
  if (handle) CryptDestroyKey(handle);
  CryptReleaseContext(prov, 0);
  if (!ok) {
    HCRYPTPROV gone = 0;
    CryptAcquireContextA(&gone, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET | machine);
    *hr = static_cast<HRESULT>(error);
    return false;
  }
  *container = name;
  return true;
}

void DeleteContainers(const std::vector<std::string>& names, DWORD flags) {
  for (const std::string& name : names) {
    HCRYPTPROV gone = 0;
    CryptAcquireContextA(&gone, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                         CRYPT_DELETEKEYSET | (flags & CRYPT_MACHINE_KEYSET));
  }
}

// PFXVerifyPassword is mostly followed by the import of the same file with
// the same password, which would derive the MAC key a second time. A passed
// check is remembered for that one import: as a digest of the image and the
// password under a key drawn once per process, with the form of the password
// that matched. The next check or import replaces or spends it.
class PassedMac {
 public:
  static PassedMac& Instance() {
    static auto* passed = new PassedMac();
    return *passed;
  }

  void Remember(const CRYPT_DATA_BLOB* pfx, const PfxPassword& given, const PfxPassword& used) {
    std::lock_guard<std::mutex> lock(mutex_);
    valid_ = Tag(pfx, given, tag_);
    latin1_ = used.utf8 != given.utf8;
  }

  // True, with the form that matched, when `given` passed for this image last.
  bool Take(const CRYPT_DATA_BLOB* pfx, const PfxPassword& given, PfxPassword* used) {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned char tag[SHA256_DIGEST_LENGTH];
    bool hit = valid_ && Tag(pfx, given, tag) && CRYPTO_memcmp(tag, tag_, sizeof tag) == 0;
    valid_ = false;
    if (hit) *used = latin1_ ? given.Latin1Variant() : given;
    return hit;
  }

 private:
  bool Tag(const CRYPT_DATA_BLOB* pfx, const PfxPassword& pw, unsigned char* out) {
    if (!keyed_) keyed_ = RAND_bytes(key_, sizeof key_) == 1;
    if (!keyed_) return false;
    const unsigned char isNull = pw.isNull ? 1 : 0;
    const uint64_t length = pw.utf8.size();
    kv::platform::MdCtxPtr ctx(EVP_MD_CTX_new());
    unsigned int n = 0;
    return ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1 &&
           EVP_DigestUpdate(ctx.get(), key_, sizeof key_) == 1 && EVP_DigestUpdate(ctx.get(), &isNull, 1) == 1 &&
           EVP_DigestUpdate(ctx.get(), &length, sizeof length) == 1 &&
           EVP_DigestUpdate(ctx.get(), pw.utf8.data(), pw.utf8.size()) == 1 &&
           EVP_DigestUpdate(ctx.get(), pfx->pbData, pfx->cbData) == 1 &&
           EVP_DigestFinal_ex(ctx.get(), out, &n) == 1;
  }

  std::mutex mutex_;
  unsigned char key_[32] = {};
  bool keyed_ = false;
  bool valid_ = false;
  bool latin1_ = false;
  unsigned char tag_[SHA256_DIGEST_LENGTH] = {};
};

}  // namespace

bool VerifyPfxMac(PKCS12* p12, const PfxPassword& pw, PfxPassword* used) {
  if (!PKCS12_mac_present(p12)) {
    *used = pw;
    return true;
  }
  bool ok = PKCS12_verify_mac(p12, pw.data(), pw.length()) == 1;
  if (ok) *used = pw;
  if (!ok && pw.HasNonAscii()) {
    PfxPassword other = pw.Latin1Variant();
    ok = PKCS12_verify_mac(p12, other.data(), other.length()) == 1;
    if (ok) *used = other;
  }
  ERR_clear_error();
  return ok;
}

}  // namespace kv::platform::cert

using namespace kv::platform::cert;
using kv::platform::Pkcs12Ptr;

extern "C" BOOL WINAPI PFXIsPFXBlob(CRYPT_DATA_BLOB* pPFX) { return ParsePfx(pPFX) ? TRUE : FALSE; }

extern "C" BOOL WINAPI PFXVerifyPassword(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags) {
  (void)dwFlags;
  Pkcs12Ptr p12 = ParsePfx(pPFX);
  if (!p12) {
    SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    return FALSE;
  }
  PfxPassword pw, used;
  if (!pw.FromWide(szPassword) || !VerifyPfxMac(p12.get(), pw, &used)) {
    SetLastError(ERROR_INVALID_PASSWORD);
    return FALSE;
  }
  if (PKCS12_mac_present(p12.get())) PassedMac::Instance().Remember(pPFX, pw, used);
  return TRUE;
}

extern "C" HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags) {
  Pkcs12Ptr p12 = ParsePfx(pPFX);
  if (!p12) {
    SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    return nullptr;
  }
  PfxPassword pw, used;
  if (!pw.FromWide(szPassword) ||
      (!PassedMac::Instance().Take(pPFX, pw, &used) && !VerifyPfxMac(p12.get(), pw, &used))) {
    SetLastError(ERROR_INVALID_PASSWORD);
    return nullptr;
  }
  Contents contents;
  HRESULT hr = 0;
  if (!ReadContents(p12.get(), used, &contents, &hr)) {
    SetLastError(static_cast<DWORD>(hr));
    return nullptr;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, nullptr);
  if (!store) return nullptr;
  std::vector<std::string> created;
  auto fail = [&](HRESULT error) -> HCERTSTORE {
    CertCloseStore(store, 0);
    DeleteContainers(created, dwFlags);
    SetLastError(static_cast<DWORD>(error));
    return nullptr;
  };
  for (CertItem& item : contents.certs) {
    KeyItem* key = nullptr;
    if (!item.localKeyId.empty())
      for (KeyItem& k : contents.keys)
        if (!k.used && k.localKeyId == item.localKeyId) key = &k;
    if (!key)
      for (KeyItem& k : contents.keys)
        if (!k.used && k.Pkey() && item.Decoded() && X509_check_private_key(item.cert.get(), k.Pkey()) == 1)
          key = &k;
    ERR_clear_error();
    PCCERT_CONTEXT ctx = nullptr;
    BOOL added = !item.encoded.empty() &&
                 CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, item.encoded.data(),
                                                  static_cast<DWORD>(item.encoded.size()), CERT_STORE_ADD_ALWAYS, &ctx);
    if (!added) {
      // What the store's reader refuses goes as OpenSSL reads and writes it
      // (a certificate in BER, say), or is refused as undecodable.
      unsigned char* der = nullptr;
      int n = item.Decoded() ? i2d_X509(item.cert.get(), &der) : 0;
      if (n <= 0) return fail(CRYPT_E_BAD_ENCODE);
      added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, static_cast<DWORD>(n),
                                               CERT_STORE_ADD_ALWAYS, &ctx);
      OPENSSL_free(der);
      if (!added) return fail(static_cast<HRESULT>(GetLastError()));
    }
    if (!item.friendlyName.empty()) {
      const std::u16string& name = item.friendlyName;
      CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR)),
                           reinterpret_cast<BYTE*>(const_cast<char16_t*>(name.c_str()))};
      CertSetCertificateContextProperty(ctx, CERT_FRIENDLY_NAME_PROP_ID, 0, &blob);
    }
    if (key && !(dwFlags & PKCS12_NO_PERSIST_KEY)) {
      std::string container;
      if (!ImportKey(*key, dwFlags, &container, &hr)) {
        CertFreeCertificateContext(ctx);
        return fail(hr);
      }
      key->used = true;
      created.push_back(container);
      std::u16string wideContainer = Widen(container);
      std::u16string wideProvider = Widen(MS_ENHANCED_PROV_A);
      CRYPT_KEY_PROV_INFO info{};
      info.pwszContainerName = const_cast<LPWSTR>(wideContainer.c_str());
      info.pwszProvName = const_cast<LPWSTR>(wideProvider.c_str());
      info.dwProvType = PROV_RSA_FULL;
      info.dwFlags = dwFlags & CRYPT_MACHINE_KEYSET;
      info.dwKeySpec = AT_KEYEXCHANGE;
      CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    }
    CertFreeCertificateContext(ctx);
  }
  return store;
}
