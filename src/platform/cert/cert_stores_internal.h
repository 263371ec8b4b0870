// Store operations shared by the store, search, chain and PKCS#12 calls.
#pragma once

#include "cert/cert_object.h"

namespace kv::platform::cert {

// Refreshes a system store's cache from the database (no-op for memory stores).
// Brings a system store's cache up to the database; false, with the
// database's failure as the last error (an HRESULT), when it cannot be read.
bool ResyncStore(Store* store);
// Properties that travel with a certificate into another store.
PropertyMap CopyableProperties(CertObject* source);
// Whether `encoded` may be added to the store: a new certificate of the
// current user's "ROOT" needs the user's consent (kvwin/desktop.h); false
// with HRESULT_FROM_WIN32(ERROR_CANCELLED) as the last error when refused.
bool MayAddToStore(HCERTSTORE store, const std::vector<uint8_t>& encoded);
// Adds a certificate (or, with `link`, a link to it) under a disposition.
BOOL AddToStoreCommon(Store* store, const std::vector<uint8_t>& encoded, PropertyMap props, CertObject* link,
                      DWORD disposition, PCCERT_CONTEXT* out);

}  // namespace kv::platform::cert
