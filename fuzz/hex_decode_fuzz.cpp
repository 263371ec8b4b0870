// Fuzz target for the hex decoder: any text must decode without fault, to
// exactly half its length when that length is even, each byte following the
// lenient digit arithmetic; encoding the result back and decoding again must
// give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/byte_buffer.h"

namespace {

unsigned char Nibble(unsigned char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
  return static_cast<signed char>(c) <= '9' ? static_cast<unsigned char>(c - '0')
                                            : static_cast<unsigned char>(c - 'A' + 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  CByteBuffer decoded;
  const bool ok = decoded.DecodeHex(text.c_str());
  if (ok != (!text.empty() && text.size() % 2 == 0)) std::abort();
  if (!ok) {
    if (decoded.Data() != nullptr) std::abort();
    return 0;
  }
  if (static_cast<size_t>(decoded.Size()) * 2 != text.size()) std::abort();
  if (decoded.Data()[decoded.Size()] != 0 || decoded.Data()[decoded.Size() + 1] != 0) std::abort();
  for (int32_t i = 0; i < decoded.Size(); ++i) {
    const auto hi = Nibble(static_cast<unsigned char>(text[2 * i]));
    const auto lo = Nibble(static_cast<unsigned char>(text[2 * i + 1]));
    if (decoded.Data()[i] != static_cast<uint8_t>((hi << 4) + lo)) std::abort();
  }
  CByteBuffer encoded, again;
  if (!encoded.EncodeHex(decoded.Data(), decoded.Size())) std::abort();
  if (!again.DecodeHex(encoded.c_str())) std::abort();
  if (again.Size() != decoded.Size() || std::memcmp(again.Data(), decoded.Data(), static_cast<size_t>(decoded.Size())) != 0)
    std::abort();
  return 0;
}
