// Test seam of the stand-in: makes the RSA provider hand out key pairs whose
// private parts do not fit together, as a faulty generator or token would,
// so that the engine's weak-key handling can be exercised. Not exported from
// the component.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "ossl/owned.h"

namespace kv::platform {

// Receives the PRIVATEKEYBLOB of a freshly generated pair and alters it; the
// altered blob is the key CryptGenKey then keeps and returns.
using KeyBlobAlteration = void (*)(std::vector<BYTE>* privateBlob);

// The next `count` RSA pairs generated in this process pass through
// `alter`; count 0 (or a null alteration) disarms.
void AlterGeneratedKeys(int count, KeyBlobAlteration alter);

namespace crypt {
// Applies an armed alteration to a pair just generated; otherwise returns it
// unchanged.
PkeyPtr ApplyKeyAlteration(PkeyPtr generated, ALG_ID algId);
}  // namespace crypt

}  // namespace kv::platform
