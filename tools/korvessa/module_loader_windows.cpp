// The engine library on Windows: korvessa.dll beside the program, loaded by
// its full path (never from the search path, so a planted DLL of the same
// name elsewhere is not taken); operations are exported as _Name@N.
#include "korvessa/module_loader.h"

#include <windows.h>

#include <cstring>

#include "korvessa/operations.h"
#include "kvcommon/utf.h"

namespace korvessa::module {
namespace {

std::string Narrow(const wchar_t* wide, size_t size) {
  return kv::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(wide), size));
}

std::wstring Widen(const std::string& utf8) {
  std::u16string wide = kv::Utf8ToUtf16Lossy(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? "." : Narrow(path.data(), slash);
}

}  // namespace

std::string LibraryPath() {
  const wchar_t* configured = _wgetenv(L"KORVESSA_LIBRARY");
  if (configured && *configured) return Narrow(configured, wcslen(configured));
  return ExecutableFolder() + "\\korvessa.dll";
}

void* Open(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) *error = "cannot load the engine library " + path + ": error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* Symbol(void* library, const char* name) {
  if (!library) return nullptr;
  HMODULE module = static_cast<HMODULE>(library);
  // An operation's export carries its decorated name; a door's entry point
  // (KvAdmitWebOrigin) and the error getters' plain aliases do not exist.
  const OperationSpec* op = FindOperation(name);
  if (op && std::strcmp(op->exportName, name) == 0)
    return reinterpret_cast<void*>(GetProcAddress(module, op->DecoratedName().c_str()));
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

// The DLL allocates its strings with the system's SysAllocStringLen.
void* StringCalls(void*) { return reinterpret_cast<void*>(LoadLibraryW(L"oleaut32.dll")); }

}  // namespace korvessa::module
