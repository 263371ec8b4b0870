// CertNameToStr and CertGetNameString: names rendered with Windows's keys,
// order, separators and quoting, converted to the ANSI code page.
#include "cert/cert_names.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "cert/cert_object.h"
#include "der/der_span.h"
#include "kvcommon/utf.h"

namespace kv::platform::cert {

namespace {

using der::Span;

struct KeyName {
  const char* oid;
  const char* key;
};

// The short keys Windows prints for X.500 strings.
const KeyName kKeys[] = {
    {"2.5.4.3", "CN"},          {"2.5.4.4", "SN"},           {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.6", "C"},           {"2.5.4.7", "L"},            {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},      {"2.5.4.10", "O"},           {"2.5.4.11", "OU"},
    {"2.5.4.12", "T"},          {"2.5.4.13", "Description"}, {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},      {"2.5.4.20", "Phone"},       {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},          {"2.5.4.46", "dnQualifier"}, {"1.2.840.113549.1.9.1", "E"},
    {"0.9.2342.19200300.100.1.25", "DC"},
};

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

bool DecodeUtf8(const std::vector<uint8_t>& bytes, std::u16string* out) {
  return kv::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), out);
}

std::u16string Latin1(const std::vector<uint8_t>& bytes) { return std::u16string(bytes.begin(), bytes.end()); }

bool NeedsQuotes(const std::u16string& v) {
  if (v.empty()) return false;
  if (v.front() == u' ' || v.back() == u' ') return true;
  for (char16_t c : v)
    if (c == u',' || c == u'+' || c == u'=' || c == u'"' || c == u'\n' || c == u'<' || c == u'>' || c == u'#' ||
        c == u';')
      return true;
  return false;
}

}  // namespace

bool ParseName(const BYTE* data, DWORD size, std::vector<Rdn>* out, HRESULT* error) {
  out->clear();
  Span in(data, size), seq;
  if (!in.Read(der::kSequence, &seq)) return *error = in.error(), false;
  while (!seq.empty()) {
    Span set;
    if (!seq.Read(der::kSet, &set)) return *error = seq.error(), false;
    Rdn rdn;
    while (!set.empty()) {
      Span ava, oid, value, whole;
      uint8_t tag;
      if (!set.Read(der::kSequence, &ava)) return *error = set.error(), false;
      if (!ava.Read(der::kOid, &oid)) return *error = ava.error(), false;
      if (!ava.ReadAny(&tag, &value, &whole)) return *error = ava.error(), false;
      NameAttribute attribute;
      if (!OidText(oid.data(), oid.size(), &attribute.oid)) return *error = CRYPT_E_ASN1_CORRUPT, false;
      attribute.tag = tag;
      attribute.value = value.ToVector();
      attribute.encoded = whole.ToVector();
      rdn.push_back(std::move(attribute));
    }
    out->push_back(std::move(rdn));
  }
  return true;
}

std::u16string ValueText(const NameAttribute& a) {
  std::u16string text;
  switch (a.tag) {
    case der::kUtf8String:
      if (!DecodeUtf8(a.value, &text)) text = Latin1(a.value);
      return text;
    case der::kT61String:
      // Windows reads T61 text as UTF-8 when it is valid UTF-8.
      if (!DecodeUtf8(a.value, &text)) text = Latin1(a.value);
      return text;
    case der::kBmpString:
      for (size_t i = 0; i + 1 < a.value.size(); i += 2)
        text.push_back(static_cast<char16_t>((a.value[i] << 8) | a.value[i + 1]));
      return text;
    case der::kUniversalString:
      for (size_t i = 0; i + 3 < a.value.size(); i += 4) {
        uint32_t c = (static_cast<uint32_t>(a.value[i]) << 24) | (a.value[i + 1] << 16) | (a.value[i + 2] << 8) |
                     a.value[i + 3];
        if (c <= 0x10FFFF) {
          kv::AppendUtf16(c, &text);
        } else {
          text.push_back(u'?');
        }
      }
      return text;
    case der::kPrintableString:
    case der::kNumericString:
    case der::kIa5String:
    case der::kVisibleString:
    case der::kVideotexString:
    case der::kGraphicString:
    case der::kGeneralString:
      return Latin1(a.value);
    default: {
      // Not a character string: the encoded value in hexadecimal.
      static const char kHex[] = "0123456789ABCDEF";
      text = u"#";
      for (uint8_t b : a.encoded) {
        text.push_back(static_cast<char16_t>(kHex[b >> 4]));
        text.push_back(static_cast<char16_t>(kHex[b & 15]));
      }
      return text;
    }
  }
}

std::u16string RenderName(const std::vector<Rdn>& rdns, DWORD strType) {
  DWORD format = strType & 0xFFFF;
  if (format != CERT_SIMPLE_NAME_STR && format != CERT_OID_NAME_STR && format != CERT_X500_NAME_STR) return u"";
  std::u16string rdnSeparator = u", ";
  if (strType & CERT_NAME_STR_SEMICOLON_FLAG)
    rdnSeparator = u"; ";
  else if (strType & CERT_NAME_STR_CRLF_FLAG)
    rdnSeparator = u"\r\n";
  std::u16string plus = (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? u" " : u" + ";
  bool quoting = !(strType & CERT_NAME_STR_NO_QUOTING_FLAG);
  std::u16string out;
  size_t count = rdns.size();
  for (size_t i = 0; i < count; ++i) {
    const Rdn& rdn = rdns[(strType & CERT_NAME_STR_REVERSE_FLAG) ? count - 1 - i : i];
    if (i) out += rdnSeparator;
    for (size_t j = 0; j < rdn.size(); ++j) {
      const NameAttribute& a = rdn[j];
      if (j) out += plus;
      if (format == CERT_OID_NAME_STR) {
        out += Ascii(a.oid) + u"=";
      } else if (format == CERT_X500_NAME_STR) {
        const char* key = nullptr;
        for (const KeyName& k : kKeys)
          if (a.oid == k.oid) key = k.key;
        out += key ? Ascii(key) : Ascii("OID." + a.oid);
        out += u"=";
      }
      std::u16string value = ValueText(a);
      if (quoting && NeedsQuotes(value)) {
        out += u'"';
        for (char16_t c : value) {
          if (c == u'"') out += u'"';
          out += c;
        }
        out += u'"';
      } else {
        out += value;
      }
    }
  }
  return out;
}

DWORD ReturnWide(const std::u16string& text, LPWSTR out, DWORD size) {
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (!out || size == 0) return needed;
  DWORD n = std::min<DWORD>(needed - 1, size - 1);
  if (n) memcpy(out, text.data(), n * sizeof(WCHAR));
  out[n] = 0;
  return n + 1;
}

std::string ToAnsi(const std::u16string& text) {
  std::string out;
  if (text.empty()) return out;
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return out;
  out.resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

DWORD ReturnNarrow(const std::u16string& text, LPSTR out, DWORD size) {
  std::string whole = ToAnsi(text);
  if (!out || size == 0) return static_cast<DWORD>(whole.size() + 1);
  if (whole.size() <= size - 1) {
    memcpy(out, whole.data(), whole.size());
    out[whole.size()] = 0;
    return static_cast<DWORD>(whole.size() + 1);
  }
  // Cut at a character boundary so a double-byte character is never split.
  std::string result;
  for (size_t i = 0; i < text.size();) {
    size_t units = kv::IsSurrogatePair(text, i) ? 2 : 1;
    std::string piece = ToAnsi(text.substr(i, units));
    if (result.size() + piece.size() > size - 1) break;
    result += piece;
    i += units;
  }
  memcpy(out, result.data(), result.size());
  out[result.size()] = 0;
  return static_cast<DWORD>(result.size() + 1);
}

}  // namespace kv::platform::cert

using namespace kv::platform::cert;

namespace {

std::u16string NameToText(PCERT_NAME_BLOB pName, DWORD dwStrType) {
  if (!pName || (!pName->pbData && pName->cbData)) return u"";
  // A search renders the subject and issuer of every certificate of a store
  // on every call: the renderings are kept by encoding and format. Bounded,
  // as the encodings come from outside.
  static auto* lock = new std::mutex();
  static auto* rendered = new std::unordered_map<std::string, std::u16string>();
  std::string key(reinterpret_cast<const char*>(&dwStrType), sizeof dwStrType);
  key.append(reinterpret_cast<const char*>(pName->pbData), pName->cbData);
  {
    std::lock_guard<std::mutex> guard(*lock);
    auto found = rendered->find(key);
    if (found != rendered->end()) return found->second;
  }
  std::vector<Rdn> rdns;
  HRESULT error;
  if (!ParseName(pName->pbData, pName->cbData, &rdns, &error)) return u"";
  std::u16string text = RenderName(rdns, dwStrType);
  std::lock_guard<std::mutex> guard(*lock);
  if (rendered->size() >= 4096) rendered->clear();
  rendered->emplace(std::move(key), text);
  return text;
}

// General names of the alternative-name extension with the given implicit
// tag; the older form of the extension (2.5.29.7 and .8) when the current one
// is absent, as Windows reads it.
std::u16string AltName(const CERT_INFO* info, bool issuer, uint8_t tag) {
  const char* oid = issuer ? "2.5.29.18" : "2.5.29.17";
  const CERT_EXTENSION* found = nullptr;
  for (DWORD i = 0; i < info->cExtension && !found; ++i)
    if (strcmp(info->rgExtension[i].pszObjId, oid) == 0) found = &info->rgExtension[i];
  const char* older = issuer ? "2.5.29.8" : "2.5.29.7";
  for (DWORD i = 0; i < info->cExtension && !found; ++i)
    if (strcmp(info->rgExtension[i].pszObjId, older) == 0) found = &info->rgExtension[i];
  if (found) {
    const CERT_EXTENSION& e = *found;
    kv::der::Span in(e.Value.pbData, e.Value.cbData), seq;
    if (!in.Read(kv::der::kSequence, &seq)) return u"";
    while (!seq.empty()) {
      uint8_t t;
      kv::der::Span value;
      if (!seq.ReadAny(&t, &value)) return u"";
      if (t == tag) return std::u16string(value.data(), value.data() + value.size());
    }
  }
  return u"";
}

std::u16string NameString(PCCERT_CONTEXT context, DWORD dwType, DWORD dwFlags, void* pvTypePara) {
  std::lock_guard<std::recursive_mutex> lock(ModelLock());
  CertObject* object = LookupContext(context);
  if (!object) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return u"";
  }
  const CERT_INFO* info = context->pCertInfo;
  bool issuer = (dwFlags & CERT_NAME_ISSUER_FLAG) != 0;
  CERT_NAME_BLOB name = issuer ? info->Issuer : info->Subject;
  std::vector<Rdn> rdns;
  HRESULT error;
  if (!ParseName(name.pbData, name.cbData, &rdns, &error)) rdns.clear();
  auto first = [&](const char* oid) -> const NameAttribute* {
    for (const Rdn& rdn : rdns)
      for (const NameAttribute& a : rdn)
        if (a.oid == oid) return &a;
    return nullptr;
  };
  switch (dwType) {
    case CERT_NAME_ATTR_TYPE: {
      // Without an attribute Windows gives the e-mail address.
      const char* oid = pvTypePara ? static_cast<const char*>(pvTypePara) : szOID_RSA_emailAddr;
      const NameAttribute* a = first(oid);
      return a ? ValueText(*a) : u"";
    }
    case CERT_NAME_RDN_TYPE: {
      // No string type, or type 0, is the simple form.
      DWORD strType = pvTypePara ? *static_cast<DWORD*>(pvTypePara) : 0;
      if ((strType & 0xFFFF) == 0) strType |= CERT_SIMPLE_NAME_STR;
      return RenderName(rdns, strType);
    }
    case CERT_NAME_EMAIL_TYPE: {
      std::u16string mail = AltName(info, issuer, 0x81);
      if (mail.empty())
        if (const NameAttribute* a = first(szOID_RSA_emailAddr)) mail = ValueText(*a);
      return mail;
    }
    case CERT_NAME_DNS_TYPE: {
      std::u16string dns = AltName(info, issuer, 0x82);
      if (dns.empty())
        if (const NameAttribute* a = first(szOID_COMMON_NAME)) dns = ValueText(*a);
      return dns;
    }
    case CERT_NAME_FRIENDLY_DISPLAY_TYPE:
    case CERT_NAME_SIMPLE_DISPLAY_TYPE: {
      if (dwType == CERT_NAME_FRIENDLY_DISPLAY_TYPE && !issuer) {
        CertObject* owner = PropertyOwner(object);
        auto found = owner->props.find(CERT_FRIENDLY_NAME_PROP_ID);
        if (found != owner->props.end() && found->second.size() >= 2) {
          std::u16string text;
          for (size_t i = 0; i + 1 < found->second.size(); i += 2) {
            char16_t c = static_cast<char16_t>(found->second[i] | (found->second[i + 1] << 8));
            if (!c) break;
            text.push_back(c);
          }
          if (!text.empty()) return text;
        }
      }
      for (const char* oid : {szOID_COMMON_NAME, szOID_ORGANIZATIONAL_UNIT_NAME, szOID_ORGANIZATION_NAME,
                              szOID_RSA_emailAddr})
        if (const NameAttribute* a = first(oid)) return ValueText(*a);
      std::u16string mail = AltName(info, issuer, 0x81);
      if (!mail.empty()) return mail;
      if (!rdns.empty() && !rdns.front().empty()) return ValueText(rdns.front().front());
      return u"";
    }
    default:
      return u"";
  }
}

}  // namespace

namespace {

// The narrow calls do not truncate: a buffer too short for the whole text
// gets an empty string and the length 1 (what was written after the first
// character is left there, as on Windows).
DWORD ReturnNarrowWhole(const std::u16string& text, LPSTR out, DWORD size) {
  std::string whole = ToAnsi(text);
  if (!out || size == 0) return static_cast<DWORD>(whole.size() + 1);
  size_t n = whole.size() + 1 > size ? 0 : whole.size();
  memcpy(out, whole.data(), n);
  out[n] = 0;
  return static_cast<DWORD>(n + 1);
}

// A name is decoded for one encoding only; another gives an empty string and
// the error of a missing decoder.
bool KnownEncoding(DWORD encoding) { return (encoding & X509_ASN_ENCODING) != 0; }

}  // namespace

extern "C" DWORD WINAPI CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                       LPWSTR psz, DWORD csz) {
  if (!KnownEncoding(dwCertEncodingType)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ReturnWide(u"", psz, csz);
  }
  DWORD n = ReturnWide(NameToText(pName, dwStrType), psz, csz);
  SetLastError(ERROR_SUCCESS);
  return n;
}

extern "C" DWORD WINAPI CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPSTR psz,
                                       DWORD csz) {
  if (!KnownEncoding(dwCertEncodingType)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ReturnNarrow(u"", psz, csz);
  }
  DWORD n = ReturnNarrowWhole(NameToText(pName, dwStrType), psz, csz);
  SetLastError(ERROR_SUCCESS);
  return n;
}

extern "C" DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                           void* pvTypePara, LPWSTR pszNameString, DWORD cchNameString) {
  return ReturnWide(NameString(pCertContext, dwType, dwFlags, pvTypePara), pszNameString, cchNameString);
}

extern "C" DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                           void* pvTypePara, LPSTR pszNameString, DWORD cchNameString) {
  return ReturnNarrowWhole(NameString(pCertContext, dwType, dwFlags, pvTypePara), pszNameString, cchNameString);
}
