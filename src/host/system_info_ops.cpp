// GetMacAddress, GetOSName and GetUserHomePath: what the engine tells a page
// about the machine.
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <vector>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "host/os_names.h"

namespace {

// The adapter list the operation accepts; a machine whose list needs more
// room gets no answer rather than a partial one.
constexpr ULONG kAdapterBufferSize = 10240;

}  // namespace

BSTR CCapiEngine::GetMacAddress() {
  ResetErrors();
  if (RefuseInProtectedMode()) return kv::NarrowToBstr("");
  std::vector<BYTE> buffer(kAdapterBufferSize, 0);
  ULONG size = kAdapterBufferSize;
  auto* adapters = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
  if (GetAdaptersInfo(adapters, &size) != ERROR_SUCCESS) {
    Fail(ERR_GENERAL);
    return kv::NarrowToBstr("");
  }
  std::string text;
  for (const IP_ADAPTER_INFO* a = adapters; a; a = a->Next) {
    char line[32];
    std::snprintf(line, sizeof line, "%02X-%02X-%02X-%02X-%02X-%02X", a->Address[0], a->Address[1], a->Address[2],
                  a->Address[3], a->Address[4], a->Address[5]);
    if (!text.empty()) text += '\n';
    text += line;
  }
  return kv::NarrowToBstr(text);
}

BSTR CCapiEngine::GetOSName() {
  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version)))
    return kv::NarrowToBstr(kv::host::VersionQueryFailedName());
#ifdef _WIN32
  return kv::NarrowToBstr(kv::host::WindowsVersionName(version, GetSystemMetrics(SM_SERVERR2) != 0));
#else
  // The stand-in's version query reports a Windows version that names no
  // real system; the system names itself instead.
  return kv::NarrowToBstr(kv::host::HostSystemName());
#endif
}

BSTR CCapiEngine::GetUserHomePath() {
  ResetErrors();
  return kv::NarrowToBstr(HomePath());
}
