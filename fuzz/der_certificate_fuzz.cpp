// Fuzz target: the signer certificate walk on arbitrary bytes; whatever it
// accepts is read through the views it returns.
#include <cstddef>
#include <cstdint>

#include "sign/signer_certificate.h"

namespace {

volatile uint32_t g_sink;

void Touch(const kv::der::Span& span) {
  uint32_t sum = 0;
  for (size_t i = 0; i < span.size(); ++i) sum += span.data()[i];
  g_sink = g_sink + sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  kv::sign::SignerCertificateFields fields;
  if (!kv::sign::ReadSignerCertificate(data, size, &fields)) return 0;
  Touch(fields.issuer);
  Touch(fields.serial);
  return 0;
}
