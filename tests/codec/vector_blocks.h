// Reader for test vector files made of "Key = value" blocks separated by
// blank lines, with '#' comment lines.
#pragma once

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace kv::test {

using VectorBlock = std::map<std::string, std::string>;

inline std::vector<VectorBlock> ReadVectorBlocks(const std::string& path) {
  std::vector<VectorBlock> blocks;
  std::ifstream in(path);
  VectorBlock current;
  std::string line;
  auto trim = [](std::string s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
  };
  while (std::getline(in, line)) {
    line = trim(line);
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) {
      if (!current.empty()) blocks.push_back(current);
      current.clear();
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    current[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  if (!current.empty()) blocks.push_back(current);
  return blocks;
}

}  // namespace kv::test
