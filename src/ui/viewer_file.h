// The file the certificate viewer opens: "temp.cer" in a folder only the
// user can reach, created fresh (never written through a link someone left
// at that name) and removed when the process ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kv::ui {

// The user's private temporary folder, ending in a separator; created on
// first use. Empty when it cannot be made private.
std::string PrivateTempFolder();

// Writes `der` as a new "temp.cer" in that folder, replacing an older one,
// and returns its full name; empty when it could not be written.
std::string WriteViewerFile(const std::vector<BYTE>& der);

}  // namespace kv::ui
