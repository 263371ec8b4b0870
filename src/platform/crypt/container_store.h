// Persistent key containers of the current user in the user database:
// container names (compared without regard to ASCII case, as Windows does),
// the key pair of each slot (AT_KEYEXCHANGE, AT_SIGNATURE) sealed at rest,
// and the certificate stored with a key.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ossl/owned.h"
#include "ossl/providers.h"

namespace kv::platform::crypt {

enum class StoreResult { kOk, kExists, kMissing, kError };

// A container name as stored: UTF-8 of the caller's name, and the form used
// to compare names.
struct ContainerName {
  std::string display;  // UTF-8
  std::string lookup;   // UTF-8, ASCII letters upper-cased
  bool machine = false;
};

ContainerName MakeContainerName(const std::u16string& wide, bool machine);

StoreResult CreateContainer(const ContainerName& name);
StoreResult ContainerExists(const ContainerName& name);
// Removes the container and every key and certificate in it.
StoreResult DeleteContainer(const ContainerName& name);
// Names of the containers (UTF-8), in creation order.
std::vector<std::string> ListContainers(bool machine);

struct StoredKey {
  ALG_ID algId = 0;
  DWORD flags = 0;  // CRYPT_EXPORTABLE, CRYPT_USER_PROTECTED...
  SharedPkey pkey;
  std::vector<uint8_t> certificate;
};

// Writes (replacing) the key pair of `keySpec`; the certificate of the slot is
// dropped since it belonged to the old key.
StoreResult SaveKey(const ContainerName& name, DWORD keySpec, ALG_ID algId, DWORD flags,
                    EVP_PKEY* pkey);
StoreResult LoadKey(const ContainerName& name, DWORD keySpec, StoredKey* key);
StoreResult SaveCertificate(const ContainerName& name, DWORD keySpec, const std::vector<uint8_t>& cert);

}  // namespace kv::platform::crypt
