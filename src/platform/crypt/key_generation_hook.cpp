// The armed key alteration of the test seam.
#include "crypt/key_generation_hook.h"

#include <wincrypt.h>

#include <mutex>

#include "crypt/rsa_blob.h"

namespace kv::platform {
namespace {

std::mutex g_mutex;
int g_remaining = 0;
KeyBlobAlteration g_alter = nullptr;

}  // namespace

void AlterGeneratedKeys(int count, KeyBlobAlteration alter) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_remaining = alter && count > 0 ? count : 0;
  g_alter = g_remaining ? alter : nullptr;
}

namespace crypt {

PkeyPtr ApplyKeyAlteration(PkeyPtr generated, ALG_ID algId) {
  KeyBlobAlteration alter = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_remaining == 0 || !generated) return generated;
    alter = g_alter;
    if (--g_remaining == 0) g_alter = nullptr;
  }
  std::vector<BYTE> blob;
  if (!RsaToBlob(generated.get(), algId, true, &blob)) return generated;
  alter(&blob);
  ALG_ID parsedAlg = 0;
  bool isPrivate = false;
  DWORD error = 0;
  PkeyPtr altered = RsaFromBlob(blob.data(), blob.size(), &parsedAlg, &isPrivate, &error);
  return altered && isPrivate ? std::move(altered) : std::move(generated);
}

}  // namespace crypt
}  // namespace kv::platform
