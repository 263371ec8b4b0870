// Container names from the provider's random generator: 16 random bytes
// shown as 4-2-2-2-6 bytes in "%02X" groups.
#include "keys/request_container_name.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "kvseam/owned_handles.h"

namespace kv::keys {

bool NewContainerName(std::string* name, DWORD* error) {
  name->clear();
  *error = 0;
  HCRYPTPROV acquired = 0;
  if (!CryptAcquireContextA(&acquired, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    *error = GetLastError();
    return false;
  }
  const kv::OwnedProvider prov(acquired);
  BYTE random[16] = {};
  if (!CryptGenRandom(prov.get(), sizeof random, random)) {
    *error = GetLastError();
    return false;
  }
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
