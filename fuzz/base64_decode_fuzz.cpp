// Differential fuzz target for the Base64 decoder: the real decoder (with its
// bulk AVX2 and scalar paths, picked by the first input byte) must agree in
// result and bytes with a plain character-at-a-time model of the rules.
// Re-encoding what was decoded must also agree with the model's encoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/codec/base64_reference.h"
#include "codec/base64_kernels.h"
#include "codec/byte_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  kv::codec::base64::ForceScalarKernels(data[0] & 1);
  ++data;
  --size;
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));

  CByteBuffer decoded;
  const bool ok = decoded.DecodeBase64(text.c_str());
  std::vector<uint8_t> model;
  const bool modelOk = kv::test::ReferenceDecodeBase64(text, &model);
  if (ok != modelOk) std::abort();
  if (!ok) {
    if (decoded.Data() != nullptr) std::abort();
    return 0;
  }
  if (static_cast<size_t>(decoded.Size()) != model.size()) std::abort();
  if (std::memcmp(decoded.Data(), model.data(), model.size()) != 0) std::abort();
  if (decoded.Data()[decoded.Size()] != 0 || decoded.Data()[decoded.Size() + 1] != 0) std::abort();

  CByteBuffer encoded;
  if (!encoded.EncodeBase64(decoded.Data(), decoded.Size())) std::abort();
  if (kv::test::ReferenceEncodeBase64(model) != encoded.c_str()) std::abort();
  return 0;
}
