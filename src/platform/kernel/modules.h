// Loaded modules for the stand-in: how a Windows module name ("korvessa.dll")
// finds the shared object that plays its part ("libkorvessa.so").
#pragma once

#include <windows.h>

#include <string>

namespace kv::platform {

// The file of the loaded module whose name matches `name` (a bare Windows
// module name, with or without ".dll"); false when none is loaded.
bool FindLoadedModuleFile(const std::string& name, std::string* posixPath);

// The file of the module that contains `address`.
bool ModuleFileOfAddress(const void* address, std::string* posixPath);

}  // namespace kv::platform
