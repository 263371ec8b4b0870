// CryptDecodeObject for X509_NAME (into one CERT_NAME_INFO laid out in the
// caller's buffer) and RSA_CSP_PUBLICKEYBLOB.
#include <cstring>
#include <string>
#include <vector>

#include "crypt/crypt_objects.h"
#include "crypt/encode_structures.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"
#include "der/der_span.h"
#include "kvcommon/utf.h"

namespace kv::platform::crypt {
namespace {

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

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
namespace der = kv::der;

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
