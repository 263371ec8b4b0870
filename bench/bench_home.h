// A throw-away $KORVESSA_HOME for one benchmark: the stores, key containers,
// records and files a benchmark leaves behind go with it, and the previous
// value of the variable comes back.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace kv::bench {

class BenchHome {
 public:
  BenchHome() {
    if (const char* old = std::getenv("KORVESSA_HOME")) {
      saved_ = old;
      hadSaved_ = true;
    }
    char pattern[] = "/tmp/korvessa-bench-XXXXXX";
    if (mkdtemp(pattern)) folder_ = pattern;
    setenv("KORVESSA_HOME", folder_.c_str(), 1);
  }
  ~BenchHome() {
    if (hadSaved_) setenv("KORVESSA_HOME", saved_.c_str(), 1);
    else unsetenv("KORVESSA_HOME");
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  BenchHome(const BenchHome&) = delete;
  BenchHome& operator=(const BenchHome&) = delete;

  bool ok() const { return !folder_.empty(); }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::string saved_;
  bool hadSaved_ = false;
};

}  // namespace kv::bench
