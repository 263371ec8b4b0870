// Assembly of the SignedData message, step by step; a failing step reports
// its number with ERR_ASN1_ENCODE so a support call can tell where it broke.
#include "sign/pkcs7_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/der/der_certificate.h"
#include "codec/der/der_element.h"
#include "codec/digests.h"

namespace kv::sign {
namespace {

constexpr char kOidSignedData[] = "1.2.840.113549.1.7.2";
constexpr char kOidData[] = "1.2.840.113549.1.7.1";
constexpr char kOidRsaEncryption[] = "1.2.840.113549.1.1.1";
constexpr char kOidContentType[] = "1.2.840.113549.1.9.3";
constexpr char kOidMessageDigest[] = "1.2.840.113549.1.9.4";
constexpr char kOidSigningTime[] = "1.2.840.113549.1.9.5";
// RFC 5035: id-aa-signingCertificateV2.
constexpr char kOidSigningCertificateV2[] = "1.2.840.113549.1.9.16.2.47";

constexpr BYTE kOne = 1;
// The step number of the signing-certificate attribute, after those of the
// three attributes and the signature algorithm.
constexpr DWORD kStepSigningCertificate = 12;

Pkcs7Failure Asn1Failure(DWORD step) { return Pkcs7Failure{ERR_ASN1_ENCODE, step}; }

// Appends an element whose content is given.
bool Put(CDerBlob& out, int32_t tag, BYTE cls, const BYTE* content, DWORD length) {
  CDerElement e;
  return e.SetValue(content, static_cast<int32_t>(length), tag, false) && e.EncodeTo(&out, tag, cls);
}
bool Put(CDerBlob& out, int32_t tag, BYTE cls, const CDerBlob& content) {
  return Put(out, tag, cls, content.Bytes(), content.Length());
}
bool PutOid(CDerBlob& out, const char* oid) {
  CDerElement e;
  return e.SetOid(oid) && e.EncodeTo(&out, kDerObjectIdentifier, kDerUniversal);
}
bool PutInteger(CDerBlob& out, const BYTE* bytes, int32_t length) {
  CDerElement e;
  return e.SetInteger(bytes, length) && e.EncodeTo(&out, kDerInteger, kDerUniversal);
}
// AlgorithmIdentifier with NULL parameters.
bool PutAlgorithm(CDerBlob& out, const char* oid) {
  CDerBlob inner;
  return PutOid(inner, oid) && Put(inner, kDerNull, kDerUniversal, nullptr, 0) &&
         Put(out, kDerSequence, kDerUniversalConstructed, inner);
}
// Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET { value } }.
bool PutAttribute(CDerBlob& out, const char* type, const CDerBlob& value) {
  CDerBlob attribute;
  return PutOid(attribute, type) && Put(attribute, kDerSet, kDerUniversalConstructed, value) &&
         Put(out, kDerSequence, kDerUniversalConstructed, attribute);
}

// ESS SigningCertificateV2 naming the signer certificate: its SHA-256 hash
// (the hash algorithm left out, SHA-256 being the default) and IssuerSerial
// with the issuer as a directoryName, RFC 5035.
bool PutSigningCertificateV2(CDerBlob& out, const BYTE* certDer, int32_t certLength, const CDerBlob& issuer,
                             const CDerBlob& serial) {
  CSha256Digest hash;
  if (!hash.Compute(certDer, certLength)) return false;
  CDerBlob name, directoryName, issuerSerial, certIdFields, essCertId, certs, signingCertificate;
  return Put(name, kDerSequence, kDerUniversalConstructed, issuer) &&
         Put(directoryName, 4, kDerContextConstructed, name) &&
         // IssuerSerial { issuer GeneralNames, serialNumber }
         Put(issuerSerial, kDerSequence, kDerUniversalConstructed, directoryName) &&
         Put(issuerSerial, kDerInteger, kDerUniversal, serial) &&
         // ESSCertIDv2 { certHash, issuerSerial }
         Put(certIdFields, kDerOctetString, kDerUniversal, hash.Data(), static_cast<DWORD>(hash.Size())) &&
         Put(certIdFields, kDerSequence, kDerUniversalConstructed, issuerSerial) &&
         // SigningCertificateV2 { certs SEQUENCE OF ESSCertIDv2 }
         Put(essCertId, kDerSequence, kDerUniversalConstructed, certIdFields) &&
         Put(certs, kDerSequence, kDerUniversalConstructed, essCertId) &&
         Put(signingCertificate, kDerSequence, kDerUniversalConstructed, certs) &&
         PutAttribute(out, kOidSigningCertificateV2, signingCertificate);
}

// DER orders a SET OF by the encodings of its members, compared as octet
// strings with the shorter padded with zero bytes (X.690, 11.6). The three
// attributes that SHA-1 and MD5 messages carry are of fixed sizes that are
// already in this order, so sorting leaves those messages as they were.
bool DerSetOrder(const CDerBlob* a, const CDerBlob* b) {
  const DWORD common = std::min(a->Length(), b->Length());
  const int compared = common ? std::memcmp(a->Bytes(), b->Bytes(), common) : 0;
  if (compared != 0) return compared < 0;
  const CDerBlob* longer = a->Length() > b->Length() ? a : b;
  bool nonZeroTail = false;
  for (DWORD i = common; i < longer->Length(); ++i) nonZeroTail = nonZeroTail || longer->Bytes()[i] != 0;
  return nonZeroTail && longer == b;
}

}  // namespace

Pkcs7Failure CPkcs7Builder::Prepare(const BYTE* certDer, int32_t certLength, const CByteBuffer& contentDigest,
                                    const SignDigest& digest, bool withAttributes) {
  m_digest = digest;
  m_withAttributes = withAttributes;
  m_issuer.Clear();
  m_serial.Clear();
  m_attributes.Clear();
  m_valueToSign.Clear();

  CDerCertificate certificate;
  if (!certDer || certLength <= 0 || !certificate.Parse(certDer, certLength))
    return Pkcs7Failure{ERR_CERT_FORMAT, 0};
  if (contentDigest.Empty()) return Asn1Failure(3);

  // An empty issuer Name has no content bytes: assign an empty copy.
  const CDerReader& issuer = certificate.Issuer();
  const BYTE* issuerContent = issuer.Content();
  if (!m_issuer.Assign(issuerContent ? issuerContent : &kOne, issuerContent ? issuer.ContentLength() : 0))
    return Asn1Failure(5);
  const CDerElement& serial = certificate.SerialNumber();
  if (!serial.Content() || !m_serial.Assign(serial.Content(), serial.ContentLength())) return Asn1Failure(6);

  if (withAttributes) {
    CDerBlob contentType, signingTime, messageDigest, signingCertificate, value;
    if (!PutOid(value, kOidData) || !PutAttribute(contentType, kOidContentType, value)) return Asn1Failure(8);
    SYSTEMTIME now;
    GetSystemTime(&now);
    char utc[32];
    std::snprintf(utc, sizeof utc, "%02d%02d%02d%02d%02d%02dZ", now.wYear - 2000, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    value.Clear();
    if (!Put(value, kDerUtcTime, kDerUniversal, reinterpret_cast<const BYTE*>(utc), 13) ||
        !PutAttribute(signingTime, kOidSigningTime, value))
      return Asn1Failure(9);
    value.Clear();
    if (!Put(value, kDerOctetString, kDerUniversal, contentDigest.Data(), static_cast<DWORD>(contentDigest.Size())) ||
        !PutAttribute(messageDigest, kOidMessageDigest, value))
      return Asn1Failure(10);
    const CDerBlob* attributes[4] = {&contentType, &signingTime, &messageDigest, &signingCertificate};
    size_t count = 3;
    if (digest.IsSha2()) {
      if (!PutSigningCertificateV2(signingCertificate, certDer, certLength, m_issuer, m_serial))
        return Asn1Failure(kStepSigningCertificate);
      count = 4;
    }
    std::stable_sort(attributes, attributes + count, DerSetOrder);
    for (size_t i = 0; i < count; ++i) {
      if (!m_attributes.Append(attributes[i]->Bytes(), static_cast<int32_t>(attributes[i]->Length())))
        return Asn1Failure(21);
    }

    // The signature covers the attributes encoded as a SET OF.
    CDerBlob set;
    CByteBuffer attributesDigest;
    if (!Put(set, kDerSet, kDerUniversalConstructed, m_attributes) ||
        !digest.Compute(set.Bytes(), static_cast<int32_t>(set.Length()), &attributesDigest) ||
        !m_valueToSign.Append(attributesDigest.Data(), attributesDigest.Size()))
      return Asn1Failure(21);
  } else if (!m_valueToSign.Append(contentDigest.Data(), contentDigest.Size())) {
    return Asn1Failure(3);
  }
  return Pkcs7Failure{};
}

bool CPkcs7Builder::AddCertificate(const BYTE* der, DWORD length) {
  return der && length > 0 && m_certificates.Append(der, static_cast<int32_t>(length));
}

Pkcs7Failure CPkcs7Builder::Finish(const CByteBuffer& signature, const CByteBuffer& content, bool detached,
                                   std::string* base64) {
  const char* digestOid = m_digest.Pkcs7Oid();

  // SignerInfo.
  CDerBlob signerInfo, issuerAndSerial;
  if (!PutInteger(signerInfo, &kOne, 1)) return Asn1Failure(4);
  if (!Put(issuerAndSerial, kDerSequence, kDerUniversalConstructed, m_issuer)) return Asn1Failure(5);
  if (!Put(issuerAndSerial, kDerInteger, kDerUniversal, m_serial)) return Asn1Failure(6);
  if (!Put(signerInfo, kDerSequence, kDerUniversalConstructed, issuerAndSerial)) return Asn1Failure(6);
  if (!PutAlgorithm(signerInfo, digestOid)) return Asn1Failure(7);
  if (m_withAttributes && !Put(signerInfo, 0, kDerContextConstructed, m_attributes)) return Asn1Failure(21);
  if (!PutAlgorithm(signerInfo, kOidRsaEncryption)) return Asn1Failure(11);
  if (signature.Empty() ||
      !Put(signerInfo, kDerOctetString, kDerUniversal, signature.Data(), static_cast<DWORD>(signature.Size())))
    return Asn1Failure(22);

  // SignedData.
  CDerBlob signedData, digestAlgorithms, contentInfo;
  if (!PutInteger(signedData, &kOne, 1)) return Asn1Failure(34);
  if (!PutAlgorithm(digestAlgorithms, digestOid)) return Asn1Failure(35);
  if (!Put(signedData, kDerSet, kDerUniversalConstructed, digestAlgorithms)) return Asn1Failure(37);
  if (!PutOid(contentInfo, kOidData)) return Asn1Failure(38);
  if (!detached) {
    if (content.Empty()) return Asn1Failure(32);
    CDerBlob octets;
    if (!Put(octets, kDerOctetString, kDerUniversal, content.Data(), static_cast<DWORD>(content.Size())))
      return Asn1Failure(40);
    if (!Put(contentInfo, 0, kDerContextConstructed, octets)) return Asn1Failure(41);
  }
  if (!Put(signedData, kDerSequence, kDerUniversalConstructed, contentInfo)) return Asn1Failure(41);
  if (m_withCertificates) {
    if (m_certificates.Length() == 0) return Asn1Failure(52);
    if (!Put(signedData, 0, kDerContextConstructed, m_certificates)) return Asn1Failure(55);
  }
  CDerBlob signerInfoSeq;
  if (!Put(signerInfoSeq, kDerSequence, kDerUniversalConstructed, signerInfo)) return Asn1Failure(42);
  if (!Put(signedData, kDerSet, kDerUniversalConstructed, signerInfoSeq)) return Asn1Failure(43);

  // ContentInfo { signedData, [0] EXPLICIT SignedData }.
  CDerBlob signedDataSeq, explicitContent, outer, message;
  if (!Put(signedDataSeq, kDerSequence, kDerUniversalConstructed, signedData)) return Asn1Failure(23);
  if (!PutOid(outer, kOidSignedData)) return Asn1Failure(24);
  if (!Put(outer, 0, kDerContextConstructed, signedDataSeq)) return Asn1Failure(25);
  if (!Put(message, kDerSequence, kDerUniversalConstructed, outer)) return Asn1Failure(26);

  CByteBuffer text;
  if (!text.EncodeBase64(message.Bytes(), static_cast<int32_t>(message.Length())))
    return Pkcs7Failure{ERR_MEM_ALLOC, 0};
  *base64 = text.c_str();
  return Pkcs7Failure{};
}

}  // namespace kv::sign
