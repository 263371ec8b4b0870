// Assembly of the SignedData message, step by step; a failing step reports
// its number with ERR_ASN1_ENCODE so a support call can tell where it broke.
// The numbers are those support has always been given: keep them.
#include "sign/pkcs7_builder.h"

#include <cstdio>

#include "codec/digests.h"
#include "sign/signer_certificate.h"

namespace kv::sign {
namespace {

using kv::der::Builder;

constexpr char kOidSignedData[] = "1.2.840.113549.1.7.2";
constexpr char kOidData[] = "1.2.840.113549.1.7.1";
constexpr char kOidRsaEncryption[] = "1.2.840.113549.1.1.1";
constexpr char kOidContentType[] = "1.2.840.113549.1.9.3";
constexpr char kOidMessageDigest[] = "1.2.840.113549.1.9.4";
constexpr char kOidSigningTime[] = "1.2.840.113549.1.9.5";
// RFC 5035: id-aa-signingCertificateV2.
constexpr char kOidSigningCertificateV2[] = "1.2.840.113549.1.9.16.2.47";
// GeneralName's directoryName [4], constructed.
constexpr uint8_t kDirectoryName = 0xA4;

// The steps' numbers.
enum Step : DWORD {
  kStepContentDigest = 3,
  kStepSerial = 6,
  kStepDigestAlgorithm = 7,
  kStepContentType = 8,
  kStepSigningTime = 9,
  kStepMessageDigest = 10,
  kStepSignatureAlgorithm = 11,
  kStepSigningCertificate = 12,  // after the three attributes and the signature algorithm
  kStepAttributes = 21,
  kStepSignature = 22,
  kStepSignedDataType = 24,
  kStepMessage = 26,
  kStepContent = 32,
  kStepCertificates = 52,
};

Pkcs7Failure Asn1Failure(DWORD step) { return Pkcs7Failure{ERR_ASN1_ENCODE, step}; }

// AlgorithmIdentifier with NULL parameters.
bool AddAlgorithm(Builder& b, const char* oid) {
  b.Open(kv::der::kSequence);
  const bool added = b.AddOid(oid);
  b.AddNull();
  b.Close();
  return added;
}

// Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET { value } },
// with the value written by `value` into the open SET.
template <typename Value>
bool AddAttribute(Builder& b, const char* type, Value value) {
  b.Open(kv::der::kSequence);
  bool added = b.AddOid(type);
  b.Open(kv::der::kSet);
  added = value() && added;
  b.Close();
  b.Close();
  return added;
}

// ESS SigningCertificateV2 naming the signer certificate: its SHA-256 hash
// (the hash algorithm left out, SHA-256 being the default) and IssuerSerial
// with the issuer as a directoryName, RFC 5035.
bool AddSigningCertificateV2(Builder& b, const BYTE* certDer, int32_t certLength, const kv::der::Bytes& issuer,
                             const kv::der::Bytes& serial) {
  CSha256Digest hash;
  if (!hash.Compute(certDer, certLength)) return false;
  return AddAttribute(b, kOidSigningCertificateV2, [&] {
    b.Open(kv::der::kSequence);  // SigningCertificateV2
    b.Open(kv::der::kSequence);  // certs SEQUENCE OF ESSCertIDv2
    b.Open(kv::der::kSequence);  // ESSCertIDv2 { certHash, issuerSerial }
    b.Add(kv::der::kOctetString, hash.Data(), hash.Size());
    b.Open(kv::der::kSequence);  // IssuerSerial { issuer GeneralNames, serialNumber }
    b.Open(kv::der::kSequence);
    b.Open(kDirectoryName);
    b.Add(kv::der::kSequence, issuer);
    b.Close();
    b.Close();
    b.Add(kv::der::kInteger, serial);
    for (int i = 0; i < 4; ++i) b.Close();
    return true;
  });
}

}  // namespace

Pkcs7Failure CPkcs7Builder::Prepare(const BYTE* certDer, int32_t certLength, const CByteBuffer& contentDigest,
                                    const SignDigest& digest, bool withAttributes) {
  m_digest = digest;
  m_withAttributes = withAttributes;
  m_issuer.clear();
  m_serial.clear();
  m_attributeSet.clear();
  m_valueToSign.Clear();

  SignerCertificateFields fields;
  if (!certDer || certLength <= 0 || !ReadSignerCertificate(certDer, size_t(certLength), &fields))
    return Pkcs7Failure{ERR_CERT_FORMAT, 0};
  if (contentDigest.Empty()) return Asn1Failure(kStepContentDigest);
  m_issuer = fields.issuer.ToVector();
  if (fields.serial.empty()) return Asn1Failure(kStepSerial);
  m_serial = fields.serial.ToVector();

  if (!withAttributes) {
    if (!m_valueToSign.Append(contentDigest.Data(), contentDigest.Size())) return Asn1Failure(kStepContentDigest);
    return Pkcs7Failure{};
  }
  // DER orders a SET OF by its members' encodings; the three attributes of
  // SHA-1 and MD5 messages are of fixed sizes already in that order, so
  // sorting leaves those messages as they always were.
  Builder set;
  set.OpenSetOf();
  if (!AddAttribute(set, kOidContentType, [&] { return set.AddOid(kOidData); }))
    return Asn1Failure(kStepContentType);
  SYSTEMTIME now;
  GetSystemTime(&now);
  char utc[32];
  std::snprintf(utc, sizeof utc, "%02d%02d%02d%02d%02d%02dZ", now.wYear - 2000, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  if (!AddAttribute(set, kOidSigningTime, [&] {
        set.Add(kv::der::kUtcTime, reinterpret_cast<const BYTE*>(utc), 13);
        return true;
      }))
    return Asn1Failure(kStepSigningTime);
  if (!AddAttribute(set, kOidMessageDigest, [&] {
        set.Add(kv::der::kOctetString, contentDigest.Data(), contentDigest.Size());
        return true;
      }))
    return Asn1Failure(kStepMessageDigest);
  if (digest.IsSha2() && !AddSigningCertificateV2(set, certDer, certLength, m_issuer, m_serial))
    return Asn1Failure(kStepSigningCertificate);
  set.Close();

  // The signature covers the attributes encoded as a SET OF.
  CByteBuffer attributesDigest;
  if (!set.Finish(&m_attributeSet) ||
      !digest.Compute(m_attributeSet.data(), static_cast<int32_t>(m_attributeSet.size()), &attributesDigest) ||
      !m_valueToSign.Append(attributesDigest.Data(), attributesDigest.Size()))
    return Asn1Failure(kStepAttributes);
  return Pkcs7Failure{};
}

bool CPkcs7Builder::AddCertificate(const BYTE* der, DWORD length) {
  if (!der || length == 0) return false;
  m_certificates.insert(m_certificates.end(), der, der + length);
  return true;
}

Pkcs7Failure CPkcs7Builder::Finish(const CByteBuffer& signature, const CByteBuffer& content, bool detached,
                                   std::string* base64) {
  const char* digestOid = m_digest.Pkcs7Oid();
  kv::der::Bytes digestOidContent;
  if (!digestOid || !kv::der::TextToOid(digestOid, &digestOidContent)) return Asn1Failure(kStepDigestAlgorithm);
  if (signature.Empty()) return Asn1Failure(kStepSignature);
  if (!detached && content.Empty()) return Asn1Failure(kStepContent);
  if (m_withCertificates && m_certificates.empty()) return Asn1Failure(kStepCertificates);

  // ContentInfo { signedData, [0] EXPLICIT SignedData }.
  Builder b;
  b.Open(kv::der::kSequence);
  if (!b.AddOid(kOidSignedData)) return Asn1Failure(kStepSignedDataType);
  b.Open(kv::der::kContext0);
  b.Open(kv::der::kSequence);
  b.AddSmallInteger(1);
  b.Open(kv::der::kSet);
  AddAlgorithm(b, digestOid);
  b.Close();
  b.Open(kv::der::kSequence);
  b.AddOid(kOidData);
  if (!detached) {
    b.Open(kv::der::kContext0);
    b.Add(kv::der::kOctetString, content.Data(), content.Size());
    b.Close();
  }
  b.Close();
  if (m_withCertificates) b.Add(kv::der::kContext0, m_certificates);

  // signerInfos SET { SignerInfo }.
  b.Open(kv::der::kSet);
  b.Open(kv::der::kSequence);
  b.AddSmallInteger(1);
  b.Open(kv::der::kSequence);  // IssuerAndSerialNumber
  b.Add(kv::der::kSequence, m_issuer);
  b.Add(kv::der::kInteger, m_serial);
  b.Close();
  AddAlgorithm(b, digestOid);
  if (m_withAttributes) {
    // [0] IMPLICIT: the SET OF's contents under the context tag.
    kv::der::Span set(m_attributeSet.data(), m_attributeSet.size()), attributes;
    if (!set.Read(kv::der::kSet, &attributes)) return Asn1Failure(kStepAttributes);
    b.Add(kv::der::kContext0, attributes.data(), attributes.size());
  }
  if (!AddAlgorithm(b, kOidRsaEncryption)) return Asn1Failure(kStepSignatureAlgorithm);
  b.Add(kv::der::kOctetString, signature.Data(), signature.Size());
  for (int i = 0; i < 5; ++i) b.Close();

  kv::der::Bytes message;
  if (!b.Finish(&message)) return Asn1Failure(kStepMessage);
  CByteBuffer text;
  if (!text.EncodeBase64(message.data(), static_cast<int32_t>(message.size()))) return Pkcs7Failure{ERR_MEM_ALLOC, 0};
  *base64 = text.c_str();
  return Pkcs7Failure{};
}

}  // namespace kv::sign
