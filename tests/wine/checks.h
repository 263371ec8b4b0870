// The groups of checks the Wine host runs against korvessa.dll.
#pragma once

#include "host_support.h"
#include "wine_signer.h"

namespace wine_test {

// Version, hashing, messages, registry, host facts.
void CheckEngine(Library& k, Report& r);
// Certificates made in Wine's provider: store browsing, signer selection,
// PKCS#1 and PKCS#7 signing (outputs verified with OpenSSL afterwards).
// Leaves two certificates in "MY" for the dialog checks.
void CheckStore(Library& k, Report& r);
// The dialogs of the DLL: scripted answers, then the real windows driven
// and photographed.
void CheckDialogs(Library& k, Report& r);

}  // namespace wine_test
