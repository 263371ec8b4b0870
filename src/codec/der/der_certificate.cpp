// CDerCertificate: the X.509 structure walk. Each member is taken as the next
// child of its parent and must parse to exactly that child's length.
#include "codec/der/der_certificate.h"

namespace {

// Parses the next child of `parent` into `element` (header only), requiring
// the element to span the whole child.
template <typename Element>
bool NextInto(CDerReader& parent, Element& element, int32_t tag, BYTE classBits) {
  const BYTE* child = nullptr;
  int32_t length = 0;
  if (!parent.NextChild(&child, &length)) return false;
  return element.ParseHeader(child, length, tag, classBits) && element.EncodedLength() == length;
}

bool NextReader(CDerReader& parent, CDerReader& reader, int32_t tag, BYTE classBits) {
  const BYTE* child = nullptr;
  int32_t length = 0;
  if (!parent.NextChild(&child, &length)) return false;
  return reader.Parse(child, length, tag, classBits) && reader.EncodedLength() == length;
}

bool NextList(CDerReader& parent, CDerReader& reader, int32_t tag, BYTE classBits) {
  const BYTE* child = nullptr;
  int32_t length = 0;
  if (!parent.NextChild(&child, &length)) return false;
  return reader.ParseList(child, length, tag, classBits) && reader.EncodedLength() == length;
}

// AlgorithmIdentifier: an OBJECT IDENTIFIER and at most one universal
// primitive parameters element (NULL, for example), nothing else.
bool ParseAlgorithm(CDerReader& parent, CDerReader& algorithm) {
  if (!NextReader(parent, algorithm, kDerSequence, kDerUniversalConstructed)) return false;
  CDerElement oid, parameters;
  if (!NextInto(algorithm, oid, kDerObjectIdentifier, kDerUniversal)) return false;
  if (!algorithm.AtEnd() && !NextInto(algorithm, parameters, 0, kDerUniversal)) return false;
  return algorithm.AtEnd();
}

}  // namespace

void CDerCertificate::Clear() {
  CDerReader::Clear();
  m_tbs.Clear();
  m_version.Clear();
  m_serial.Clear();
  m_signatureAlgorithm.Clear();
  m_issuer.Clear();
  m_validity.Clear();
  m_notBefore.Clear();
  m_notAfter.Clear();
  m_subject.Clear();
  m_publicKeyInfo.Clear();
  m_issuerUniqueId.Clear();
  m_subjectUniqueId.Clear();
  m_extensionsWrapper.Clear();
  m_extensions.Clear();
  m_hasExtensions = false;
  m_outerAlgorithm.Clear();
  m_signatureValue.Clear();
}

BYTE CDerCertificate::Parse(const BYTE* input, int32_t length) {
  Clear();
  if (!CDerReader::Parse(input, length, kDerSequence, kDerUniversalConstructed)) return 0;

  // TBSCertificate.
  if (!NextReader(*this, m_tbs, kDerSequence, kDerUniversalConstructed)) return 0;
  if (!NextInto(m_tbs, m_version, 0, kDerContextConstructed)) return 0;
  if (!NextInto(m_tbs, m_serial, kDerInteger, kDerUniversal)) return 0;
  if (!ParseAlgorithm(m_tbs, m_signatureAlgorithm)) return 0;
  if (!NextList(m_tbs, m_issuer, kDerSequence, kDerUniversalConstructed)) return 0;
  if (!NextReader(m_tbs, m_validity, kDerSequence, kDerUniversalConstructed)) return 0;
  if (!NextInto(m_validity, m_notBefore, kDerUtcTime, kDerUniversal)) return 0;
  if (!NextInto(m_validity, m_notAfter, kDerUtcTime, kDerUniversal)) return 0;
  if (!m_validity.AtEnd()) return 0;
  if (!NextList(m_tbs, m_subject, kDerSequence, kDerUniversalConstructed)) return 0;
  if (!NextInto(m_tbs, m_publicKeyInfo, kDerSequence, kDerUniversalConstructed)) return 0;
  // The optional tail, in its fixed order: issuerUniqueID [1],
  // subjectUniqueID [2], extensions [3] holding a SEQUENCE of extensions.
  if (m_tbs.PeekIdentifier() == 0xA1 && !NextInto(m_tbs, m_issuerUniqueId, 1, kDerContextConstructed)) return 0;
  if (m_tbs.PeekIdentifier() == 0xA2 && !NextInto(m_tbs, m_subjectUniqueId, 2, kDerContextConstructed)) return 0;
  if (m_tbs.PeekIdentifier() == 0xA3) {
    if (!NextReader(m_tbs, m_extensionsWrapper, 3, kDerContextConstructed)) return 0;
    if (!NextList(m_extensionsWrapper, m_extensions, kDerSequence, kDerUniversalConstructed)) return 0;
    if (!m_extensionsWrapper.AtEnd()) return 0;
    m_hasExtensions = true;
  }
  if (!m_tbs.AtEnd()) return 0;

  // Signature algorithm and value, and nothing after them.
  if (!ParseAlgorithm(*this, m_outerAlgorithm)) return 0;
  if (!NextInto(*this, m_signatureValue, kDerBitString, kDerUniversal)) return 0;
  return AtEnd() ? 1 : 0;
}
