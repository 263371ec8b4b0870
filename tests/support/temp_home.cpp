// Temporary homes, environment overrides and small file helpers for tests.
#include "support/scoped_home.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>

namespace kv::test {

ScopedHome::ScopedHome() {
  char templ[] = "/tmp/korvessa-test-XXXXXX";
  const char* made = mkdtemp(templ);
  path_ = made ? made : "/tmp/korvessa-test-fallback";
  if (const char* old = getenv("KORVESSA_HOME")) {
    saved_ = old;
    hadSaved_ = true;
  }
  setenv("KORVESSA_HOME", path_.c_str(), 1);
  // Nor the machine's tokens: no PKCS#11 module is loaded unless a test names
  // one (the list is read once per process, so it is never restored).
  setenv("KORVESSA_PKCS11_MODULES", "", 0);
}

ScopedHome::~ScopedHome() {
  if (hadSaved_)
    setenv("KORVESSA_HOME", saved_.c_str(), 1);
  else
    unsetenv("KORVESSA_HOME");
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = getenv(name)) {
    saved_ = old;
    hadSaved_ = true;
  }
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (hadSaved_)
    setenv(name_.c_str(), saved_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = pclose(pipe);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kv::test
