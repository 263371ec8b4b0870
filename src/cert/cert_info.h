// CCertInfo: one X.509 certificate, read through the platform's certificate
// context, rendered as the texts and numbers the host sees (names, serial,
// fingerprint, local-time dates, key usage) and classified as an authority
// certificate or not.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "codec/byte_buffer.h"
#include "kvseam/owned_handles.h"

// Encoding type of every certificate call.
inline constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class CCertInfo {
 public:
  CCertInfo() = default;
  CCertInfo(const BYTE* der, int32_t length);
  explicit CCertInfo(PCCERT_CONTEXT context);
  ~CCertInfo();
  CCertInfo(const CCertInfo&) = delete;
  CCertInfo& operator=(const CCertInfo&) = delete;

  // Copies the bytes and makes an owned context from them.
  bool LoadEncoded(const BYTE* der, int32_t length);
  // Reads a context that stays owned by the caller.
  bool Attach(PCCERT_CONTEXT context);
  void Reset();

  bool IsLoaded() const { return m_loaded; }
  DWORD LastError() const { return m_lastError; }
  PCCERT_CONTEXT Context() const { return m_context; }
  const CByteBuffer& Encoded() const { return m_encoded; }

  std::string GetBase64() const;
  std::string GetSubject() const;
  std::string GetIssuer() const;
  std::string GetSubjectCN() const;
  std::string GetIssuerCN() const;
  std::string GetSerial() const;
  std::string GetFingerprint() const;
  std::string GetNotBefore() const;
  std::string GetNotAfter() const;
  std::string GetNotBeforeDate() const;
  std::string GetNotAfterDate() const;
  std::string GetNotBeforeDateTime() const;
  std::string GetNotAfterDateTime() const;
  int32_t GetKeyUsage() const { return m_loaded ? m_keyUsage : 0; }
  bool IsCA() const;

 private:
  enum class DateForm { Digits, Date, DateTime };
  std::string Name(bool issuer) const;
  std::string CommonName(bool issuer) const;
  std::string FormatDate(const FILETIME& utc, DateForm form) const;
  void ReadKeyUsage();

  CByteBuffer m_encoded;
  int32_t m_keyUsage = 0;
  bool m_loaded = false;
  DWORD m_lastError = 0;
  kv::OwnedCertificate m_created;     // the context LoadEncoded made
  PCCERT_CONTEXT m_context = nullptr;  // m_created's, or the one attached
};
