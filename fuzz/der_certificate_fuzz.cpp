// Fuzz target: the certificate reader on arbitrary bytes; whatever parses is
// read through its accessors.
#include <cstddef>
#include <cstdint>

#include "codec/der/der_certificate.h"

namespace {

volatile uint32_t g_sink;

void Touch(const CDerElement& element) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < element.ValueViewLength(); ++i) sum += element.ValueView()[i];
  g_sink = g_sink + sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  CDerCertificate certificate;
  if (!certificate.Parse(data, int32_t(size))) return 0;
  Touch(certificate.SerialNumber());
  Touch(certificate.Issuer());
  Touch(certificate.Subject());
  Touch(certificate.NotBefore());
  Touch(certificate.NotAfter());
  Touch(certificate.SubjectPublicKeyInfo());
  Touch(certificate.SignatureValue());
  for (size_t i = 0; i < certificate.Extensions().ChildCount(); ++i) g_sink = g_sink + uint32_t(certificate.Extensions().ChildAt(i).length);
  for (size_t i = 0; i < certificate.Issuer().ChildCount(); ++i) g_sink = g_sink + certificate.Issuer().ChildAt(i).encoding[0];
  return 0;
}
