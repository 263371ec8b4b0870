// DER encoders of the structures the stand-in's CryptEncodeObject takes,
// written as Windows writes them.
#include "crypt/encode_structures.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "kvcommon/utf.h"
#include "kvseam/ansi.h"

namespace kv::platform::crypt {
namespace {

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
    case kAny:
      // A name must say how each value is written.
      *error = static_cast<DWORD>(E_INVALIDARG);
      return false;
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

}  // namespace

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

}  // namespace kv::platform::crypt
