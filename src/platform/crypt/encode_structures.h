// What the stand-in's encoding, decoding and certificate-signing calls
// share: the structure ids they serve, the CERT_RDN_ATTR value types, the
// DER encoders of the structures (also what a signed request is made of)
// and the layout of variable-sized output in the caller's one buffer.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "der/der_builder.h"

namespace kv::platform::crypt {

using der::Bytes;

// Value types of CERT_RDN_ATTR (dwValueType & 0xFF).
enum RdnType : DWORD {
  kAny = 0,
  kEncodedBlob = 1,
  kOctet = 2,
  kNumeric = 3,
  kPrintable = 4,
  kTeletex = 5,
  kVideotex = 6,
  kIa5 = 7,
  kGraphic = 8,
  kVisible = 9,
  kGeneral = 10,
  kUniversal = 11,
  kBmp = 12,
  kUtf8 = 13,
};

inline constexpr char kRsaOid[] = "1.2.840.113549.1.1.1";

inline bool IsAsnEncoding(DWORD type) { return (type & 0xFFFF) == X509_ASN_ENCODING; }

// Which structure a lpszStructType names; OID texts are not offered.
inline ULONG_PTR StructId(LPCSTR type) {
  ULONG_PTR id = reinterpret_cast<ULONG_PTR>(type);
  return id <= 0xFFFF ? id : 0;
}

// Encoders of the structures CryptEncodeObject takes; false with the
// Windows error in *error.
bool EncodeName(const CERT_NAME_INFO& info, der::Builder* out, DWORD* error);
bool EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, der::Builder* out, DWORD* error);
bool EncodeRequestInfo(const CERT_REQUEST_INFO& info, der::Builder* out, DWORD* error);
// RSAPublicKey DER from a PUBLICKEYBLOB.
bool EncodeRsaPublicBlob(const BYTE* blob, der::Builder* out, DWORD* error);
// CertificationRequest / Certificate: { toBeSigned, signatureAlgorithm
// (NULL parameters when none are given), signature }. The signature comes
// least significant byte first, as the provider makes it, and is written
// the other way round, as DER wants it.
bool EncodeSignedContent(const CERT_SIGNED_CONTENT_INFO& info, der::Builder* out, DWORD* error);
// SEQUENCE OF ANY: the values, already DER, one after another.
bool EncodeSequenceOfAny(const CRYPT_SEQUENCE_OF_ANY& info, der::Builder* out, DWORD* error);

// Runs one of the encoders above into `out`.
template <class Encoder>
bool Encode(Encoder encode, Bytes* out, DWORD* error) {
  der::Builder b;
  if (!encode(&b)) return false;
  if (b.Finish(out)) return true;
  *error = static_cast<DWORD>(CRYPT_E_ASN1_ERROR);
  return false;
}

// Lays out variable-sized output: a fixed structure first, then its pieces,
// each aligned to pointer size, all inside the caller's single buffer.
class Layout {
 public:
  explicit Layout(size_t head) : size_(Align(head)) {}
  size_t Add(size_t bytes) {
    size_t at = size_;
    size_ = Align(size_ + bytes);
    return at;
  }
  size_t size() const { return size_; }

 private:
  static size_t Align(size_t n) { return (n + sizeof(void*) - 1) & ~(sizeof(void*) - 1); }
  size_t size_;
};

}  // namespace kv::platform::crypt
