// EnvelopedData read element by element with the stand-in's DER reader.
#include "crypt/envelope_parse.h"

#include "ossl/owned.h"

namespace kv::platform::crypt {
namespace {

constexpr uint8_t kImplicit0 = 0x80;  // [0] IMPLICIT, primitive
constexpr char kEnvelopedOid[] = "1.2.840.113549.1.7.3";

bool Failed(const der::Span& at, DWORD* error) {
  *error = static_cast<DWORD>(at.error() ? at.error() : CRYPT_E_ASN1_CORRUPT);
  return false;
}

// KeyTransRecipientInfo { version, rid, keyEncryptionAlgorithm, encryptedKey }
// where rid is IssuerAndSerialNumber or [0] IMPLICIT SubjectKeyIdentifier.
bool ReadKeyTrans(der::Span info, KeyTransRecipient* out, DWORD* error) {
  der::Span version, id, algorithm, oid;
  if (!info.Read(der::kInteger, &version)) return Failed(info, error);
  if (info.PeekTag() == der::kSequence) {
    if (!info.Read(der::kSequence, &id)) return Failed(info, error);
    der::Span name;
    if (!id.Read(der::kSequence, &name, &out->issuer)) return Failed(id, error);
    if (!id.Read(der::kInteger, &out->serial)) return Failed(id, error);
    out->idChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
  } else {
    if (!info.Read(kImplicit0, &out->keyId)) return Failed(info, error);
    out->idChoice = CERT_ID_KEY_IDENTIFIER;
  }
  if (!info.Read(der::kSequence, &algorithm)) return Failed(info, error);
  if (!algorithm.Read(der::kOid, &oid)) return Failed(algorithm, error);
  if (!der::OidToText(oid, &out->keyAlgorithm)) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    return false;
  }
  if (!info.Read(der::kOctetString, &out->encryptedKey)) return Failed(info, error);
  return true;
}

// EncryptedContentInfo { contentType, contentEncryptionAlgorithm,
// [0] IMPLICIT encryptedContent OPTIONAL }; the content may come as one
// string or, constructed, in pieces.
bool ReadEncryptedContent(der::Span info, Envelope* out, DWORD* error) {
  der::Span type, algorithm, oid;
  if (!info.Read(der::kOid, &type)) return Failed(info, error);
  if (!info.Read(der::kSequence, &algorithm)) return Failed(info, error);
  if (!algorithm.Read(der::kOid, &oid)) return Failed(algorithm, error);
  if (!der::OidToText(oid, &out->contentAlgorithm)) {
    *error = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    return false;
  }
  if (!algorithm.empty() && !algorithm.ReadAny(nullptr, nullptr, &out->parameters)) return Failed(algorithm, error);
  der::Span content;
  if (info.PeekTag() == kImplicit0) {
    if (!info.Read(kImplicit0, &content)) return Failed(info, error);
    out->encryptedContent = content;
    out->hasContent = true;
  } else if (info.PeekTag() == der::kContext0) {
    if (!info.Read(der::kContext0, &content)) return Failed(info, error);
    while (!content.empty()) {
      der::Span piece;
      if (!content.Read(der::kOctetString, &piece)) return Failed(content, error);
      out->joinedContent.insert(out->joinedContent.end(), piece.data(), piece.data() + piece.size());
    }
    out->encryptedContent = der::Span(out->joinedContent.data(), out->joinedContent.size());
    out->hasContent = true;
  }
  return true;
}

// ContentInfo { envelopedData, [0] EnvelopedData { version,
// [0] originatorInfo OPTIONAL, recipientInfos, encryptedContentInfo,
// [1] unprotectedAttrs OPTIONAL } }
bool ReadDer(Envelope* out, DWORD* error) {
  der::Span in(out->encoding.data(), out->encoding.size()), contentInfo, type, wrapped, envelope, version, recipients,
      encrypted;
  std::string typeText;
  if (!in.Read(der::kSequence, &contentInfo)) return Failed(in, error);
  if (!contentInfo.Read(der::kOid, &type)) return Failed(contentInfo, error);
  if (!der::OidToText(type, &typeText) || typeText != kEnvelopedOid) {
    *error = static_cast<DWORD>(CRYPT_E_UNEXPECTED_MSG_TYPE);
    return false;
  }
  if (!contentInfo.Read(der::kContext0, &wrapped)) return Failed(contentInfo, error);
  if (!wrapped.Read(der::kSequence, &envelope)) return Failed(wrapped, error);
  if (!envelope.Read(der::kInteger, &version)) return Failed(envelope, error);
  bool present = false;
  if (!envelope.ReadOptional(der::kContext0, nullptr, &present)) return Failed(envelope, error);
  if (!envelope.Read(der::kSet, &recipients)) return Failed(envelope, error);
  while (!recipients.empty()) {
    uint8_t tag = 0;
    der::Span info;
    if (!recipients.ReadAny(&tag, &info)) return Failed(recipients, error);
    if (tag != der::kSequence) continue;
    KeyTransRecipient recipient;
    if (!ReadKeyTrans(info, &recipient, error)) return false;
    out->recipients.push_back(recipient);
  }
  if (!envelope.Read(der::kSequence, &encrypted)) return Failed(envelope, error);
  return ReadEncryptedContent(encrypted, out, error);
}

// The same message with definite lengths, by OpenSSL's CMS codec; false when
// it cannot read the bytes either.
bool BerToDer(const BYTE* data, size_t size, der::Bytes* out) {
  const unsigned char* p = data;
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(size)));
  if (!cms) return false;
  unsigned char* der = nullptr;
  const int length = i2d_CMS_ContentInfo(cms.get(), &der);
  if (length <= 0) return false;
  out->assign(der, der + length);
  OPENSSL_free(der);
  return true;
}

}  // namespace

bool ReadEnvelope(const BYTE* data, size_t size, Envelope* out, DWORD* error) {
  out->encoding.assign(data, data + size);
  if (ReadDer(out, error)) return true;
  // Indefinite lengths are the one thing the DER reader calls corrupt that a
  // BER message may hold.
  if (*error != static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT)) return false;
  der::Bytes definite;
  if (!BerToDer(data, size, &definite) || definite == out->encoding) return false;
  out->recipients.clear();
  out->contentAlgorithm.clear();
  out->parameters = der::Span();
  out->hasContent = false;
  out->encryptedContent = der::Span();
  out->joinedContent.clear();
  out->encoding = std::move(definite);
  return ReadDer(out, error);
}

}  // namespace kv::platform::crypt
