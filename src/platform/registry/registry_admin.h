// The stand-in's own administration path for HKEY_LOCAL_MACHINE. Programs
// read the machine hive; only a process that has switched administration on
// (the korvessa-reg tool, or a test that prepares machine settings) may
// change it, as only administrators may on Windows. Not exported from the
// component.
#pragma once

#include <string>

namespace kv::platform {

// Switches the machine hive between read-only (the default) and writable for
// this process.
void SetMachineRegistryAdministration(bool enabled);
bool MachineRegistryAdministration();

// Folder of the machine database: $KORVESSA_MACHINE_HOME, else
// /var/lib/korvessa.
std::string MachineRegistryFolder();
std::string MachineRegistryPath();

}  // namespace kv::platform
