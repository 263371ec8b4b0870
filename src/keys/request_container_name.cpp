// Container names from the provider's random generator: 16 random bytes
// shown as 4-2-2-2-6 bytes in "%02X" groups.
#include "keys/request_container_name.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

namespace kv::keys {

bool NewContainerName(std::string* name, DWORD* error) {
  name->clear();
  *error = 0;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    *error = GetLastError();
    return false;
  }
  BYTE random[16] = {};
  bool ok = CryptGenRandom(prov, sizeof random, random) != FALSE;
  if (!ok) *error = GetLastError();
  CryptReleaseContext(prov, 0);
  if (!ok) return false;
  static const int kGroups[] = {4, 2, 2, 2, 6};
  char text[40] = {};
  char* out = text;
  int at = 0;
  for (size_t g = 0; g < sizeof kGroups / sizeof kGroups[0]; ++g) {
    if (g) *out++ = '-';
    for (int i = 0; i < kGroups[g]; ++i, ++at) {
      std::snprintf(out, 3, "%02X", random[at]);
      out += 2;
    }
  }
  name->assign(text, out);
  return true;
}

}  // namespace kv::keys
