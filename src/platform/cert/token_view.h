// The current user's "MY" store shows the certificates of present tokens
// beside its own, bound to their keys through the smart-card provider (as
// Windows' certificate propagation does). They are never written to the
// database, leave the view with their token, and come after the store's own
// certificates in enumeration order.
#pragma once

#include <string>
#include <vector>

#include "cert/cert_object.h"
#include "crypt/token_keys.h"

namespace kv::platform::cert {

// Whether `store` is one that shows token certificates.
bool ShowsTokens(const Store* store);

// Builds the token part of the store's list: `shown` are the token objects
// listed so far; those still on a present token are appended to `entries`
// (new ones made) unless `entries` holds the same certificate already; the
// rest are left in `shown` for the caller to retire.
void MergeTokenCertificates(Store* store, const std::vector<kv::platform::crypt::TokenCertificate>& listed,
                            std::vector<CertObject*>* shown, std::vector<CertObject*>* entries);

}  // namespace kv::platform::cert
