// GetVersion: the module's file version from its version record, as
// "major.minor.build.revision".
#include <windows.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"

namespace {

// The module this engine is linked into (the library, not the host program
// that loaded it).
HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&ThisModule), &module))
    return nullptr;
  return module;
}

// The module's full path. A path that does not fit the usual 255 characters
// is read again with more room rather than used cut short.
std::string ModulePath() {
  HMODULE module = ThisModule();
  for (DWORD size = 255; size <= 32768; size *= 2) {
    std::vector<char> path(size);
    DWORD n = GetModuleFileNameA(module, path.data(), size);
    if (n == 0) return std::string();
    if (n < size) return std::string(path.data(), n);
  }
  return std::string();
}

// The module's application name: its file name without folder and extension.
std::string ApplicationName(const std::string& modulePath) {
  size_t slash = kv::FindLastBackslash(modulePath);
  size_t fwd = modulePath.rfind('/');
  size_t start = 0;
  if (slash != std::string::npos) start = slash + 1;
  if (fwd != std::string::npos && fwd + 1 > start) start = fwd + 1;
  std::string name = modulePath.substr(start);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

BSTR CCapiEngine::GetVersion() {
  ResetError();

  std::string modulePath = ModulePath();
  std::string fileName = ApplicationName(modulePath) + ".dll";
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &handle);
  if (size == 0) {
    // Not found by its bare name: ask with the module's full path.
    fileName = modulePath;
    size = GetFileVersionInfoSizeA(fileName.c_str(), &handle);
    if (size == 0) {
      FailWithLastError(ERR_NOT_SUPPORTED);
      return kv::NarrowToBstr(std::string());
    }
  }

  std::vector<BYTE> block(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoLength = 0;
  if (GetFileVersionInfoA(fileName.c_str(), 0, size, block.data()) != 1) {
    FailWithLastError(ERR_NOT_SUPPORTED);
    return kv::NarrowToBstr(std::string());
  }
  if (VerQueryValueA(block.data(), "\\", reinterpret_cast<LPVOID*>(&info), &infoLength) != 1 || !info ||
      infoLength < sizeof(VS_FIXEDFILEINFO)) {
    FailWithLastError(ERR_NOT_SUPPORTED);
    return kv::NarrowToBstr(std::string());
  }

  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  return kv::NarrowToBstr(text);
}
