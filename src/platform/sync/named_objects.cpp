// Per-user names for the stand-in's named kernel objects.
#include "sync/named_objects.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace kv::platform::sync {

std::string ObjectId(const std::string& name) {
  uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  std::string id;
  for (unsigned char c : name) {
    if (id.size() >= 80) break;
    id += (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? static_cast<char>(c) : '_';
  }
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "-%016llx", static_cast<unsigned long long>(hash));
  return id + suffix;
}

std::string ShmPrefix() { return "/korvessa." + std::to_string(getuid()) + "."; }

std::string ShmName(const char* kind, const std::string& name) { return ShmPrefix() + kind + "." + ObjectId(name); }

std::string LockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = (runtime && *runtime) ? std::string(runtime) + "/korvessa"
                                             : "/tmp/korvessa-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0) {
    // It must be ours and private; refuse a folder planted by someone else.
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
    if ((st.st_mode & 077) != 0) chmod(folder.c_str(), 0700);
  }
  return folder;
}

}  // namespace kv::platform::sync
