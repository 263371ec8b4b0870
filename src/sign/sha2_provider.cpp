// Reaching a key through the AES-capable provider for SHA-2 hashes.
#include "sign/sha2_provider.h"

#include <string>

#include "kvseam/owned_handles.h"

namespace kv::sign {

bool AcquireSha2Provider(HCRYPTPROV keyProv, HCRYPTPROV* sha2Prov) {
  *sha2Prov = 0;
  DWORD size = 0;
  if (!CryptGetProvParam(keyProv, PP_CONTAINER, nullptr, &size, 0) || size == 0) return false;
  std::string container(size, '\0');
  if (!CryptGetProvParam(keyProv, PP_CONTAINER, reinterpret_cast<BYTE*>(&container[0]), &size, 0)) return false;
  // A machine key stays a machine key; a provider that cannot tell is asked
  // for the user's.
  DWORD keyset = 0;
  size = sizeof(keyset);
  if (!CryptGetProvParam(keyProv, PP_KEYSET_TYPE, reinterpret_cast<BYTE*>(&keyset), &size, 0)) keyset = 0;
  // No CRYPT_SILENT: a protected key asks its user here as it would in its
  // own provider.
  return CryptAcquireContextA(sha2Prov, container.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES,
                              keyset & CRYPT_MACHINE_KEYSET) != FALSE;
}

BOOL CreateHashForKey(HCRYPTPROV prov, ALG_ID algorithm, HCRYPTHASH* hash, HCRYPTPROV* sha2Prov) {
  *sha2Prov = 0;
  if (CryptCreateHash(prov, algorithm, 0, 0, hash)) return TRUE;
  const DWORD refusal = GetLastError();
  const bool sha2 = algorithm == CALG_SHA_256 || algorithm == CALG_SHA_384 || algorithm == CALG_SHA_512;
  if (refusal != static_cast<DWORD>(NTE_BAD_ALGID) || !sha2) return FALSE;
  if (AcquireSha2Provider(prov, sha2Prov)) {
    kv::OwnedProvider acquired(*sha2Prov);
    if (CryptCreateHash(*sha2Prov, algorithm, 0, 0, hash)) {
      acquired.release();  // the caller's now, with the hash
      return TRUE;
    }
    *sha2Prov = 0;
  }
  SetLastError(refusal);
  return FALSE;
}

}  // namespace kv::sign
