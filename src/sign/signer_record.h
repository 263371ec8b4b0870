// The chosen signer's record in the engine: reset, recording a certificate,
// and the PFX full-name rule shared by selection and signing.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

class CCapiEngine;

namespace kv::sign {

inline constexpr LONG kSourceNone = -1;
inline constexpr LONG kSourceStore = 1;
inline constexpr LONG kSourcePfx = 2;

// Empties the record and releases the signer's provider handle and store.
void ResetSignerRecord(CCapiEngine& engine);

// Records `context` as the signer: its thumbprint and DER bytes.
bool RecordSignerCertificate(CCapiEngine& engine, PCCERT_CONTEXT context);

// Folder, a backslash unless the folder already ends with one, file name.
std::string JoinPfxPath(const std::string& folder, const std::string& name);

// Whether the text contains "Microsoft": the platform's own providers, whose
// key failures mean access was denied rather than a card not being ready.
bool IsPlatformProvider(LPCWSTR providerName);

}  // namespace kv::sign
