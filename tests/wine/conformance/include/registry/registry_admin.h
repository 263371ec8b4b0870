// What the registry tests ask of the stand-in's administration switch, for
// the Windows build: there the machine hive's rights are the process's own,
// so there is nothing to switch.
#pragma once

namespace kv::platform {

inline void SetMachineRegistryAdministration(bool) {}

}  // namespace kv::platform
