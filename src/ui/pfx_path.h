// How the PFX dialogs show and take apart a file location: the path box
// text from folder and file name, and the split of a full path back into
// the two.
#pragma once

#include <string>

namespace kv::ui {

// Folder, a backslash unless the folder already ends in a separator, and the
// file name; empty while the folder is empty.
std::string PathBoxText(const std::string& folder, const std::string& fileName);

// Splits at the last separator. Windows forms: a separator after the third
// character divides folder and file name; otherwise the folder is the drive
// root (the first three characters). Absolute POSIX forms ("/...") split at
// the last separator, the root folder being "/".
void SplitPath(const std::string& path, std::string* folder, std::string* fileName);

}  // namespace kv::ui
