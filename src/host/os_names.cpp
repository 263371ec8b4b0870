// The version table of GetOSName and the os-release reader that names
// systems the table cannot.
#include "host/os_names.h"

#include <fstream>
#include <sstream>

#include "vocabulary/text.h"

namespace kv::host {

namespace {

const char kUnrecognised[] = "Windows 系統無法識別";
const char kQueryFailed[] = "Windows 作業系統偵測錯誤!";

bool IsWorkstation(const OSVERSIONINFOEXA& v) { return v.wProductType == VER_NT_WORKSTATION; }

}  // namespace

std::string WindowsVersionName(const OSVERSIONINFOEXA& v, bool serverR2) {
  switch (v.dwMajorVersion) {
    case 4:
      switch (v.dwMinorVersion) {
        case 0:
          if (v.dwPlatformId == VER_PLATFORM_WIN32_NT) return "Microsoft Windows NT 4.0";
          if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return "Microsoft Windows 95";
          return "";
        case 10: return "Microsoft Windows 98";
        case 90: return "Microsoft Windows Me";
        default: return "";
      }
    case 5:
      switch (v.dwMinorVersion) {
        case 0: return "Microsoft Windows 2000";
        case 1: return "Microsoft Windows XP";
        case 2:
          if (IsWorkstation(v)) return "Microsoft Windows XP Professional x64 Edition";
          return serverR2 ? "Microsoft Windows Server 2003 R2" : "Microsoft Windows Server 2003";
        default: return "";
      }
    case 6:
      switch (v.dwMinorVersion) {
        case 0: return IsWorkstation(v) ? "Microsoft Windows Vista" : "Microsoft Windows Server 2008";
        case 1: return IsWorkstation(v) ? "Microsoft Windows 7" : "Microsoft Windows Server 2008 R2";
        default: return "";
      }
    default: return Utf8ToNarrow(kUnrecognised);
  }
}

std::string VersionQueryFailedName() { return Utf8ToNarrow(kQueryFailed); }

std::string PrettyNameFromOsRelease(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::string result;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 12, "PRETTY_NAME=") != 0) continue;
    std::string raw = line.substr(start + 12);
    std::string value;
    if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) {
      char quote = raw[0];
      for (size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
        // Inside double quotes a backslash escapes the shell's special characters.
        if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size() &&
            std::string("\"\\$`").find(raw[i + 1]) != std::string::npos)
          ++i;
        value += raw[i];
      }
    } else {
      value = raw.substr(0, raw.find_last_not_of(" \t") + 1);
    }
    result = value;  // the last assignment wins, as in a shell
  }
  return result;
}

std::string HostSystemName(const char* osReleasePath) {
  const char* candidates[] = {"/etc/os-release", "/usr/lib/os-release"};
  for (const char* path : candidates) {
    if (osReleasePath) path = osReleasePath;
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::ostringstream text;
      text << in.rdbuf();
      std::string name = PrettyNameFromOsRelease(text.str());
      if (!name.empty()) return Utf8ToNarrow(name.c_str());
    }
    if (osReleasePath) break;
  }
  return Utf8ToNarrow(kUnrecognised);
}

}  // namespace kv::host
