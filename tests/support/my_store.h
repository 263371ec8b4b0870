// Puts a test certificate and its key into the user's "MY" store the way a
// user's own PFX import would: through a PKCS#12 image and the platform's
// import, so the key lands in a real container the engine can sign with.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include "support/test_pki.h"

namespace kv::test {

// `importFlags` are PFXImportCertStore's (CRYPT_EXPORTABLE, ...).
::testing::AssertionResult AddToMyWithKey(const TestCert& cert, DWORD importFlags = 0);

}  // namespace kv::test
