// Writing the native host manifests into the browsers' folders.
#include "korvessa-nm/install.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvessa {
namespace {

// mkdir -p; false with errno set when a level cannot be made.
bool MakeFolders(const std::string& path) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = path.find('/', slash + 1);
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Replaces `path` with `text` whole or not at all: a temporary file in the
// same folder, flushed, then renamed over it.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0644) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  saved = errno ? errno : saved;
  unlink(temp.c_str());
  errno = saved;
  return false;
}

std::string ExtensionFolder(const std::string& hostPath) {
  // Beside the host in a copied folder; in the package the host lies in
  // /usr/lib/korvessa and the extension in /usr/share/korvessa/extension.
  std::string folder = hostPath.substr(0, hostPath.rfind('/'));
  for (const std::string& candidate : {folder + "/extension", folder + "/../../share/korvessa/extension"}) {
    struct stat info;
    char resolved[PATH_MAX];
    if (stat((candidate + "/manifest.json").c_str(), &info) == 0 && realpath(candidate.c_str(), resolved))
      return resolved;
  }
  return "tools/korvessa-nm/extension (in the source tree)";
}

// Writes each target's manifest for the host at `hostPath`; the number of
// manifests that could not be written.
int WriteManifests(const std::vector<ManifestTarget>& targets, const std::string& hostPath) {
  int failures = 0;
  for (const ManifestTarget& target : targets) {
    std::string path = target.folder + "/" + kHostName + ".json";
    if (!MakeFolders(target.folder) || !WriteFileAtomically(path, HostManifest(target.browser, hostPath))) {
      std::fprintf(stderr, "korvessa-nm: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      ++failures;
      continue;
    }
    std::printf("wrote %s\n", path.c_str());
  }
  return failures;
}

// Removes each target's manifest (none there is no failure); the number of
// manifests that could not be removed.
int RemoveManifests(const std::vector<ManifestTarget>& targets) {
  int failures = 0;
  for (const ManifestTarget& target : targets) {
    std::string path = target.folder + "/" + kHostName + ".json";
    if (unlink(path.c_str()) == 0) {
      std::printf("removed %s\n", path.c_str());
    } else if (errno != ENOENT) {
      std::fprintf(stderr, "korvessa-nm: cannot remove %s: %s\n", path.c_str(), std::strerror(errno));
      ++failures;
    }
  }
  return failures;
}

void PrintHowToLoad(const std::string& hostPath) {
  std::printf(
      "\nLoad the extension from %s:\n"
      "  Chromium, Chrome: chrome://extensions, Developer mode, \"Load unpacked\" (its id is %s)\n"
      "  Firefox: about:debugging, This Firefox, \"Load Temporary Add-on\", its manifest.json (id %s)\n",
      ExtensionFolder(hostPath).c_str(), kChromiumExtensionId, kFirefoxExtensionId);
}

}  // namespace

std::string ExecutablePath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::vector<ManifestTarget> ManifestTargets(const std::string& home, bool system) {
  if (system)
    return {{Browser::kChromium, "/etc/chromium/native-messaging-hosts"},
            {Browser::kChromium, "/etc/opt/chrome/native-messaging-hosts"},
            {Browser::kFirefox, "/usr/lib/mozilla/native-messaging-hosts"}};
  return {{Browser::kChromium, home + "/.config/chromium/NativeMessagingHosts"},
          {Browser::kChromium, home + "/.config/google-chrome/NativeMessagingHosts"},
          {Browser::kFirefox, home + "/.mozilla/native-messaging-hosts"}};
}

// The home folder whose browser profiles a per-user (un)installation serves
// ("" for a system one); null, said on standard error, when HOME is unset.
static const char* UserHome(bool system) {
  if (system) return "";
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    std::fprintf(stderr, "korvessa-nm: HOME is not set\n");
    return nullptr;
  }
  return home;
}

int InstallManifests(bool system) {
  std::string hostPath = ExecutablePath();
  if (hostPath.empty()) {
    std::fprintf(stderr, "korvessa-nm: cannot tell where this program is\n");
    return 1;
  }
  const char* home = UserHome(system);
  if (!home) return 1;
  int failures = WriteManifests(ManifestTargets(home, system), hostPath);
  PrintHowToLoad(hostPath);
  return failures ? 1 : 0;
}

int UninstallManifests(bool system) {
  const char* home = UserHome(system);
  if (!home) return 1;
  return RemoveManifests(ManifestTargets(home, system)) ? 1 : 0;
}

int ProfileManifest(const std::string& profile, bool install) {
  // Firefox reads no manifest from a profile, only the user's and the
  // system's folders, so a profile has the Chromium one alone.
  const std::vector<ManifestTarget> targets = {{Browser::kChromium, profile + "/NativeMessagingHosts"}};
  if (!install) return RemoveManifests(targets) ? 1 : 0;
  std::string hostPath = ExecutablePath();
  if (hostPath.empty()) {
    std::fprintf(stderr, "korvessa-nm: cannot tell where this program is\n");
    return 1;
  }
  int failures = WriteManifests(targets, hostPath);
  PrintHowToLoad(hostPath);
  return failures ? 1 : 0;
}

}  // namespace korvessa
