// Shared helpers of the registry tests: a fixture with fresh user and machine
// hives, ANSI conversion of UTF-8 literals, and small value readers.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "registry/registry_admin.h"
#include "support/temp_home.h"

namespace kv::test {

// UTF-8 text (as the sources hold it) in the ANSI code page.
std::string AnsiFromUtf8(const char* utf8);

class RegistryTest : public HomeTest {
 protected:
  RegistryTest();
  ~RegistryTest() override;
  // Runs `body` with the machine hive writable, as the administration tool does.
  template <typename F>
  void AsAdministrator(F body) {
    kv::platform::SetMachineRegistryAdministration(true);
    body();
    kv::platform::SetMachineRegistryAdministration(false);
  }

  std::string machineHome_;
  ScopedEnv machineEnv_;
};

// The value's type and bytes; the type is REG_NONE and the bytes empty when
// the query fails (the result is in *rc).
std::vector<BYTE> QueryBytes(HKEY key, const char* name, DWORD* type = nullptr, LONG* rc = nullptr);

}  // namespace kv::test
