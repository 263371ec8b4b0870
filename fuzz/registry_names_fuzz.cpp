// Fuzz target: registry names as callers give them (ANSI code page, key path
// and value name in one text): path splitting, folding and the calls that
// open, create, write, read and delete by such names.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kvseam/ansi.h"
#include "kvcommon/utf.h"
#include "registry/registry_text.h"
#include "fuzz_home.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::UseThrowawayHome();
  namespace reg = kv::platform::registry;
  std::u16string wide = kv::AnsiToUtf16(reinterpret_cast<const char*>(data), size);
  std::vector<std::u16string> parts;
  if (reg::SplitKeyPath(wide, &parts))
    for (const std::u16string& part : parts) reg::FoldName(part);
  kv::Utf16ToAnsi(wide.data(), wide.size());
  kv::Utf8ToUtf16Lossy(kv::Utf16ToUtf8(wide));

  std::string name(reinterpret_cast<const char*>(data), size);
  name = name.substr(0, name.find('\0'));
  std::string path = "Software\\Fuzz\\" + name;
  size_t slash = path.rfind('\\');
  std::string key = path.substr(0, slash);
  std::string value = path.substr(slash + 1);
  HKEY handle = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &handle) == ERROR_SUCCESS) {
    DWORD number = static_cast<DWORD>(size);
    RegSetValueExA(handle, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    char buffer[256];
    DWORD length = sizeof buffer;
    DWORD type = 0;
    RegQueryValueExA(handle, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
    RegDeleteValueA(handle, value.c_str());
    RegCloseKey(handle);
  }
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) RegCloseKey(handle);
  return 0;
}
