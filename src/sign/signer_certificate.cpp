// The strict certificate walk behind ReadSignerCertificate.
#include "sign/signer_certificate.h"

namespace kv::sign {
namespace {

using kv::der::Span;

// A SEQUENCE whose contents are whole elements and nothing else (a Name).
bool ReadList(Span& parent, Span* contents) {
  if (!parent.Read(kv::der::kSequence, contents)) return false;
  for (Span rest = *contents; !rest.empty();) {
    uint8_t tag;
    if (!rest.ReadAny(&tag, nullptr)) return false;
  }
  return true;
}

// AlgorithmIdentifier: an OBJECT IDENTIFIER and at most one universal
// primitive parameters element (NULL, for example).
bool ReadAlgorithm(Span& parent) {
  Span algorithm, oid;
  if (!parent.Read(kv::der::kSequence, &algorithm) || !algorithm.Read(kv::der::kOid, &oid)) return false;
  uint8_t tag = 0;
  if (!algorithm.empty() && (!algorithm.ReadAny(&tag, nullptr) || (tag & 0xE0) != 0)) return false;
  return algorithm.empty();
}

}  // namespace

bool ReadSignerCertificate(const uint8_t* der, size_t size, SignerCertificateFields* fields) {
  Span input(der, der ? size : 0), certificate, tbs, validity, time, unused;
  if (!input.Read(kv::der::kSequence, &certificate) || !certificate.Read(kv::der::kSequence, &tbs)) return false;

  // version [0..] EXPLICIT: any context-specific constructed element.
  uint8_t tag = 0;
  if (!tbs.ReadAny(&tag, nullptr) || (tag & 0xE0) != 0xA0) return false;
  if (!tbs.Read(kv::der::kInteger, &fields->serial) || !ReadAlgorithm(tbs)) return false;
  if (!ReadList(tbs, &fields->issuer)) return false;
  if (!tbs.Read(kv::der::kSequence, &validity) || !validity.Read(kv::der::kUtcTime, &time) ||
      !validity.Read(kv::der::kUtcTime, &time) || !validity.empty())
    return false;
  if (!ReadList(tbs, &unused) || !tbs.Read(kv::der::kSequence, &unused)) return false;
  // The optional tail, in its fixed order: issuerUniqueID [1],
  // subjectUniqueID [2], extensions [3] holding one SEQUENCE of extensions.
  bool present = false;
  if (!tbs.ReadOptional(kv::der::kContext1, &unused, &present) ||
      !tbs.ReadOptional(kv::der::kContext2, &unused, &present))
    return false;
  Span extensions;
  if (!tbs.ReadOptional(kv::der::kContext3, &extensions, &present)) return false;
  if (present && (!ReadList(extensions, &unused) || !extensions.empty())) return false;
  if (!tbs.empty()) return false;

  // Signature algorithm and value, and nothing after them.
  return ReadAlgorithm(certificate) && certificate.Read(kv::der::kBitString, &unused) && certificate.empty();
}

}  // namespace kv::sign
