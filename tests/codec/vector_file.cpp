// Reader of `Key = value` known-answer files.
#include "codec/vector_file.h"

namespace kv::test {

std::vector<VectorBlock> ReadVectorFile(const std::string& relativePath) {
  return ReadVectorBlocks(std::string(KV_SOURCE_DIR) + "/tests/data/" + relativePath);
}

std::string HexToBytes(const std::string& hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
  };
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(char(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
  return out;
}

std::string BytesToHex(const void* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < length; ++i) {
    out.push_back(digits[p[i] >> 4]);
    out.push_back(digits[p[i] & 15]);
  }
  return out;
}

}  // namespace kv::test
