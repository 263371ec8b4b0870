// What the COM server's pieces share: the module's object and lock count
// that DllCanUnloadNow answers from, and the module's own handle and path.
#pragma once

#include <windows.h>

#include <string>

namespace kv::com {

// Live objects and IClassFactory::LockServer locks of this module.
void AddModuleReference();
void ReleaseModuleReference();
bool ModuleInUse();

// The DLL itself (not the program that loaded it).
HMODULE ThisModule();
// The DLL's full path; empty when it cannot be read.
std::wstring ThisModulePath();

}  // namespace kv::com
