// Known-answer files below tests/data (`Key = value` blocks, the layout of the
// NIST response files too) and the hex conversions their values need.
#pragma once

#include <string>
#include <vector>

#include "codec/vector_blocks.h"

namespace kv::test {

// The blocks of a file below tests/data; empty when it cannot be read.
std::vector<VectorBlock> ReadVectorFile(const std::string& relativePath);

// Hex text (either case) as bytes.
std::string HexToBytes(const std::string& hex);
// Bytes as lower-case hex.
std::string BytesToHex(const void* data, size_t length);
inline std::string BytesToHex(const std::string& bytes) { return BytesToHex(bytes.data(), bytes.size()); }

}  // namespace kv::test
