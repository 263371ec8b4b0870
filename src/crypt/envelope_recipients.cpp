// Reading the recipients of a certificate envelope from the host's text:
// armour removal, the PKCS#7-or-certificate decision, duplicates skipped.
#include "crypt/envelope_recipients.h"

#include <cstring>

#include "cert/cert_info.h"
#include "codec/byte_buffer.h"

namespace kv::crypt {
namespace {

// The armour lines the host's text may carry; other labels are not removed.
const char* const kArmourLines[] = {
    "-----BEGIN CERTIFICATE-----",
    "-----END CERTIFICATE-----",
    "-----BEGIN PKCS #7-----",
    "-----END PKCS #7-----",
};

void RemoveAll(std::string* text, const char* what) {
  const size_t length = std::strlen(what);
  for (size_t at = text->find(what); at != std::string::npos; at = text->find(what, at)) text->erase(at, length);
}

std::string RemoveArmour(const std::string& text) {
  if (text.compare(0, 5, "-----") != 0) return text;
  std::string bare = text;
  for (const char* line : kArmourLines) RemoveAll(&bare, line);
  RemoveAll(&bare, "\n");
  RemoveAll(&bare, "\r");
  return bare;
}

// Every certificate a PKCS#7 message carries. False when the bytes are no
// PKCS#7 message at all; otherwise `code` tells how reading them went.
bool ReadMessageCertificates(const CByteBuffer& der, CRecipientList* recipients, ErrorCode* code,
                             DWORD* platformError) {
  kv::OwnedMessage message(CryptMsgOpenToDecode(kCertEncoding, 0, 0, 0, nullptr, nullptr));
  const HCRYPTMSG msg = message.get();
  if (!msg || !CryptMsgUpdate(msg, der.Data(), static_cast<DWORD>(der.Size()), TRUE)) return false;
  *code = ERR_SUCCESS;
  DWORD count = 0;
  DWORD size = sizeof(count);
  if (!CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &count, &size)) {
    *platformError = GetLastError();
    *code = ERR_CERT_FORMAT;
  } else if (count == 0) {
    *code = ERR_CERT_FORMAT;
  }
  for (DWORD i = 0; *code == ERR_SUCCESS && i < count; ++i) {
    DWORD certSize = 0;
    if (!CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, nullptr, &certSize) || certSize == 0) continue;
    std::vector<BYTE> cert(certSize);
    if (!CryptMsgGetParam(msg, CMSG_CERT_PARAM, i, cert.data(), &certSize)) continue;
    CCertInfo info;
    if (info.LoadEncoded(cert.data(), static_cast<int32_t>(certSize))) recipients->Add(cert.data(), certSize);
  }
  return true;
}

}  // namespace

bool CRecipientList::Add(const BYTE* der, DWORD size) {
  return Add(kv::OwnedCertificate(CertCreateCertificateContext(kCertEncoding, der, size)));
}

bool CRecipientList::Add(kv::OwnedCertificate cert) {
  if (!cert) return false;
  for (PCCERT_CONTEXT taken : m_certs) {
    if (taken->cbCertEncoded == cert.get()->cbCertEncoded &&
        std::memcmp(taken->pbCertEncoded, cert.get()->pbCertEncoded, cert.get()->cbCertEncoded) == 0)
      return false;
  }
  m_certs.push_back(cert.get());
  m_owned.push_back(std::move(cert));
  return true;
}

ErrorCode ReadRecipients(const std::string& certB64, CRecipientList* recipients, DWORD* platformError) {
  *platformError = 0;
  const std::string bare = RemoveArmour(certB64);
  // A DER SEQUENCE always begins "M" in Base64; anything else is not worth decoding.
  if (bare.empty() || bare[0] != 'M') return ERR_CERT_FORMAT;
  CByteBuffer der;
  if (!der.DecodeBase64(bare.c_str())) return ERR_CERT_FORMAT;

  ErrorCode code = ERR_SUCCESS;
  if (!ReadMessageCertificates(der, recipients, &code, platformError)) {
    kv::OwnedCertificate cert(CertCreateCertificateContext(kCertEncoding, der.Data(), static_cast<DWORD>(der.Size())));
    if (!cert) {
      *platformError = GetLastError();
      return ERR_CERT_FORMAT;
    }
    recipients->Add(std::move(cert));
  }
  if (code != ERR_SUCCESS) return code;
  return recipients->Count() == 0 ? ERR_CERT_FORMAT : ERR_SUCCESS;
}

}  // namespace kv::crypt
