// Reading the machine's default digest from the registry.
#include "sign/machine_digest.h"

#include <windows.h>

namespace kv::sign {

bool MachineDefaultsToSha256() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvessa\\CAPI", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD value = 0, size = sizeof(value), type = 0;
  LONG rc = RegQueryValueExA(key, "DefaultDigestSha256", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}

}  // namespace kv::sign
