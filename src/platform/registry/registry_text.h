// Text handling of the registry: names arrive in the ANSI code page and are
// kept as UTF-16 (stored as UTF-8 through kvcommon/utf.h, converted from ANSI
// through kvseam/ansi.h), compared case-insensitively through a folded
// form, and split into key path components on real backslashes only.
#pragma once

#include <string>
#include <vector>

namespace kv::platform::registry {

// Upper-case form used to compare names: ASCII, Latin-1, Greek, Cyrillic and
// full-width Latin letters fold as the system folds them; other characters
// compare as they are.
std::u16string FoldName(const std::u16string& name);

// Splits a relative key path into its components. A leading backslash is
// dropped, and so is a trailing one; an empty path gives no components.
// Returns false for an empty component inside the path (two backslashes in a
// row).
bool SplitKeyPath(const std::u16string& path, std::vector<std::u16string>* parts);

// Longest key name component Windows accepts, in characters.
constexpr size_t kMaxKeyNameLength = 255;
// Longest value name, in characters.
constexpr size_t kMaxValueNameLength = 16383;

}  // namespace kv::platform::registry
