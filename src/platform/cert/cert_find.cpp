// Searching stores, comparing certificates, key usage and validity.
#include <windows.h>
#include <wincrypt.h>

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "cert/cert_names.h"
#include "cert/cert_object.h"
#include "cert/cert_stores_internal.h"
#include "der/der_span.h"
#include "kernel/file_time.h"

using namespace kv::platform::cert;
namespace der = kv::der;

namespace {

bool BlobEquals(const CRYPT_DATA_BLOB& a, const BYTE* data, DWORD size) {
  return a.cbData == size && (size == 0 || memcmp(a.pbData, data, size) == 0);
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c < 0x80) c = static_cast<char16_t>(tolower(c));
  return s;
}

// The certificate's key identifier as Windows gives it
// (CERT_KEY_IDENTIFIER_PROP_ID): a value set on the context, else its
// subjectKeyIdentifier extension, else SHA-1 of its public key's bits.
std::vector<uint8_t> KeyIdentifierOf(CertObject* owner) {
  auto stored = owner->props.find(CERT_KEY_IDENTIFIER_PROP_ID);
  if (stored != owner->props.end()) return stored->second;
  const CERT_INFO& info = owner->info;
  PCERT_EXTENSION ext = nullptr;
  for (DWORD i = 0; i < info.cExtension && info.rgExtension; ++i) {
    if (info.rgExtension[i].pszObjId && strcmp(info.rgExtension[i].pszObjId, szOID_SUBJECT_KEY_IDENTIFIER) == 0)
      ext = &info.rgExtension[i];
  }
  if (ext) {
    der::Span value(ext->Value.pbData, ext->Value.cbData), keyId;
    if (value.Read(der::kOctetString, &keyId)) return keyId.ToVector();
  }
  const CRYPT_BIT_BLOB& key = info.SubjectPublicKeyInfo.PublicKey;
  return Sha1Of(std::vector<uint8_t>(key.pbData, key.pbData + key.cbData));
}

bool MatchesCertId(CertObject* owner, const CERT_ID& id) {
  switch (id.dwIdChoice) {
    case CERT_ID_ISSUER_SERIAL_NUMBER:
      return BlobEquals(owner->info.Issuer, id.IssuerSerialNumber.Issuer.pbData, id.IssuerSerialNumber.Issuer.cbData) &&
             CertCompareIntegerBlob(const_cast<PCRYPT_INTEGER_BLOB>(&owner->info.SerialNumber),
                                    const_cast<PCRYPT_INTEGER_BLOB>(&id.IssuerSerialNumber.SerialNumber));
    case CERT_ID_KEY_IDENTIFIER: {
      const std::vector<uint8_t> keyId = KeyIdentifierOf(owner);
      return id.KeyId.cbData == keyId.size() && (keyId.empty() || memcmp(id.KeyId.pbData, keyId.data(), keyId.size()) == 0);
    }
    case CERT_ID_SHA1_HASH: {
      const std::vector<uint8_t> hash = Sha1Of(owner->encoded);
      return id.HashId.cbData == hash.size() && memcmp(id.HashId.pbData, hash.data(), hash.size()) == 0;
    }
    default:
      return false;
  }
}

bool Matches(CertObject* entry, DWORD findType, const void* para) {
  CertObject* owner = PropertyOwner(entry);
  const CERT_INFO& info = owner->info;
  switch (findType) {
    case CERT_FIND_ANY:
      return true;
    case CERT_FIND_SHA1_HASH:
    case CERT_FIND_MD5_HASH: {
      auto* blob = static_cast<const CRYPT_HASH_BLOB*>(para);
      DWORD propId = findType == CERT_FIND_SHA1_HASH ? CERT_SHA1_HASH_PROP_ID : CERT_MD5_HASH_PROP_ID;
      auto stored = owner->props.find(propId);
      if (stored == owner->props.end()) {
        // Kept like the property read does, so later searches compare at once.
        stored = owner->props
                     .emplace(propId, propId == CERT_SHA1_HASH_PROP_ID ? Sha1Of(owner->encoded) : Md5Of(owner->encoded))
                     .first;
      }
      const std::vector<uint8_t>& hash = stored->second;
      return blob->cbData == hash.size() && (hash.empty() || memcmp(blob->pbData, hash.data(), hash.size()) == 0);
    }
    case CERT_FIND_EXISTING: {
      auto* other = static_cast<PCCERT_CONTEXT>(para);
      CertObject* otherObject = LookupContext(other);
      if (!otherObject) return false;
      return PropertyOwner(otherObject)->encoded == owner->encoded;
    }
    case CERT_FIND_SUBJECT_NAME:
    case CERT_FIND_ISSUER_NAME: {
      auto* name = static_cast<const CERT_NAME_BLOB*>(para);
      const CERT_NAME_BLOB& mine = findType == CERT_FIND_SUBJECT_NAME ? info.Subject : info.Issuer;
      return BlobEquals(mine, name->pbData, name->cbData);
    }
    case CERT_FIND_SUBJECT_CERT: {
      auto* wanted = static_cast<const CERT_INFO*>(para);
      return BlobEquals(info.Issuer, wanted->Issuer.pbData, wanted->Issuer.cbData) &&
             CertCompareIntegerBlob(const_cast<PCRYPT_INTEGER_BLOB>(&info.SerialNumber),
                                    const_cast<PCRYPT_INTEGER_BLOB>(&wanted->SerialNumber));
    }
    case CERT_FIND_PUBLIC_KEY: {
      auto* key = static_cast<const CERT_PUBLIC_KEY_INFO*>(para);
      return strcmp(key->Algorithm.pszObjId ? key->Algorithm.pszObjId : "", info.SubjectPublicKeyInfo.Algorithm.pszObjId) == 0 &&
             key->PublicKey.cbData == info.SubjectPublicKeyInfo.PublicKey.cbData &&
             memcmp(key->PublicKey.pbData, info.SubjectPublicKeyInfo.PublicKey.pbData, key->PublicKey.cbData) == 0;
    }
    case CERT_FIND_SUBJECT_STR_A:
    case CERT_FIND_ISSUER_STR_A:
    case CERT_FIND_SUBJECT_STR_W:
    case CERT_FIND_ISSUER_STR_W: {
      bool subject = findType == CERT_FIND_SUBJECT_STR_A || findType == CERT_FIND_SUBJECT_STR_W;
      std::u16string wanted;
      if (findType == CERT_FIND_SUBJECT_STR_A || findType == CERT_FIND_ISSUER_STR_A) {
        auto* text = static_cast<const char*>(para);
        int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (n <= 0) return false;
        wanted.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_ACP, 0, text, -1, &wanted[0], n);
        wanted.resize(static_cast<size_t>(n - 1));
      } else {
        for (auto* p = static_cast<LPCWSTR>(para); *p; ++p) wanted.push_back(*p);
      }
      std::vector<Rdn> rdns;
      HRESULT error;
      const CERT_NAME_BLOB& name = subject ? info.Subject : info.Issuer;
      if (!ParseName(name.pbData, name.cbData, &rdns, &error)) return false;
      std::u16string rendered = RenderName(rdns, CERT_SIMPLE_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG);
      return Lower(rendered).find(Lower(wanted)) != std::u16string::npos;
    }
    case CERT_FIND_CERT_ID:
      return MatchesCertId(owner, *static_cast<const CERT_ID*>(para));
    case CERT_FIND_ISSUER_OF: {
      auto* subject = static_cast<PCCERT_CONTEXT>(para);
      return BlobEquals(info.Subject, subject->pCertInfo->Issuer.pbData, subject->pCertInfo->Issuer.cbData);
    }
    default:
      return false;
  }
}

bool KnownFindType(DWORD type) {
  switch (type) {
    case CERT_FIND_ANY:
    case CERT_FIND_SHA1_HASH:
    case CERT_FIND_MD5_HASH:
    case CERT_FIND_EXISTING:
    case CERT_FIND_SUBJECT_NAME:
    case CERT_FIND_ISSUER_NAME:
    case CERT_FIND_SUBJECT_CERT:
    case CERT_FIND_PUBLIC_KEY:
    case CERT_FIND_SUBJECT_STR_A:
    case CERT_FIND_ISSUER_STR_A:
    case CERT_FIND_SUBJECT_STR_W:
    case CERT_FIND_ISSUER_STR_W:
    case CERT_FIND_ISSUER_OF:
    case CERT_FIND_CERT_ID:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                            DWORD dwFindFlags, DWORD dwFindType,
                                                            const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext) {
  (void)dwCertEncodingType;
  (void)dwFindFlags;
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  Store* store = LookupStore(hCertStore);
  CertObject* prev = pPrevCertContext ? LookupContext(pPrevCertContext) : nullptr;
  bool badPrev = pPrevCertContext && (!prev || prev->store != store || prev->refs <= 0);
  if (!store || badPrev || !KnownFindType(dwFindType) || (dwFindType != CERT_FIND_ANY && !pvFindPara)) {
    if (prev && !badPrev) Release(prev);
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  if (!prev) ResyncStore(store);
  uint64_t after = prev ? prev->seq : 0;
  CertObject* found = nullptr;
  for (CertObject* entry : store->entries) {
    if (entry->seq <= after) continue;
    if (Matches(entry, dwFindType, pvFindPara)) {
      found = entry;
      break;
    }
  }
  if (found) AddRef(found);
  if (prev) Release(prev);
  if (!found) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return nullptr;
  }
  return &found->ctx;
}

extern "C" PCERT_EXTENSION WINAPI CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]) {
  if (!pszObjId || (cExtensions && !rgExtensions)) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  for (DWORD i = 0; i < cExtensions; ++i)
    if (rgExtensions[i].pszObjId && strcmp(rgExtensions[i].pszObjId, pszObjId) == 0) return &rgExtensions[i];
  SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  return nullptr;
}

extern "C" BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo, BYTE* pbKeyUsage,
                                               DWORD cbKeyUsage) {
  (void)dwCertEncodingType;
  if (!pCertInfo) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  if (pbKeyUsage && cbKeyUsage) memset(pbKeyUsage, 0, cbKeyUsage);
  PCERT_EXTENSION ext = nullptr;
  for (DWORD i = 0; i < pCertInfo->cExtension && pCertInfo->rgExtension; ++i)
    if (strcmp(pCertInfo->rgExtension[i].pszObjId, szOID_KEY_USAGE) == 0) ext = &pCertInfo->rgExtension[i];
  if (!ext) {
    // No key-usage extension: FALSE with a last error of zero, as documented.
    SetLastError(0);
    return FALSE;
  }
  der::Span in(ext->Value.pbData, ext->Value.cbData), bits;
  if (!in.Read(der::kBitString, &bits)) {
    SetLastError(static_cast<DWORD>(in.error()));
    return FALSE;
  }
  if (bits.empty() || bits.data()[0] > 7) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    return FALSE;
  }
  size_t available = bits.size() - 1;
  if (pbKeyUsage) {
    size_t n = std::min<size_t>(available, cbKeyUsage);
    memcpy(pbKeyUsage, bits.data() + 1, n);
  }
  return TRUE;
}

extern "C" LONG WINAPI CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo) {
  if (!pCertInfo) return 0;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (!pTimeToVerify) pTimeToVerify = &now;
  uint64_t t = kv::platform::FileTimeTicks(*pTimeToVerify);
  if (t < kv::platform::FileTimeTicks(pCertInfo->NotBefore)) return -1;
  if (t > kv::platform::FileTimeTicks(pCertInfo->NotAfter)) return 1;
  return 0;
}

extern "C" BOOL WINAPI CertCompareIntegerBlob(PCRYPT_INTEGER_BLOB pInt1, PCRYPT_INTEGER_BLOB pInt2) {
  if (!pInt1 || !pInt2) return FALSE;
  // Little-endian: insignificant bytes are at the end (0x00 positive, 0xFF negative).
  auto significant = [](const CRYPT_INTEGER_BLOB* b) {
    DWORD n = b->cbData;
    while (n > 1 && ((b->pbData[n - 1] == 0 && !(b->pbData[n - 2] & 0x80)) ||
                     (b->pbData[n - 1] == 0xFF && (b->pbData[n - 2] & 0x80))))
      --n;
    return n;
  };
  DWORD n1 = significant(pInt1), n2 = significant(pInt2);
  return n1 == n2 && (n1 == 0 || memcmp(pInt1->pbData, pInt2->pbData, n1) == 0);
}

extern "C" BOOL WINAPI CertCompareCertificateName(DWORD dwCertEncodingType, PCERT_NAME_BLOB pCertName1,
                                                  PCERT_NAME_BLOB pCertName2) {
  (void)dwCertEncodingType;
  if (!pCertName1 || !pCertName2) return FALSE;
  return BlobEquals(*pCertName1, pCertName2->pbData, pCertName2->cbData);
}

extern "C" BOOL WINAPI CertCompareCertificate(DWORD dwCertEncodingType, PCERT_INFO pCertId1, PCERT_INFO pCertId2) {
  if (!pCertId1 || !pCertId2) return FALSE;
  return CertCompareCertificateName(dwCertEncodingType, &pCertId1->Issuer, &pCertId2->Issuer) &&
         CertCompareIntegerBlob(&pCertId1->SerialNumber, &pCertId2->SerialNumber);
}
