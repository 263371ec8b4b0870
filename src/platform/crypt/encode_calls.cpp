// CryptEncodeObject / CryptDecodeObject for the structures the engine uses
// (X509_NAME, RSA_CSP_PUBLICKEYBLOB, X509_PUBLIC_KEY_INFO,
// X509_CERT_REQUEST_TO_BE_SIGNED, X509_SEQUENCE_OF_ANY, X509_CERT),
// CryptExportPublicKeyInfo, and CryptSignCertificate and
// CryptSignAndEncodeCertificate for PKCS#10 requests.
#include <openssl/bn.h>
#include <openssl/core_names.h>

#include <algorithm>
#include <cstring>

#include "kvseam/ansi.h"
#include "kvcommon/utf.h"
#include "crypt/crypt_objects.h"
#include "der/der_builder.h"
#include "der/der_span.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"

namespace kv::platform::crypt {

using der::Bytes;
namespace {

// Value types of CERT_RDN_ATTR (dwValueType & 0xFF).
enum RdnType : DWORD {
  kAny = 0,
  kEncodedBlob = 1,
  kOctet = 2,
  kNumeric = 3,
  kPrintable = 4,
  kTeletex = 5,
  kVideotex = 6,
  kIa5 = 7,
  kGraphic = 8,
  kVisible = 9,
  kGeneral = 10,
  kUniversal = 11,
  kBmp = 12,
  kUtf8 = 13,
};

constexpr char kRsaOid[] = "1.2.840.113549.1.1.1";
// Signature room for the largest RSA key CryptGenKey makes (16384 bits).
constexpr DWORD kMaxSignatureBytes = 16384 / 8;

bool IsAsnEncoding(DWORD type) { return (type & 0xFFFF) == X509_ASN_ENCODING; }

// Which structure a lpszStructType names; OID texts are not offered.
ULONG_PTR StructId(LPCSTR type) {
  ULONG_PTR id = reinterpret_cast<ULONG_PTR>(type);
  return id <= 0xFFFF ? id : 0;
}

// The code units of a wide value: cbData bytes, or up to the terminator when 0.
std::u16string WideValue(const CERT_RDN_VALUE_BLOB& value) {
  const auto* p = reinterpret_cast<const char16_t*>(value.pbData);
  if (!p) return {};
  if (value.cbData) return std::u16string(p, value.cbData / 2);
  return std::u16string(p);
}

Bytes NarrowValue(const CERT_RDN_VALUE_BLOB& value) {
  if (!value.pbData) return {};
  if (value.cbData) return Bytes(value.pbData, value.pbData + value.cbData);
  return Bytes(value.pbData, value.pbData + std::strlen(reinterpret_cast<const char*>(value.pbData)));
}

Bytes Utf8Of(const std::u16string& wide) {
  std::string utf8 = kv::Utf16ToUtf8(wide);
  return Bytes(utf8.begin(), utf8.end());
}

// The DER of one attribute value as Windows writes it for X509_NAME.
bool EncodeNameValue(const CERT_RDN_ATTR& attr, der::Builder* out, DWORD* error) {
  static const BYTE kStringTags[] = {0, 0, 0x04, 0x12, 0x13, 0x14, 0x15, 0x16, 0x19, 0x1A, 0x1B};
  DWORD type = attr.dwValueType & 0xFF;
  switch (type) {
    case kEncodedBlob:
      if (!attr.Value.cbData || !attr.Value.pbData) break;
      out->AddEncoded(attr.Value.pbData, attr.Value.cbData);
      return true;
    case kOctet:
    case kNumeric:
    case kPrintable:
    case kTeletex:
    case kVideotex:
    case kIa5:
    case kGraphic:
    case kVisible:
    case kGeneral:
      out->Add(kStringTags[type], NarrowValue(attr.Value));
      return true;
    case kUniversal: {
      Bytes be;
      const BYTE* p = attr.Value.pbData;
      for (DWORD i = 0; p && i + 4 <= attr.Value.cbData; i += 4) {
        uint32_t c;
        std::memcpy(&c, p + i, 4);
        be.insert(be.end(), {static_cast<BYTE>(c >> 24), static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8),
                             static_cast<BYTE>(c)});
      }
      out->Add(der::kUniversalString, be);
      return true;
    }
    case kBmp: {
      Bytes be;
      for (char16_t c : WideValue(attr.Value)) {
        be.push_back(static_cast<BYTE>(c >> 8));
        be.push_back(static_cast<BYTE>(c & 0xFF));
      }
      out->Add(der::kBmpString, be);
      return true;
    }
    case kUtf8:
      out->Add(der::kUtf8String, Utf8Of(WideValue(attr.Value)));
      return true;
    default:
      break;
  }
  *error = static_cast<DWORD>(CRYPT_E_ASN1_CHOICE);
  return false;
}

bool AddOidOrFail(der::Builder* out, const char* oid, DWORD* error) {
  if (out->AddOid(oid)) return true;
  *error = static_cast<DWORD>(CRYPT_E_ASN1_ERROR);
  return false;
}

bool EncodeName(const CERT_NAME_INFO& info, der::Builder* out, DWORD* error) {
  out->Open(der::kSequence);
  for (DWORD i = 0; i < info.cRDN; ++i) {
    const CERT_RDN& rdn = info.rgRDN[i];
    out->OpenSetOf();
    for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
      const CERT_RDN_ATTR& attr = rdn.rgRDNAttr[j];
      out->Open(der::kSequence);
      if (!AddOidOrFail(out, attr.pszObjId, error) || !EncodeNameValue(attr, out, error)) return false;
      out->Close();
    }
    out->Close();
  }
  out->Close();
  return true;
}

bool EncodeAlgorithm(const CRYPT_ALGORITHM_IDENTIFIER& alg, bool nullWhenEmpty, der::Builder* out, DWORD* error) {
  out->Open(der::kSequence);
  if (!AddOidOrFail(out, alg.pszObjId, error)) return false;
  if (alg.Parameters.cbData && alg.Parameters.pbData) {
    out->AddEncoded(alg.Parameters.pbData, alg.Parameters.cbData);
  } else if (nullWhenEmpty) {
    out->AddNull();
  }
  out->Close();
  return true;
}

bool EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, der::Builder* out, DWORD* error) {
  out->Open(der::kSequence);
  if (!EncodeAlgorithm(info.Algorithm, false, out, error)) return false;
  out->AddBitString(info.PublicKey.pbData, info.PublicKey.cbData, static_cast<BYTE>(info.PublicKey.cUnusedBits));
  out->Close();
  return true;
}

bool EncodeRequestInfo(const CERT_REQUEST_INFO& info, der::Builder* out, DWORD* error) {
  if (!info.Subject.cbData || !info.Subject.pbData) {
    *error = static_cast<DWORD>(E_INVALIDARG);
    return false;
  }
  out->Open(der::kSequence);
  out->AddSmallInteger(info.dwVersion);
  out->AddEncoded(info.Subject.pbData, info.Subject.cbData);
  if (!EncodePublicKeyInfo(info.SubjectPublicKeyInfo, out, error)) return false;
  // [0] IMPLICIT SET OF Attribute, always present.
  out->OpenSetOf(der::kContext0);
  for (DWORD i = 0; i < info.cAttribute; ++i) {
    const CRYPT_ATTRIBUTE& attr = info.rgAttribute[i];
    out->Open(der::kSequence);
    if (!AddOidOrFail(out, attr.pszObjId, error)) return false;
    out->OpenSetOf();
    for (DWORD j = 0; j < attr.cValue; ++j) out->AddEncoded(attr.rgValue[j].pbData, attr.rgValue[j].cbData);
    out->Close();
    out->Close();
  }
  out->Close();
  out->Close();
  return true;
}

// RSAPublicKey DER from a PUBLICKEYBLOB.
bool EncodeRsaPublicBlob(const BYTE* blob, der::Builder* out, DWORD* error) {
  const auto* header = reinterpret_cast<const BLOBHEADER*>(blob);
  RSAPUBKEY rsa;
  std::memcpy(&rsa, blob + sizeof(BLOBHEADER), sizeof(rsa));
  if ((header->bType != PUBLICKEYBLOB && header->bType != PRIVATEKEYBLOB) ||
      (rsa.magic != RSA1_MAGIC && rsa.magic != RSA2_MAGIC) || rsa.bitlen == 0) {
    *error = static_cast<DWORD>(E_INVALIDARG);
    return false;
  }
  Bytes modulus(blob + 20, blob + 20 + (rsa.bitlen + 7) / 8);
  std::reverse(modulus.begin(), modulus.end());
  BYTE e[4] = {static_cast<BYTE>(rsa.pubexp >> 24), static_cast<BYTE>(rsa.pubexp >> 16),
               static_cast<BYTE>(rsa.pubexp >> 8), static_cast<BYTE>(rsa.pubexp)};
  out->Open(der::kSequence);
  out->AddUnsignedInteger(modulus.data(), modulus.size());
  out->AddUnsignedInteger(e, 4);
  out->Close();
  return true;
}

// CertificationRequest / Certificate: { toBeSigned, signatureAlgorithm
// (NULL parameters when none are given), signature }. The signature comes
// least significant byte first, as the provider makes it, and is written
// the other way round, as DER wants it.
bool EncodeSignedContent(const CERT_SIGNED_CONTENT_INFO& info, der::Builder* out, DWORD* error) {
  if (!info.ToBeSigned.cbData || !info.ToBeSigned.pbData || (info.Signature.cbData && !info.Signature.pbData)) {
    *error = static_cast<DWORD>(E_INVALIDARG);
    return false;
  }
  out->Open(der::kSequence);
  out->AddEncoded(info.ToBeSigned.pbData, info.ToBeSigned.cbData);
  if (!EncodeAlgorithm(info.SignatureAlgorithm, true, out, error)) return false;
  Bytes bigEndian(info.Signature.pbData, info.Signature.pbData + info.Signature.cbData);
  std::reverse(bigEndian.begin(), bigEndian.end());
  out->AddBitString(bigEndian.data(), bigEndian.size(), static_cast<BYTE>(info.Signature.cUnusedBits));
  out->Close();
  return true;
}

// SEQUENCE OF ANY: the values, already DER, one after another.
bool EncodeSequenceOfAny(const CRYPT_SEQUENCE_OF_ANY& info, der::Builder* out, DWORD* error) {
  out->Open(der::kSequence);
  for (DWORD i = 0; i < info.cValue; ++i) {
    const CRYPT_DER_BLOB& value = info.rgValue[i];
    if (!value.cbData || !value.pbData) {
      *error = static_cast<DWORD>(E_INVALIDARG);
      return false;
    }
    out->AddEncoded(value.pbData, value.cbData);
  }
  out->Close();
  return true;
}

// Runs one of the encoders above into `out`.
template <class Encoder>
bool Encode(Encoder encode, Bytes* out, DWORD* error) {
  der::Builder b;
  if (!encode(&b)) return false;
  if (b.Finish(out)) return true;
  *error = static_cast<DWORD>(CRYPT_E_ASN1_ERROR);
  return false;
}

// Lays out variable-sized output: a fixed structure first, then its pieces,
// each aligned to pointer size, all inside the caller's single buffer.
class Layout {
 public:
  explicit Layout(size_t head) : size_(Align(head)) {}
  size_t Add(size_t bytes) {
    size_t at = size_;
    size_ = Align(size_ + bytes);
    return at;
  }
  size_t size() const { return size_; }

 private:
  static size_t Align(size_t n) { return (n + sizeof(void*) - 1) & ~(sizeof(void*) - 1); }
  size_t size_;
};

struct DecodedAttr {
  std::string oid;
  DWORD type;
  Bytes value;
};

bool DecodeNameValue(BYTE tag, der::Span content, der::Span whole, DecodedAttr* attr) {
  const BYTE* p = content.data();
  size_t n = content.size();
  switch (tag) {
    case 0x04: attr->type = kOctet; break;
    case 0x12: attr->type = kNumeric; break;
    case 0x13: attr->type = kPrintable; break;
    case 0x14: attr->type = kTeletex; break;
    case 0x15: attr->type = kVideotex; break;
    case 0x16: attr->type = kIa5; break;
    case 0x19: attr->type = kGraphic; break;
    case 0x1A: attr->type = kVisible; break;
    case 0x1B: attr->type = kGeneral; break;
    case 0x1E: {  // BMPString: to host-order WCHARs
      if (n % 2) return false;
      attr->type = kBmp;
      for (size_t i = 0; i < n; i += 2) {
        char16_t c = static_cast<char16_t>((p[i] << 8) | p[i + 1]);
        const BYTE* b = reinterpret_cast<const BYTE*>(&c);
        attr->value.insert(attr->value.end(), b, b + 2);
      }
      return true;
    }
    case 0x1C: {  // UniversalString: to host-order 32-bit characters
      if (n % 4) return false;
      attr->type = kUniversal;
      for (size_t i = 0; i < n; i += 4) {
        uint32_t c = (uint32_t(p[i]) << 24) | (uint32_t(p[i + 1]) << 16) | (uint32_t(p[i + 2]) << 8) | p[i + 3];
        const BYTE* b = reinterpret_cast<const BYTE*>(&c);
        attr->value.insert(attr->value.end(), b, b + 4);
      }
      return true;
    }
    case 0x0C: {  // UTF8String: to WCHARs
      attr->type = kUtf8;
      std::u16string wide;
      if (!kv::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p), n), &wide)) return false;
      const BYTE* b = reinterpret_cast<const BYTE*>(wide.data());
      attr->value.assign(b, b + wide.size() * 2);
      return true;
    }
    default:
      attr->type = kEncodedBlob;
      attr->value = whole.ToVector();
      return true;
  }
  attr->value.assign(p, p + n);
  return true;
}

BOOL DecodeName(der::Span in, void* out, DWORD* pcb) {
  der::Span seq, probe = in;
  if (!probe.Read(0x30, &seq)) return Fail(der::ExpectedElementError(in, 0x30));
  std::vector<std::vector<DecodedAttr>> rdns;
  while (!seq.empty()) {
    der::Span set, before = seq;
    if (!seq.Read(0x31, &set)) return Fail(der::ExpectedElementError(before, 0x31));
    std::vector<DecodedAttr> attrs;
    while (!set.empty()) {
      der::Span atv, oid, beforeAtv = set;
      if (!set.Read(0x30, &atv)) return Fail(der::ExpectedElementError(beforeAtv, 0x30));
      der::Span beforeOid = atv;
      if (!atv.Read(0x06, &oid)) return Fail(der::ExpectedElementError(beforeOid, 0x06));
      DecodedAttr attr;
      if (!der::OidToText(oid, &attr.oid)) attr.oid.clear();
      if (attr.oid.empty()) return Fail(CRYPT_E_ASN1_CORRUPT);
      BYTE tag = 0;
      der::Span content, whole;
      if (!atv.ReadAny(&tag, &content, &whole)) return Fail(CRYPT_E_ASN1_EOD);
      if (!DecodeNameValue(tag, content, whole, &attr)) return Fail(CRYPT_E_ASN1_CORRUPT);
      attrs.push_back(std::move(attr));
    }
    rdns.push_back(std::move(attrs));
  }
  Layout layout(sizeof(CERT_NAME_INFO));
  size_t rdnAt = layout.Add(rdns.size() * sizeof(CERT_RDN));
  std::vector<size_t> attrAt, oidAt, valueAt;
  for (const auto& attrs : rdns) attrAt.push_back(layout.Add(attrs.size() * sizeof(CERT_RDN_ATTR)));
  for (const auto& attrs : rdns) {
    for (const auto& a : attrs) {
      oidAt.push_back(layout.Add(a.oid.size() + 1));
      valueAt.push_back(layout.Add(a.value.size() + 2));  // zero terminator for string readers
    }
  }
  if (!pcb) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!out) {
    *pcb = static_cast<DWORD>(layout.size());
    return TRUE;
  }
  if (*pcb < layout.size()) {
    *pcb = static_cast<DWORD>(layout.size());
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  BYTE* base = static_cast<BYTE*>(out);
  std::memset(base, 0, layout.size());
  auto* info = reinterpret_cast<CERT_NAME_INFO*>(base);
  info->cRDN = static_cast<DWORD>(rdns.size());
  info->rgRDN = rdns.empty() ? nullptr : reinterpret_cast<CERT_RDN*>(base + rdnAt);
  size_t k = 0;
  for (size_t i = 0; i < rdns.size(); ++i) {
    CERT_RDN& rdn = info->rgRDN[i];
    rdn.cRDNAttr = static_cast<DWORD>(rdns[i].size());
    rdn.rgRDNAttr = reinterpret_cast<CERT_RDN_ATTR*>(base + attrAt[i]);
    for (size_t j = 0; j < rdns[i].size(); ++j, ++k) {
      const DecodedAttr& a = rdns[i][j];
      CERT_RDN_ATTR& attr = rdn.rgRDNAttr[j];
      attr.pszObjId = reinterpret_cast<LPSTR>(base + oidAt[k]);
      std::memcpy(attr.pszObjId, a.oid.c_str(), a.oid.size() + 1);
      attr.dwValueType = a.type;
      attr.Value.cbData = static_cast<DWORD>(a.value.size());
      attr.Value.pbData = base + valueAt[k];
      if (!a.value.empty()) std::memcpy(attr.Value.pbData, a.value.data(), a.value.size());
    }
  }
  *pcb = static_cast<DWORD>(layout.size());
  return TRUE;
}

ALG_ID HashOfSignatureOid(const char* oid) {
  if (!oid) return 0;
  std::string s(oid);
  if (s == "1.2.840.113549.1.1.4") return CALG_MD5;
  if (s == "1.2.840.113549.1.1.5" || s == "1.3.14.3.2.29") return CALG_SHA1;
  if (s == "1.2.840.113549.1.1.11") return CALG_SHA_256;
  if (s == "1.2.840.113549.1.1.12") return CALG_SHA_384;
  if (s == "1.2.840.113549.1.1.13") return CALG_SHA_512;
  return 0;
}

// Signs encoded to-be-signed bytes with the provider's key, the hash taken
// from the signature algorithm; the signature least significant byte first.
// Without `sign` only its length is learned (a size query), which the key's
// size fixes, so the private-key operation is left for the call that keeps
// the result. Errors are the provider's (no key, bad algorithm), set as the
// thread's last error.
bool SignToBeSigned(HCRYPTPROV prov, DWORD keySpec, const BYTE* tbs, DWORD tbsSize,
                    const CRYPT_ALGORITHM_IDENTIFIER& algorithm, bool sign, Bytes* signature) {
  if (!LiveProvider(prov)) return false;
  ALG_ID hashAlg = HashOfSignatureOid(algorithm.pszObjId);
  if (!hashAlg) return Fail(NTE_BAD_ALGID);
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(prov, hashAlg, 0, 0, &hash)) return false;
  // Room for the largest key the provider makes, so the key is read once.
  DWORD size = kMaxSignatureBytes;
  signature->assign(size, 0);
  bool ok = CryptHashData(hash, tbs, tbsSize, 0) &&
            CryptSignHashA(hash, keySpec, nullptr, 0, sign ? signature->data() : nullptr, &size);
  if (!ok && sign && GetLastError() == ERROR_MORE_DATA) {
    // An imported key larger still.
    signature->assign(size, 0);
    ok = CryptSignHashA(hash, keySpec, nullptr, 0, signature->data(), &size);
  }
  DWORD savedError = GetLastError();
  CryptDestroyHash(hash);
  if (!ok) return Fail(savedError);
  signature->resize(size);
  return true;
}

// The RSAPublicKey DER of a key.
bool RsaPublicKeyDer(EVP_PKEY* pkey, Bytes* out) {
  std::vector<BYTE> blob;
  DWORD error = 0;
  return RsaToBlob(pkey, CALG_RSA_KEYX, false, &blob) &&
         Encode([&](der::Builder* b) { return EncodeRsaPublicBlob(blob.data(), b, &error); }, out, &error);
}


}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
namespace der = kv::der;

extern "C" BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                                         BYTE* pbEncoded, DWORD* pcbEncoded) {
  if (!pcbEncoded) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ULONG_PTR id = StructId(lpszStructType);
  if (id != 1 && id != 4 && id != 7 && id != 8 && id != 19 && id != 34) {
    return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  if (!pvStructInfo) return Fail(static_cast<DWORD>(E_INVALIDARG));
  Bytes der;
  DWORD error = 0;
  auto encoder = [&](der::Builder* b) {
    switch (id) {
      case 4:
        return EncodeRequestInfo(*static_cast<const CERT_REQUEST_INFO*>(pvStructInfo), b, &error);
      case 7:
        return EncodeName(*static_cast<const CERT_NAME_INFO*>(pvStructInfo), b, &error);
      case 8:
        return EncodePublicKeyInfo(*static_cast<const CERT_PUBLIC_KEY_INFO*>(pvStructInfo), b, &error);
      case 1:
        return EncodeSignedContent(*static_cast<const CERT_SIGNED_CONTENT_INFO*>(pvStructInfo), b, &error);
      case 34:
        return EncodeSequenceOfAny(*static_cast<const CRYPT_SEQUENCE_OF_ANY*>(pvStructInfo), b, &error);
      default:
        return EncodeRsaPublicBlob(static_cast<const BYTE*>(pvStructInfo), b, &error);
    }
  };
  if (!Encode(encoder, &der, &error)) return Fail(error);
  return ReturnBytes(der, pbEncoded, pcbEncoded);
}

extern "C" BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                                         DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo) {
  (void)dwFlags;
  if (!pcbStructInfo) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ULONG_PTR id = StructId(lpszStructType);
  if (id != 7 && id != 19) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (!pbEncoded || !cbEncoded) return Fail(CRYPT_E_ASN1_EOD);
  der::Span in(pbEncoded, cbEncoded);
  if (id == 7) return DecodeName(in, pvStructInfo, pcbStructInfo);
  Bytes blob;
  DWORD error = 0;
  if (!RsaPublicKeyToBlob(in, &blob, &error)) return Fail(error);
  return ReturnBytes(blob, static_cast<BYTE*>(pvStructInfo), pcbStructInfo);
}

extern "C" BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                                DWORD dwKeySpec, DWORD dwCertEncodingType,
                                                PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo) {
  auto prov = LiveProvider(hCryptProvOrNCryptKey);
  if (!prov) return FALSE;
  if (!pcbInfo) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  auto key = LoadUserKey(prov, dwKeySpec);
  if (!key) return FALSE;
  Bytes rsaKey;
  if (!RsaPublicKeyDer(key->pkey.get(), &rsaKey)) return Fail(NTE_FAIL);
  const Bytes params = {der::kNull, 0x00};
  Layout layout(sizeof(CERT_PUBLIC_KEY_INFO));
  size_t oidAt = layout.Add(sizeof(kRsaOid));
  size_t paramsAt = layout.Add(params.size());
  size_t keyAt = layout.Add(rsaKey.size());
  if (!pInfo) {
    *pcbInfo = static_cast<DWORD>(layout.size());
    return TRUE;
  }
  if (*pcbInfo < layout.size()) {
    *pcbInfo = static_cast<DWORD>(layout.size());
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  BYTE* base = reinterpret_cast<BYTE*>(pInfo);
  std::memset(base, 0, layout.size());
  pInfo->Algorithm.pszObjId = reinterpret_cast<LPSTR>(base + oidAt);
  std::memcpy(pInfo->Algorithm.pszObjId, kRsaOid, sizeof(kRsaOid));
  pInfo->Algorithm.Parameters.cbData = static_cast<DWORD>(params.size());
  pInfo->Algorithm.Parameters.pbData = base + paramsAt;
  std::memcpy(base + paramsAt, params.data(), params.size());
  pInfo->PublicKey.cbData = static_cast<DWORD>(rsaKey.size());
  pInfo->PublicKey.pbData = base + keyAt;
  pInfo->PublicKey.cUnusedBits = 0;
  std::memcpy(base + keyAt, rsaKey.data(), rsaKey.size());
  *pcbInfo = static_cast<DWORD>(layout.size());
  return TRUE;
}

extern "C" BOOL WINAPI CryptSignCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
                                            DWORD dwCertEncodingType, const BYTE* pbEncodedToBeSigned,
                                            DWORD cbEncodedToBeSigned, PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm,
                                            const void* pvHashAuxInfo, BYTE* pbSignature, DWORD* pcbSignature) {
  (void)pvHashAuxInfo;
  (void)dwCertEncodingType;  // the signature does not depend on it
  if (!pcbSignature || !pSignatureAlgorithm || (!pbEncodedToBeSigned && cbEncodedToBeSigned)) {
    return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  Bytes signature;
  if (!SignToBeSigned(hCryptProvOrNCryptKey, dwKeySpec, pbEncodedToBeSigned, cbEncodedToBeSigned,
                      *pSignatureAlgorithm, pbSignature != nullptr, &signature)) {
    return FALSE;
  }
  return ReturnBytes(signature, pbSignature, pcbSignature);
}

extern "C" BOOL WINAPI CryptSignAndEncodeCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                                                     DWORD dwKeySpec, DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                                     const void* pvStructInfo,
                                                     PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm,
                                                     const void* pvHashAuxInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
  (void)pvHashAuxInfo;
  if (!pcbEncoded) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!IsAsnEncoding(dwCertEncodingType)) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (StructId(lpszStructType) != 4) return Fail(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (!pvStructInfo || !pSignatureAlgorithm) return Fail(static_cast<DWORD>(E_INVALIDARG));
  Bytes tbs;
  DWORD error = 0;
  const auto& info = *static_cast<const CERT_REQUEST_INFO*>(pvStructInfo);
  if (!Encode([&](der::Builder* b) { return EncodeRequestInfo(info, b, &error); }, &tbs, &error)) return Fail(error);
  Bytes signature;
  if (!SignToBeSigned(hCryptProvOrNCryptKey, dwKeySpec, tbs.data(), static_cast<DWORD>(tbs.size()),
                      *pSignatureAlgorithm, pbEncoded != nullptr, &signature)) {
    return FALSE;
  }
  CERT_SIGNED_CONTENT_INFO content{};
  content.ToBeSigned = {static_cast<DWORD>(tbs.size()), tbs.data()};
  content.SignatureAlgorithm = *pSignatureAlgorithm;
  content.Signature = {static_cast<DWORD>(signature.size()), signature.data(), 0};
  Bytes encoded;
  if (!Encode([&](der::Builder* b) { return EncodeSignedContent(content, b, &error); }, &encoded, &error)) {
    return Fail(error);
  }
  return ReturnBytes(encoded, pbEncoded, pcbEncoded);
}
