// `korvessa-nm --install [--system | --profile DIR]`: writes the native host
// manifests that let Chromium, Chrome and Firefox start this host for the
// extension, and tells how to load the extension. On Windows the manifests lie beside the
// host and registry keys name them (install_windows.cpp); `--uninstall`
// takes back what `--install` wrote.
#pragma once

#include <string>
#include <vector>

namespace korvessa {

// The host's registered name and the extension's fixed identities.
inline constexpr const char* kHostName = "tw.korvessa.capi";
inline constexpr const char* kChromiumExtensionId = "liellhacedcelhjakjbkggpnkjpijcnk";
inline constexpr const char* kFirefoxExtensionId = "capi@korvessa.tw";

enum class Browser { kChromium, kFirefox };

struct ManifestTarget {
  Browser browser;
  std::string folder;  // where <kHostName>.json goes
};

// This program's full path (what the manifests name), UTF-8.
std::string ExecutablePath();

// The folders of the user's profiles (below `home`) or, with `system`, the
// system-wide ones (Linux).
std::vector<ManifestTarget> ManifestTargets(const std::string& home, bool system);

// The manifest text for a browser, naming the host at `hostPath`.
std::string HostManifest(Browser browser, const std::string& hostPath);

// Writes the manifests (each through a temporary file in its folder, renamed
// over the old one) and prints what was written and how to load the
// extension; 0 on success.
int InstallManifests(bool system);

// Removes what InstallManifests(system) registered (on Windows the registry
// keys; the manifests beside the host go with the host); 0 on success, also
// when nothing was registered.
int UninstallManifests(bool system);

// The manifest a Chromium or Chrome started with --user-data-dir=`profile`
// reads (`profile`/NativeMessagingHosts, Linux): written when `install`,
// else removed; 0 on success. Windows browsers read only the registry, so
// there it is refused.
int ProfileManifest(const std::string& profile, bool install);

}  // namespace korvessa
