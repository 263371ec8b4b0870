// Helpers of the registry tests.
#include "platform/registry/registry_test_support.h"

namespace kv::test {

std::string AnsiFromUtf8(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::vector<WCHAR> wide(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), n);
  int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, &out[0], m, nullptr, nullptr);
  out.resize(static_cast<size_t>(m - 1));
  return out;
}

namespace {

// The stand-in's hives are new in each test's home; the user's registry on
// Windows is not, so the keys the tests make are taken away around each.
void RemoveTestKeys() {
#ifdef _WIN32
  for (const char* key : {"Software\\KvTest", "Software\\KvEnum"})
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
#endif
}

}  // namespace

RegistryTest::RegistryTest()
    : machineHome_(home_.path() + "/machine"), machineEnv_("KORVESSA_MACHINE_HOME", machineHome_.c_str()) {
  RemoveTestKeys();
}

RegistryTest::~RegistryTest() {
  kv::platform::SetMachineRegistryAdministration(false);
  RemoveTestKeys();
}

std::vector<BYTE> QueryBytes(HKEY key, const char* name, DWORD* type, LONG* rc) {
  DWORD size = 0, t = REG_NONE;
  LONG r = RegQueryValueExA(key, name, nullptr, &t, nullptr, &size);
  std::vector<BYTE> data;
  if (r == ERROR_SUCCESS) {
    data.resize(size);
    r = RegQueryValueExA(key, name, nullptr, &t, data.data(), &size);
    data.resize(r == ERROR_SUCCESS ? size : 0);
  }
  if (type) *type = r == ERROR_SUCCESS ? t : REG_NONE;
  if (rc) *rc = r;
  return data;
}

}  // namespace kv::test
