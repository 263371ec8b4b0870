// Reader of `Key = value` known-answer files.
#include "codec/vector_file.h"

#include <fstream>

namespace kv::test {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::vector<VectorBlock> ReadVectorFile(const std::string& relativePath) {
  std::vector<VectorBlock> blocks;
  std::ifstream in(std::string(KV_SOURCE_DIR) + "/tests/data/" + relativePath);
  VectorBlock current;
  std::string line;
  while (std::getline(in, line)) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty()) {
      if (!current.empty()) blocks.push_back(std::move(current));
      current.clear();
      continue;
    }
    if (trimmed[0] == '#' || trimmed[0] == '[') continue;
    const size_t eq = trimmed.find('=');
    if (eq == std::string::npos) continue;
    current[Trim(trimmed.substr(0, eq))] = Trim(trimmed.substr(eq + 1));
  }
  if (!current.empty()) blocks.push_back(std::move(current));
  return blocks;
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
