// Persistent key containers of the current user in the user database:
// container names (compared without regard to ASCII case, as Windows does),
// the key pair of each slot (AT_KEYEXCHANGE, AT_SIGNATURE) sealed at rest,
// and the certificate stored with a key.
//
// Containers a PFX import makes for its temporary store are marked as
// temporary and owned by their process; when the store opens, those whose
// process is gone (it crashed or was killed before deleting them) are swept,
// unless a certificate kept in a persistent store refers to them: those keep
// their mark and are swept once no certificate refers to them any more.
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

// The error behind this thread's last kError: what the database or the key
// store's secret failed with (ERROR_DISK_FULL, ERROR_FILE_CORRUPT,
// NTE_BAD_KEYSET for a secret that cannot be read...), NTE_FAIL otherwise.
DWORD StoreError();
void NoteStoreError(DWORD error);

// `temporary`: marked in the same transaction as temporary, owned by this
// process, so no crash can leave it unmarked.
StoreResult CreateContainer(const ContainerName& name, bool temporary = false);
// Deletes the temporary containers whose owner is gone; returns how many.
// Runs by itself once per process and database when the store first opens.
int SweepAbandonedContainers();

// CryptAcquireContextA with CRYPT_NEWKEYSET for a container made temporary
// at creation (the PFX import's).
BOOL AcquireNewTemporaryContainer(HCRYPTPROV* phProv, LPCSTR container, LPCSTR provider, DWORD provType,
                                  DWORD flags);
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

// A key pair as last opened from its sealed record. A provider handle keeps
// one per key slot, so that using an unchanged record again skips the
// unsealing and decoding of the private key; a changed record is opened anew.
struct OpenedKey {
  std::vector<uint8_t> sealed;
  SharedPkey pkey;
};

// Writes (replacing) the key pair of `keySpec`; the certificate of the slot is
// dropped since it belonged to the old key.
StoreResult SaveKey(const ContainerName& name, DWORD keySpec, ALG_ID algId, DWORD flags,
                    EVP_PKEY* pkey);
StoreResult LoadKey(const ContainerName& name, DWORD keySpec, StoredKey* key, OpenedKey* opened = nullptr);
StoreResult SaveCertificate(const ContainerName& name, DWORD keySpec, const std::vector<uint8_t>& cert);

}  // namespace kv::platform::crypt
