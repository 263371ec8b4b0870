// Path box text and path splitting for the PFX dialogs. Backslashes are
// searched lead-byte aware: in code page 950 a trail byte can be 0x5C.
#include "ui/pfx_path.h"

#include "vocabulary/text.h"

namespace kv::ui {
namespace {

// '/' (0x2F) is never a trail byte, so a plain search is safe for it.
size_t LastSeparator(const std::string& path) {
  size_t backslash = FindLastBackslash(path);
  size_t slash = path.rfind('/');
  if (backslash == std::string::npos) return slash;
  if (slash == std::string::npos) return backslash;
  return backslash > slash ? backslash : slash;
}

}  // namespace

std::string PathBoxText(const std::string& folder, const std::string& fileName) {
  if (folder.empty()) return {};
  size_t last = LastSeparator(folder);
  bool endsInSeparator = last != std::string::npos && last + 1 == folder.size();
  return endsInSeparator ? folder + fileName : folder + "\\" + fileName;
}

void SplitPath(const std::string& path, std::string* folder, std::string* fileName) {
  size_t sep = LastSeparator(path);
  if (!path.empty() && path[0] == '/' && sep != std::string::npos) {
    *folder = sep == 0 ? std::string("/") : path.substr(0, sep);
    *fileName = path.substr(sep + 1);
    return;
  }
  if (sep != std::string::npos && sep > 2) {
    *folder = path.substr(0, sep);
    *fileName = path.substr(sep + 1);
    return;
  }
  *folder = path.substr(0, path.size() < 3 ? path.size() : 3);
  *fileName = path.size() > 3 ? path.substr(3) : std::string();
}

}  // namespace kv::ui
