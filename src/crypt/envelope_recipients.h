// The recipients of a certificate envelope, taken from the host's text: the
// Base64 of one DER certificate or of a PKCS#7 message carrying certificates,
// with or without armour. Every certificate of a message becomes a recipient
// (authority certificates included); a certificate met twice is taken once.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "kvseam/owned_handles.h"
#include "vocabulary/error_codes.h"

namespace kv::crypt {

// Certificate contexts owned by the list, in the order they were taken.
class CRecipientList {
 public:
  CRecipientList() = default;
  CRecipientList(const CRecipientList&) = delete;
  CRecipientList& operator=(const CRecipientList&) = delete;

  // Takes the certificate unless its encoding is already in the list or it
  // does not decode; true when it was added.
  bool Add(const BYTE* der, DWORD size);
  // The same for a context the list takes over (and frees when skipped).
  bool Add(kv::OwnedCertificate cert);

  DWORD Count() const { return static_cast<DWORD>(m_certs.size()); }
  PCCERT_CONTEXT* Contexts() { return m_certs.data(); }

 private:
  std::vector<PCCERT_CONTEXT> m_certs;  // the array an envelope's recipients are given as
  std::vector<kv::OwnedCertificate> m_owned;
};

// Fills `recipients` from the host's text. 0 on success; 5040 for text that
// is neither form or yields no recipient, with the platform's number in
// `platformError` where a platform call said so.
ErrorCode ReadRecipients(const std::string& certB64, CRecipientList* recipients, DWORD* platformError);

}  // namespace kv::crypt
