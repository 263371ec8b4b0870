// Signers whose keys live in Wine's own provider (a key imported from a PFX
// cannot sign under Wine): a CA key, made once a process, signs end-entity
// certificates, each added to "MY" with its key's provider information.
// The Wine host and the COM host both put their signers in this way.
#pragma once

#include <windows.h>

#include <string>

namespace wine_test {

// Issuer of every certificate AddSignerToMy makes.
extern const wchar_t kWineCaName[];

// Adds an end-entity certificate whose key Wine's provider generates to
// "MY"; `fingerprint` (may be null) receives its SHA-1 thumbprint in hex.
// A self-signed certificate would not do: signer selection skips
// certification-authority certificates, and it counts those among them.
bool AddSignerToMy(const std::wstring& container, const wchar_t* subject, BYTE serial, std::wstring* fingerprint);

}  // namespace wine_test
