// Names of the operating system for GetOSName: the Windows version table,
// and on other systems the name the system gives itself in os-release.
#pragma once

#include <windows.h>

#include <string>

namespace kv::host {

// The name of a Windows version (narrow, ANSI code page); `serverR2` is the
// SM_SERVERR2 system metric, consulted only for 5.2 servers. Empty for a
// known major version with an unknown minor one.
std::string WindowsVersionName(const OSVERSIONINFOEXA& version, bool serverR2);

// The text GetOSName gives when the version query fails.
std::string VersionQueryFailedName();

// PRETTY_NAME of os-release text (UTF-8, quotes and escapes removed), or
// empty when it has none.
std::string PrettyNameFromOsRelease(const std::string& text);

// The running system's own name in the ANSI code page: PRETTY_NAME of
// /etc/os-release (or /usr/lib/os-release), else the "unrecognised system"
// text of the version table.
std::string HostSystemName(const char* osReleasePath = nullptr);

}  // namespace kv::host
