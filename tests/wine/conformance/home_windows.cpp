// The tests' scoped homes and environment overrides for the Windows build of
// the platform tests. The real system keeps key containers in the user's
// profile, not under $KORVESSA_HOME, so a home also takes away the
// containers made while it was set, as the stand-in's fresh home would.
#include "support/scoped_home.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

namespace kv::test {
namespace {

bool GetEnv(const char* name, std::string* value) {
  const char* v = std::getenv(name);
  if (!v) return false;
  *value = v;
  return true;
}

void SetEnv(const char* name, const char* value) {
  // An empty value removes the variable from the C runtime's copy.
  _putenv_s(name, value ? value : "");
  SetEnvironmentVariableA(name, value);
}

// The key containers of the user, then of the machine (each one list for
// every RSA provider), as keyset flag and name.
using Containers = std::set<std::pair<DWORD, std::string>>;

Containers KeyContainers() {
  Containers names;
  for (DWORD keyset : {DWORD{0}, static_cast<DWORD>(CRYPT_MACHINE_KEYSET)}) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | keyset)) continue;
    char name[1024];
    for (DWORD flag = CRYPT_FIRST;; flag = CRYPT_NEXT) {
      DWORD size = sizeof name;
      if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flag)) break;
      names.emplace(keyset, name);
    }
    CryptReleaseContext(prov, 0);
  }
  return names;
}

// What each live home found when it began (homes nest, so a stack).
std::vector<Containers>& ContainersBefore() {
  static std::vector<Containers> stack;
  return stack;
}

}  // namespace

ScopedHome::ScopedHome() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  static unsigned counter = 0;
  for (;;) {
    path_ = std::string(temp) + "korvessa-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    if (CreateDirectoryA(path_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  hadSaved_ = GetEnv("KORVESSA_HOME", &saved_);
  SetEnv("KORVESSA_HOME", path_.c_str());
  ContainersBefore().push_back(KeyContainers());
}

ScopedHome::~ScopedHome() {
  const Containers before = ContainersBefore().back();
  ContainersBefore().pop_back();
  for (const auto& [keyset, name] : KeyContainers()) {
    if (before.count({keyset, name})) continue;
    HCRYPTPROV gone = 0;
    CryptAcquireContextA(&gone, name.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET | keyset);
  }
  SetEnv("KORVESSA_HOME", hadSaved_ ? saved_.c_str() : nullptr);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  hadSaved_ = GetEnv(name, &saved_);
  SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_.c_str(), hadSaved_ ? saved_.c_str() : nullptr); }

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = _popen(command.c_str(), "rb");
  if (!pipe) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = _pclose(pipe);
  if (out) *out = text;
  return status;
}

}  // namespace kv::test
