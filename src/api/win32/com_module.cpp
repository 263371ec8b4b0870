// The module's object and lock count, its handle and its path.
#include "api/win32/com_module.h"

#include <vector>

namespace kv::com {
namespace {
LONG g_moduleReferences = 0;
}

void AddModuleReference() { InterlockedIncrement(&g_moduleReferences); }
void ReleaseModuleReference() { InterlockedDecrement(&g_moduleReferences); }
bool ModuleInUse() { return InterlockedCompareExchange(&g_moduleReferences, 0, 0) != 0; }

HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ThisModule), &module))
    return nullptr;
  return module;
}

std::wstring ThisModulePath() {
  HMODULE module = ThisModule();
  if (!module) return std::wstring();
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::vector<wchar_t> path(size);
    DWORD n = GetModuleFileNameW(module, path.data(), size);
    if (n == 0) return std::wstring();
    if (n < size) return std::wstring(path.data(), n);
  }
  return std::wstring();
}

}  // namespace kv::com
