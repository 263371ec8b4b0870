// CDerCertificate: reader of an X.509 certificate as far as the signing path
// needs it (serial number, issuer and subject names, validity, extensions).
// The structure must be exact: an explicit version, UTCTime validity, and no
// missing or extra bytes in any structure it walks. The parsed elements are
// views into the caller's certificate bytes, which must outlive the reader.
#pragma once

#include "codec/der/der_reader.h"

class CDerCertificate : public CDerReader {
 public:
  // Parses a whole certificate (a SEQUENCE at `input`); 1 on success.
  [[nodiscard]] BYTE Parse(const BYTE* input, int32_t length);

  const CDerReader& Tbs() const { return m_tbs; }
  const CDerElement& Version() const { return m_version; }
  const CDerElement& SerialNumber() const { return m_serial; }
  const CDerReader& SignatureAlgorithm() const { return m_signatureAlgorithm; }
  const CDerReader& Issuer() const { return m_issuer; }
  const CDerElement& NotBefore() const { return m_notBefore; }
  const CDerElement& NotAfter() const { return m_notAfter; }
  const CDerReader& Subject() const { return m_subject; }
  const CDerElement& SubjectPublicKeyInfo() const { return m_publicKeyInfo; }
  bool HasExtensions() const { return m_hasExtensions; }
  const CDerReader& Extensions() const { return m_extensions; }
  const CDerReader& OuterSignatureAlgorithm() const { return m_outerAlgorithm; }
  const CDerElement& SignatureValue() const { return m_signatureValue; }

  void Clear() override;

 private:
  CDerReader m_tbs;
  CDerElement m_version;
  CDerElement m_serial;
  CDerReader m_signatureAlgorithm;
  CDerReader m_issuer;
  CDerReader m_validity;
  CDerElement m_notBefore;
  CDerElement m_notAfter;
  CDerReader m_subject;
  CDerElement m_publicKeyInfo;
  CDerElement m_issuerUniqueId;
  CDerElement m_subjectUniqueId;
  CDerReader m_extensionsWrapper;
  CDerReader m_extensions;
  bool m_hasExtensions = false;
  CDerReader m_outerAlgorithm;
  CDerElement m_signatureValue;
};
