// Hex codec of CByteBuffer: "%02X" per byte without separators, and a decoder
// that does not validate its digits.
//
// The decoder's arithmetic is part of the contract (callers have long fed it
// keys and fingerprints typed by hand): each character is upper-cased (ASCII
// only), then mapped to c - '0' when c <= '9' as a signed 8-bit character,
// otherwise to c - 'A' + 10, both modulo 256; the byte is 16 * high + low
// modulo 256. So "0aFf" gives 0A FF and a stray "G" decodes as 16, not an
// error. Both directions run on 256-entry tables built from that rule.
#include <cstring>
#include <limits>

#include "codec/byte_buffer.h"

namespace {

struct HexTables {
  char digits[256][2];    // byte -> two upper-case digits
  unsigned char nibble[256];  // character -> value by the decoding rule

  HexTables() {
    static const char kUpper[] = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
      digits[b][0] = kUpper[b >> 4];
      digits[b][1] = kUpper[b & 15];

      unsigned char c = static_cast<unsigned char>(b);
      if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
      const signed char asSigned = static_cast<signed char>(c);
      nibble[b] = asSigned <= '9' ? static_cast<unsigned char>(c - '0')
                                  : static_cast<unsigned char>(c - 'A' + 10);
    }
  }
};

const HexTables& Tables() {
  static const HexTables tables;
  return tables;
}

}  // namespace

bool CByteBuffer::EncodeHex(const void* src, int32_t n) {
  if (!src || n <= 0 || n > std::numeric_limits<int32_t>::max() / 2) {
    Clear();
    return false;
  }
  const int32_t outSize = 2 * n;
  BYTE* out = AllocateForOverwrite(outSize);
  if (!out) {
    Clear();
    return false;
  }
  const HexTables& t = Tables();
  const BYTE* in = static_cast<const BYTE*>(src);
  for (int32_t i = 0; i < n; ++i) std::memcpy(out + 2 * i, t.digits[in[i]], 2);
  Adopt(out, outSize);
  return true;
}

bool CByteBuffer::DecodeHex(const char* text) {
  if (!text || !*text) {
    Clear();
    return false;
  }
  const size_t length = std::strlen(text);
  if (length % 2 != 0 || length / 2 > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    Clear();
    return false;
  }
  const int32_t outSize = static_cast<int32_t>(length / 2);
  BYTE* out = AllocateForOverwrite(outSize);
  if (!out) {
    Clear();
    return false;
  }
  const HexTables& t = Tables();
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  for (int32_t i = 0; i < outSize; ++i) {
    out[i] = static_cast<BYTE>((t.nibble[in[2 * i]] << 4) + t.nibble[in[2 * i + 1]]);
  }
  Adopt(out, outSize);
  return true;
}
