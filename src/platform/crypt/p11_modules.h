// The PKCS#11 modules behind the smart-card provider: the ones the system
// configures through p11-kit, or, when $KORVESSA_PKCS11_MODULES is set, only
// the module files it lists (separated by ':'; empty: none), so a test or a
// user can name a token's module without a system-wide configuration.
#pragma once

#include <p11-kit/pkcs11.h>

#include <vector>

namespace kv::platform::crypt {

// The loaded and initialised modules, loaded on first use and kept for the
// process; none when p11-kit is not installed or lists no module.
const std::vector<CK_FUNCTION_LIST*>& Pkcs11Modules();

}  // namespace kv::platform::crypt
