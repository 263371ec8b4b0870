// Open registry key handles. Only values handed out here (and the predefined
// root keys) name keys: any other value, a closed handle or a handle of
// another kind yields ERROR_INVALID_HANDLE instead of touching memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "registry/hive.h"

namespace kv::platform::registry {

struct OpenKey {
  HiveKind hive = HiveKind::User;
  int64_t key = 0;
  REGSAM access = 0;
  // The database the key lives in; see HiveIdentity.
  std::string identity;
};

HKEY AddKeyHandle(const OpenKey& key);
bool FindKeyHandle(HKEY handle, OpenKey* key);
bool RemoveKeyHandle(HKEY handle);

}  // namespace kv::platform::registry
