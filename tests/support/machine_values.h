// Machine values (HKLM\SOFTWARE\Korvessa\CAPI) a test sets as an
// administrator would: a machine registry of the test's own in `folder`,
// read by the engine on its next call.
#pragma once

#include <windows.h>

#include <string>

#include "registry/registry_admin.h"
#include "support/temp_home.h"

namespace kv::test {

class MachineValues {
 public:
  explicit MachineValues(const std::string& folder)
      : home_(folder + "/machine"), env_("KORVESSA_MACHINE_HOME", home_.c_str()) {}
  ~MachineValues() { kv::platform::SetMachineRegistryAdministration(false); }
  MachineValues(const MachineValues&) = delete;
  MachineValues& operator=(const MachineValues&) = delete;

  // True when the value was written.
  bool SetDword(const char* name, DWORD value) {
    kv::platform::SetMachineRegistryAdministration(true);
    HKEY key = nullptr;
    bool written = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvessa\\CAPI", 0, nullptr, 0, KEY_WRITE, nullptr,
                                   &key, nullptr) == ERROR_SUCCESS;
    if (written) {
      written = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
                ERROR_SUCCESS;
      RegCloseKey(key);
    }
    kv::platform::SetMachineRegistryAdministration(false);
    return written;
  }

 private:
  std::string home_;
  ScopedEnv env_;
};

}  // namespace kv::test
