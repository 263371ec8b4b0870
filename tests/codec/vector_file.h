// Reader of known-answer files written as `Key = value` blocks separated by
// blank lines ('#' starts a comment, '[...]' section lines are skipped), the
// layout of the NIST response files and of the project's own vector files.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kv::test {

using VectorBlock = std::map<std::string, std::string>;

// The blocks of a file below tests/data; empty when it cannot be read.
std::vector<VectorBlock> ReadVectorFile(const std::string& relativePath);

// Hex text (either case) as bytes.
std::string HexToBytes(const std::string& hex);
// Bytes as lower-case hex.
std::string BytesToHex(const void* data, size_t length);
inline std::string BytesToHex(const std::string& bytes) { return BytesToHex(bytes.data(), bytes.size()); }

}  // namespace kv::test
