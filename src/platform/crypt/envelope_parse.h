// Reading CMS EnvelopedData (RFC 5652) the way Windows' message functions
// read it: key-transport recipients named either by issuer and serial number
// (version 0, as PKCS#7 writes them) or by subject key identifier (version 2),
// the content algorithm and the encrypted content. Other kinds of recipient
// (key agreement, key encryption keys, passwords) are passed over: no key of
// a certificate store opens them.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "der/der_builder.h"
#include "der/der_span.h"

namespace kv::platform::crypt {

struct KeyTransRecipient {
  DWORD idChoice = 0;       // CERT_ID_ISSUER_SERIAL_NUMBER or CERT_ID_KEY_IDENTIFIER
  der::Span issuer;         // the whole Name element
  der::Span serial;         // INTEGER contents, most significant byte first
  der::Span keyId;          // subjectKeyIdentifier octets
  std::string keyAlgorithm;  // dotted object identifier
  der::Span encryptedKey;
};

// The spans point into `encoding`, which the envelope owns; it moves with
// the envelope and is never copied.
struct Envelope {
  Envelope() = default;
  Envelope(const Envelope&) = delete;
  Envelope& operator=(const Envelope&) = delete;

  der::Bytes encoding;  // the message as DER
  std::vector<KeyTransRecipient> recipients;
  std::string contentAlgorithm;  // dotted object identifier
  der::Span parameters;          // the whole parameters element; empty when absent
  bool hasContent = false;       // false for detached content
  der::Span encryptedContent;    // into `encoding`, or into `joinedContent`
  der::Bytes joinedContent;      // the content when it came in pieces
};

// Reads a ContentInfo whose content type is EnvelopedData. BER with
// indefinite lengths (as streaming encoders write) is re-encoded as DER
// first. On failure false with the decoding error in *error
// (CRYPT_E_ASN1_EOD for a truncated message, CRYPT_E_ASN1_BADTAG,
// CRYPT_E_ASN1_CORRUPT).
bool ReadEnvelope(const BYTE* data, size_t size, Envelope* out, DWORD* error);

}  // namespace kv::platform::crypt
