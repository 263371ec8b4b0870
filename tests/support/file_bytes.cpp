// Whole-file reads and writes for tests, the same on Linux and in the
// Windows build of the platform tests.
#include "support/scoped_home.h"

#include <fstream>
#include <sstream>

namespace kv::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kv::test
