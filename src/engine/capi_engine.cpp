// The engine's lifetime (construction at module load, destruction at
// unload), the facts it gathers once about the process, and the rules every
// operation shares: the protected-mode refusal and the error state.
#include "engine/capi_engine.h"

#include "cert/store_snapshot.h"
#include "keys/cert_request_manager.h"
#include "keys/pfx_settings.h"
#include "sign/signer_state.h"

#include <string>
#include <vector>

#include "vocabulary/text.h"

namespace {

// Signature of the browser library's protected-mode query.
typedef HRESULT(WINAPI* IsProtectedModeProcessFn)(BOOL* pbResult);

// Asks the browser's frame library whether this process runs in protected
// mode. Anything missing on the way (library, export, a failing call) means
// "not protected".
bool ProbeProtectedMode() {
  HMODULE frame = LoadLibraryA("IEFrame.DLL");
  if (!frame) return false;
  bool isProtected = false;
  FARPROC proc = GetProcAddress(frame, "IEIsProtectedModeProcess");
  if (proc) {
    // The detour through void(*)() is the sanctioned way to reinterpret a
    // looked-up function pointer without a function-type-cast warning.
    auto query = reinterpret_cast<IsProtectedModeProcessFn>(reinterpret_cast<void (*)()>(proc));
    BOOL result = FALSE;
    if (query(&result) == S_OK && result == 1) isProtected = true;
  }
  FreeLibrary(frame);
  return isProtected;
}

// An environment variable's value; empty when it is not set.
std::string EnvironmentValue(const char* name) {
  std::vector<char> buffer(MAX_PATH + 1);
  DWORD n = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0) return std::string();
  if (n >= buffer.size()) {
    // Longer than the usual limit: read it whole rather than lose its tail.
    buffer.resize(n + 1);
    n = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return std::string();
  }
  return std::string(buffer.data(), n);
}

// The drive of the Windows folder ("C:"), for the pre-NT5 home rule.
std::string WindowsDrive() {
  std::vector<char> buffer(50);
  UINT n = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  if (n == 0 || n >= buffer.size()) return std::string();
  return std::string(buffer.data(), n < 2 ? n : 2);
}

}  // namespace

CCapiEngine::CCapiEngine()
    : m_osVersion(),
      m_request(std::make_unique<CCertRequestManager>()),
      m_pfx(std::make_unique<kv::keys::PfxSettings>()),
      m_snapshot(std::make_unique<kv::cert::StoreSnapshot>()),
      m_signer(std::make_unique<kv::sign::SignerState>()),
      m_ieProtectedMode(false),
      m_errorCode(ERR_SUCCESS),
      m_capiError(0) {
  m_ieProtectedMode = ProbeProtectedMode();

  m_osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
  // A system that cannot say its version is a current one, not Windows 9x:
  // the profile-folder rule applies.
  bool modernSystem = true;
  if (GetVersionExA(&m_osVersion)) modernSystem = m_osVersion.dwMajorVersion > 4;

  if (modernSystem) {
    m_homePath = EnvironmentValue("USERPROFILE");
  } else {
    std::string drive = WindowsDrive();
    if (!drive.empty()) m_homePath = drive + "\\My Documents";
  }
}

CCapiEngine::~CCapiEngine() {
  // The signer goes first (its shared area, then its store, so an engine
  // that goes away does not leak it; its provider handle is cached by the
  // certificate context and goes with it), then the store snapshot; the
  // other members follow in reverse order of declaration.
  m_signer.reset();
  m_snapshot.reset();
}

bool CCapiEngine::RefuseInProtectedMode() {
  if (!m_ieProtectedMode) return false;
  Fail(ERR_IE_PROTECTED_MODE);
  return true;
}

CCapiEngine& TheEngine() {
  // Constructed on first use, which the initializer below makes the module's
  // load; built this way it cannot run before the platform objects it uses.
  static CCapiEngine engine;
  return engine;
}

namespace {
// Gathers the process facts while the module loads, before any call arrives.
[[maybe_unused]] const bool kEngineConstructedAtLoad = (TheEngine(), true);
}  // namespace
