// Certificate fields as texts: names through the platform's ANSI renderers,
// serial and fingerprint as upper-case hex, validity in local time.
#include "cert/cert_info.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kNameBufferSize = 512;
constexpr DWORD kCommonNameBufferSize = 100;
constexpr BYTE kKeyCertSign = 0x04;
constexpr BYTE kCrlSign = 0x02;

}  // namespace

CCertInfo::CCertInfo(const BYTE* der, int32_t length) { LoadEncoded(der, length); }

CCertInfo::CCertInfo(PCCERT_CONTEXT context) { Attach(context); }

CCertInfo::~CCertInfo() { Reset(); }

void CCertInfo::Reset() {
  m_encoded.Clear();
  m_created.reset();
  m_context = nullptr;
  m_loaded = false;
  m_lastError = 0;
  m_keyUsage = 0;
}

bool CCertInfo::LoadEncoded(const BYTE* der, int32_t length) {
  Reset();
  if (!der || length < 0) return false;
  if (!m_encoded.Append(der, length)) return false;
  m_created.reset(CertCreateCertificateContext(kCertEncoding, m_encoded.Data(), static_cast<DWORD>(m_encoded.Size())));
  m_context = m_created.get();
  m_lastError = GetLastError();
  if (!m_context) return false;
  m_loaded = true;
  ReadKeyUsage();
  return true;
}

bool CCertInfo::Attach(PCCERT_CONTEXT context) {
  Reset();
  if (!context) return false;
  if (!m_encoded.Append(context->pbCertEncoded, static_cast<int32_t>(context->cbCertEncoded))) return false;
  m_context = context;
  m_loaded = true;
  ReadKeyUsage();
  return true;
}

void CCertInfo::ReadKeyUsage() {
  // Only the first byte of the key usage is asked for, so only its bits count.
  BYTE usage = 0;
  if (CertGetIntendedKeyUsage(kCertEncoding, m_context->pCertInfo, &usage, 1))
    m_keyUsage = usage;
  else
    m_keyUsage = 0;
}

std::string CCertInfo::GetBase64() const {
  if (!m_loaded) return {};
  CByteBuffer text;
  if (!text.EncodeBase64(m_context->pbCertEncoded, static_cast<int32_t>(m_context->cbCertEncoded))) return {};
  return text.c_str();
}

std::string CCertInfo::Name(bool issuer) const {
  if (!m_loaded) return {};
  char buffer[kNameBufferSize] = {};
  CERT_NAME_BLOB* name = issuer ? &m_context->pCertInfo->Issuer : &m_context->pCertInfo->Subject;
  DWORD n = CertNameToStrA(kCertEncoding, name, CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG, buffer,
                           kNameBufferSize);
  if (n == 0) return {};
  buffer[kNameBufferSize - 1] = '\0';
  return buffer;
}

std::string CCertInfo::CommonName(bool issuer) const {
  if (!m_loaded) return {};
  char buffer[kCommonNameBufferSize] = {};
  static char commonNameOid[] = "2.5.4.3";
  DWORD n = CertGetNameStringA(m_context, CERT_NAME_ATTR_TYPE, issuer ? CERT_NAME_ISSUER_FLAG : 0, commonNameOid,
                               buffer, kCommonNameBufferSize);
  if (n == 0) return {};
  buffer[kCommonNameBufferSize - 1] = '\0';
  return buffer;
}

std::string CCertInfo::GetSubject() const { return Name(false); }
std::string CCertInfo::GetIssuer() const { return Name(true); }
std::string CCertInfo::GetSubjectCN() const { return CommonName(false); }
std::string CCertInfo::GetIssuerCN() const { return CommonName(true); }

std::string CCertInfo::GetSerial() const {
  if (!m_loaded) return {};
  const CRYPT_INTEGER_BLOB& serial = m_context->pCertInfo->SerialNumber;
  // The platform keeps the serial least significant byte first.
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(serial.cbData * 2);
  for (DWORD i = serial.cbData; i > 0; --i) {
    BYTE b = serial.pbData[i - 1];
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

std::string CCertInfo::GetFingerprint() const {
  if (!m_loaded) return {};
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!CertGetCertificateContextProperty(m_context, CERT_SHA1_HASH_PROP_ID, hash, &size)) return {};
  CByteBuffer hex;
  if (!hex.EncodeHex(hash, static_cast<int32_t>(size))) return {};
  return hex.c_str();
}

std::string CCertInfo::FormatDate(const FILETIME& utc, DateForm form) const {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return {};
  char text[64];
  unsigned y = st.wYear, mo = st.wMonth, d = st.wDay, h = st.wHour, mi = st.wMinute, s = st.wSecond;
  switch (form) {
    case DateForm::Digits: std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", y, mo, d, h, mi, s); break;
    case DateForm::Date: std::snprintf(text, sizeof text, "%04u/%02u/%02u", y, mo, d); break;
    case DateForm::DateTime:
      std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", y, mo, d, h, mi, s);
      break;
  }
  return text;
}

std::string CCertInfo::GetNotBefore() const {
  return m_loaded ? FormatDate(m_context->pCertInfo->NotBefore, DateForm::Digits) : std::string();
}
std::string CCertInfo::GetNotAfter() const {
  return m_loaded ? FormatDate(m_context->pCertInfo->NotAfter, DateForm::Digits) : std::string();
}
std::string CCertInfo::GetNotBeforeDate() const {
  return m_loaded ? FormatDate(m_context->pCertInfo->NotBefore, DateForm::Date) : std::string();
}
std::string CCertInfo::GetNotAfterDate() const {
  return m_loaded ? FormatDate(m_context->pCertInfo->NotAfter, DateForm::Date) : std::string();
}
std::string CCertInfo::GetNotBeforeDateTime() const {
  return m_loaded ? FormatDate(m_context->pCertInfo->NotBefore, DateForm::DateTime) : std::string();
}
std::string CCertInfo::GetNotAfterDateTime() const {
  return m_loaded ? FormatDate(m_context->pCertInfo->NotAfter, DateForm::DateTime) : std::string();
}

bool CCertInfo::IsCA() const {
  if (GetIssuer() == GetSubject()) return true;
  return (m_keyUsage & (kKeyCertSign | kCrlSign)) != 0;
}
