// The two fields of the signer certificate a SignerInfo copies (issuer Name
// and serial number), read by a strict walk of the whole certificate: an
// explicit version, UTCTime validity, algorithm identifiers of an OID and at
// most one primitive parameter, and no missing or extra bytes in any
// structure walked. Anything else is not a certificate this signer uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "der/der_span.h"

namespace kv::sign {

struct SignerCertificateFields {
  kv::der::Span issuer;  // contents of the issuer Name SEQUENCE
  kv::der::Span serial;  // contents of the serialNumber INTEGER
};

// Views into `der`, which must outlive them; bytes after the certificate
// are not part of it and are ignored.
[[nodiscard]] bool ReadSignerCertificate(const uint8_t* der, size_t size, SignerCertificateFields* fields);

}  // namespace kv::sign
