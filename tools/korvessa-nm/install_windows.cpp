// Registering the native host with the browsers on Windows: the manifests
// lie beside the host (one for Chrome and Edge, one for Firefox, whose
// manifest names extensions instead of origins), and a registry key per
// browser names its manifest. Per user under HKEY_CURRENT_USER; with
// --system under HKEY_LOCAL_MACHINE, in both the 64-bit and the 32-bit view,
// since a browser of either width looks in its own view first.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "korvessa-nm/install.h"
#include "kvcommon/utf.h"

namespace korvessa {
namespace {

struct BrowserKey {
  const wchar_t* name;  // for messages
  const wchar_t* key;   // below the root, without the host's name
  Browser manifest;
};

const BrowserKey kBrowserKeys[] = {
    {L"Chrome", L"Software\\Google\\Chrome\\NativeMessagingHosts\\", Browser::kChromium},
    {L"Edge", L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\", Browser::kChromium},
    {L"Firefox", L"Software\\Mozilla\\NativeMessagingHosts\\", Browser::kFirefox},
};

std::wstring Widen(const std::string& utf8) {
  std::u16string wide = kv::Utf8ToUtf16Lossy(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const std::wstring& wide) {
  return kv::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring HostName() { return Widen(kHostName); }

// HKEY_CURRENT_USER\Software is one view for both widths; the machine's is
// two.
std::vector<REGSAM> Views(bool system) {
  if (system) return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  return {0};
}

std::wstring ManifestPath(const std::wstring& folder, Browser browser) {
  return folder + L"\\" + HostName() + (browser == Browser::kFirefox ? L".firefox.json" : L".json");
}

// Replaces `path` with `text` whole or not at all: a temporary file in the
// same folder, flushed, then moved over it.
bool WriteFileAtomically(const std::wstring& path, const std::string& text) {
  std::wstring temp = path + L".new";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size() && FlushFileBuffers(file);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  if (ok) error = GetLastError();
  DeleteFileW(temp.c_str());
  SetLastError(error);
  return false;
}

}  // namespace

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

int InstallManifests(bool system) {
  const std::wstring host = Widen(ExecutablePath());
  const size_t slash = host.find_last_of(L"\\/");
  if (host.empty() || slash == std::wstring::npos) {
    std::fprintf(stderr, "korvessa-nm: cannot tell where this program is\n");
    return 1;
  }
  const std::wstring folder = host.substr(0, slash);
  int failures = 0;
  for (Browser browser : {Browser::kChromium, Browser::kFirefox}) {
    const std::wstring path = ManifestPath(folder, browser);
    if (!WriteFileAtomically(path, HostManifest(browser, Narrow(host)))) {
      std::fprintf(stderr, "korvessa-nm: cannot write %s: error %lu\n", Narrow(path).c_str(), GetLastError());
      ++failures;
    } else {
      std::printf("wrote %s\n", Narrow(path).c_str());
    }
  }
  const HKEY root = system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  for (const BrowserKey& browser : kBrowserKeys) {
    const std::wstring key = browser.key + HostName();
    const std::wstring manifest = ManifestPath(folder, browser.manifest);
    bool registered = true;
    for (REGSAM view : Views(system)) {
      HKEY opened = nullptr;
      LONG status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr);
      if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(manifest.c_str()),
                                static_cast<DWORD>((manifest.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(opened);
      }
      if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "korvessa-nm: cannot register with %ls (%s\\%ls): error %ld\n", browser.name,
                     system ? "HKLM" : "HKCU", key.c_str(), status);
        registered = false;
      }
    }
    if (!registered) ++failures;
    else std::printf("registered with %ls: %s\\%s\n", browser.name, system ? "HKLM" : "HKCU", Narrow(key).c_str());
  }
  std::printf(
      "\nAdd the extension (Chrome, Edge: its id is %s; Firefox: %s) from its store or by policy.\n",
      kChromiumExtensionId, kFirefoxExtensionId);
  return failures ? 1 : 0;
}

int UninstallManifests(bool system) {
  const HKEY root = system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  int failures = 0;
  for (const BrowserKey& browser : kBrowserKeys) {
    const std::wstring key = browser.key + HostName();
    for (REGSAM view : Views(system)) {
      LONG status = RegDeleteKeyExW(root, key.c_str(), view, 0);
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "korvessa-nm: cannot remove %s\\%ls: error %ld\n", system ? "HKLM" : "HKCU", key.c_str(),
                     status);
        ++failures;
      }
    }
    std::printf("unregistered from %ls\n", browser.name);
  }
  return failures ? 1 : 0;
}

int ProfileManifest(const std::string&, bool) {
  std::fprintf(stderr, "korvessa-nm: --profile is for Linux; on Windows the browsers find the host in the registry\n");
  return 2;
}

}  // namespace korvessa
