// The PKCS#7 (RFC 2315) SignedData message the engine assembles itself with
// the DER builder: one SignerInfo with issuer and serial copied from the signer
// certificate's own encoding, optional authenticated attributes, the content
// attached or detached, and the certificates field.
#pragma once

#include <windows.h>

#include <string>

#include "codec/byte_buffer.h"
#include "der/der_builder.h"
#include "sign/digest_choice.h"
#include "vocabulary/error_codes.h"

namespace kv::sign {

struct Pkcs7Failure {
  ErrorCode code = ERR_SUCCESS;
  DWORD step = 0;  // for ERR_ASN1_ENCODE: the number of the failing step
};

class CPkcs7Builder {
 public:
  // Reads the signer certificate and prepares the SignerInfo: version,
  // issuer and serial, digest algorithm, the three attributes when asked
  // (with a SHA-2 digest also the ESS signing-certificate-v2 attribute that
  // binds the signer's certificate), signature algorithm. Computes the value
  // to sign.
  Pkcs7Failure Prepare(const BYTE* certDer, int32_t certLength, const CByteBuffer& contentDigest,
                       const SignDigest& digest, bool withAttributes);
  // What the private key signs: the content digest, or the digest of the
  // attributes encoded as a SET OF.
  const CByteBuffer& ValueToSign() const { return m_valueToSign; }

  // Adds one certificate to the certificates field (in order).
  bool AddCertificate(const BYTE* der, DWORD length);
  void OmitCertificates() { m_withCertificates = false; }

  // Completes the message with the signature (most significant byte first)
  // and returns it as one line of Base64.
  Pkcs7Failure Finish(const CByteBuffer& signature, const CByteBuffer& content, bool detached, std::string* base64);

 private:
  SignDigest m_digest;
  bool m_withAttributes = false;
  bool m_withCertificates = true;
  kv::der::Bytes m_issuer;        // issuer Name content, as in the certificate
  kv::der::Bytes m_serial;        // serialNumber INTEGER content, as in the certificate
  kv::der::Bytes m_attributeSet;  // the attributes encoded as a SET OF (what is signed)
  kv::der::Bytes m_certificates;
  CByteBuffer m_valueToSign;
};

}  // namespace kv::sign
