// Rules shared by signer selection and signing: the PFX full-name rule and
// which providers are the platform's own. The signer itself is
// sign/signer_state.h.
#pragma once

#include <windows.h>

#include <string>

#include "sign/signer_state.h"

namespace kv::sign {

// Folder, a backslash unless the folder already ends with one, file name.
std::string JoinPfxPath(const std::string& folder, const std::string& name);

// Whether the text contains "Microsoft": the platform's own providers, whose
// key failures mean access was denied rather than a card not being ready.
bool IsPlatformProvider(LPCWSTR providerName);

}  // namespace kv::sign
