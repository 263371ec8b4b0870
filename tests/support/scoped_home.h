// Scoped homes, environment overrides and small file helpers, without the
// test framework, so the benchmarks run on the same ones.
#pragma once

#include <string>

namespace kv::test {

// Creates a fresh folder, points $KORVESSA_HOME at it, and restores the old
// value and removes the folder on destruction.
class ScopedHome {
 public:
  ScopedHome();
  ~ScopedHome();
  ScopedHome(const ScopedHome&) = delete;
  ScopedHome& operator=(const ScopedHome&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string saved_;
  bool hadSaved_ = false;
};

// Sets an environment variable for the scope of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);  // value null: unset
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, saved_;
  bool hadSaved_ = false;
};


// Reads a whole file; empty when missing.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Runs a shell command, returns its exit status and puts its stdout in `out`.
int RunCommand(const std::string& command, std::string* out = nullptr);

}  // namespace kv::test
