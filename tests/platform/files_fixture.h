// The file tests' fixture: a fresh folder per test and short names in it.
#pragma once

#include <windows.h>

#include <string>

#include "support/temp_home.h"

namespace kv::test {

constexpr DWORD kUntouched = 0xdeadbeef;

class Files : public HomeTest {
 protected:
  // A name under the test's folder, written with Windows separators.
  std::string Name(const std::string& leaf) const { return home_.path() + "\\" + leaf; }
  std::string Posix(const std::string& leaf) const { return home_.path() + "/" + leaf; }

  HANDLE Open(const std::string& name, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0) {
    return CreateFileA(name.c_str(), access, share, nullptr, disposition, flags | FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  void Put(const std::string& leaf, const std::string& bytes) { kv::test::WriteFile(Posix(leaf), bytes); }
  std::string Get(const std::string& leaf) const { return kv::test::ReadFile(Posix(leaf)); }
};

}  // namespace kv::test
