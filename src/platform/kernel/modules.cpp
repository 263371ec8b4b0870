// Modules on the dynamic loader: LoadLibraryA, GetProcAddress, FreeLibrary,
// GetModuleHandleA/ExA and GetModuleFileNameA. An HMODULE is the loader's
// link map of the shared object (what glibc's dlopen returns), or one of the
// built-in pseudo modules that stand for Windows libraries Linux lacks.
//
// Windows module names map to shared objects: "name.dll" (or "name") is
// "libname.so" or "name.so", and a bare name also matches the main program.
#include "kernel/modules.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "kernel/posix_path.h"

namespace kv::platform {
namespace {

// --- the browser frame library's protected-mode probe -----------------------
// Linux has no such library. $KORVESSA_PROTECTED_MODE, read when the library
// is loaded, decides what loads in its place: "1" a module reporting
// protected mode, "0" one reporting the opposite, "noexport" one without the
// export, "fail" one whose call fails; unset (or anything else), nothing.

HRESULT WINAPI ReportProtected(BOOL* pbResult) {
  if (!pbResult) return E_POINTER;
  *pbResult = TRUE;
  return S_OK;
}

HRESULT WINAPI ReportNotProtected(BOOL* pbResult) {
  if (!pbResult) return E_POINTER;
  *pbResult = FALSE;
  return S_OK;
}

HRESULT WINAPI ReportFailure(BOOL*) { return E_FAIL; }

struct PseudoModule {
  const char* mode;      // the value of $KORVESSA_PROTECTED_MODE that selects it
  const char* export_;   // name of its only export, or null
  HRESULT(WINAPI* probe)(BOOL*);
};

PseudoModule g_browserFrames[] = {
    {"1", "IEIsProtectedModeProcess", ReportProtected},
    {"0", "IEIsProtectedModeProcess", ReportNotProtected},
    {"noexport", nullptr, nullptr},
    {"fail", "IEIsProtectedModeProcess", ReportFailure},
};
constexpr const char* kBrowserFramePath = "C:\\Windows\\System32\\IEFrame.dll";

PseudoModule* AsPseudo(HMODULE module) {
  for (auto& m : g_browserFrames)
    if (reinterpret_cast<HMODULE>(&m) == module) return &m;
  return nullptr;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The module stem of a Windows name: "IEFrame.DLL" -> "ieframe".
std::string Stem(const std::string& name) {
  std::string lower = Lower(BaseName(name));
  if (EndsWith(lower, ".dll") || EndsWith(lower, ".exe")) lower.resize(lower.size() - 4);
  return lower;
}

bool IsBrowserFrame(const std::string& posixName) { return Stem(posixName) == "ieframe"; }

// --- the loader's list of modules ------------------------------------------

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

link_map* MainMap() {
  void* self = dlopen(nullptr, RTLD_LAZY);
  if (!self) return nullptr;
  link_map* map = nullptr;
  if (dlinfo(self, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
  dlclose(self);
  return map;
}

bool IsLoaded(HMODULE module) {
  for (link_map* m = MainMap(); m; m = m->l_next)
    if (reinterpret_cast<HMODULE>(m) == module) return true;
  return false;
}

// The file of a loaded module; the main program has no name in the list.
std::string FileOf(const link_map* map) {
  if (!map->l_name || !*map->l_name) return ExecutablePath();
  char resolved[PATH_MAX];
  if (realpath(map->l_name, resolved)) return resolved;
  return map->l_name;
}

// True when a loaded object named `file` plays the Windows module `name`.
bool NameMatches(const std::string& stem, const std::string& file) {
  std::string base = Lower(BaseName(file));
  for (const std::string& candidate : {"lib" + stem + ".so", stem + ".so"}) {
    if (base.compare(0, candidate.size(), candidate) == 0 &&
        (base.size() == candidate.size() || base[candidate.size()] == '.'))
      return true;
  }
  return false;
}

HMODULE FindLoaded(const std::string& posixName) {
  link_map* main = MainMap();
  if (!main) return nullptr;
  if (posixName.find('/') != std::string::npos) {
    char wanted[PATH_MAX];
    if (!realpath(posixName.c_str(), wanted)) return nullptr;
    for (link_map* m = main; m; m = m->l_next)
      if (FileOf(m) == wanted) return reinterpret_cast<HMODULE>(m);
    return nullptr;
  }
  std::string stem = Stem(posixName);
  for (link_map* m = main->l_next; m; m = m->l_next)
    if (m->l_name && *m->l_name && NameMatches(stem, m->l_name)) return reinterpret_cast<HMODULE>(m);
  if (Lower(BaseName(ExecutablePath())) == stem) return reinterpret_cast<HMODULE>(main);
  return nullptr;
}

// References taken by LoadLibraryA and GetModuleHandleExA, which FreeLibrary
// gives back.
struct References {
  std::mutex lock;
  std::map<HMODULE, int> counts;
};

References& Refs() {
  static References* refs = new References;
  return *refs;
}

void AddReference(HMODULE module) {
  std::lock_guard<std::mutex> guard(Refs().lock);
  ++Refs().counts[module];
}

// Converts a module path for a caller in the ANSI code page, with the
// Windows rules for a short buffer.
DWORD CopyOut(const std::string& posixPath, LPSTR buffer, DWORD size) {
  std::string ansi;
  if (!Utf8ToAnsi(posixPath, &ansi)) return 0;
  if (size == 0 || !buffer) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (ansi.size() + 1 > size) {
    std::memcpy(buffer, ansi.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, ansi.c_str(), ansi.size() + 1);
  return static_cast<DWORD>(ansi.size());
}

HMODULE OpenShared(const std::string& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || reinterpret_cast<void*>(map) != handle) {
    // Only glibc's handles double as link maps; anything else is unusable here.
    dlclose(handle);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(map);
}

}  // namespace

bool FindLoadedModuleFile(const std::string& name, std::string* posixPath) {
  HMODULE module = FindLoaded(name);
  if (!module) return false;
  *posixPath = FileOf(reinterpret_cast<link_map*>(module));
  return !posixPath->empty();
}

bool ModuleFileOfAddress(const void* address, std::string* posixPath) {
  Dl_info info;
  link_map* map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) return false;
  *posixPath = FileOf(map);
  return !posixPath->empty();
}

}  // namespace kv::platform

using namespace kv::platform;

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name;
  if (!ToPosixPath(lpLibFileName, &name)) return nullptr;
  if (IsBrowserFrame(name)) {
    const char* mode = std::getenv("KORVESSA_PROTECTED_MODE");
    for (auto& m : g_browserFrames)
      if (mode && std::strcmp(mode, m.mode) == 0) {
        AddReference(reinterpret_cast<HMODULE>(&m));
        return reinterpret_cast<HMODULE>(&m);
      }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE module = nullptr;
  if (name.find('/') != std::string::npos) {
    if (access(name.c_str(), F_OK) != 0) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    module = OpenShared(name);
    if (!module) {
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return nullptr;
    }
  } else if (HMODULE loaded = FindLoaded(name)) {
    // Already in the process: one more reference to the same module.
    module = OpenShared(FileOf(reinterpret_cast<link_map*>(loaded)));
    if (!module) module = loaded == reinterpret_cast<HMODULE>(MainMap()) ? loaded : nullptr;
    if (!module) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  } else {
    // The program's own folder first, then the loader's search path.
    std::string stem = Stem(name);
    std::string folder = ExecutablePath();
    folder.erase(folder.rfind('/') + 1);
    for (const std::string& candidate :
         {folder + "lib" + stem + ".so", folder + stem + ".so", "lib" + stem + ".so", stem + ".so"}) {
      if (candidate.find('/') != std::string::npos && access(candidate.c_str(), F_OK) != 0) continue;
      module = OpenShared(candidate);
      if (module) break;
    }
    if (!module) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  }
  AddReference(module);
  return module;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  bool pseudo = AsPseudo(hLibModule) != nullptr;
  if (!pseudo && !IsLoaded(hLibModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool release = false;
  {
    std::lock_guard<std::mutex> guard(Refs().lock);
    auto it = Refs().counts.find(hLibModule);
    if (it != Refs().counts.end()) {
      release = true;
      if (--it->second == 0) Refs().counts.erase(it);
    }
  }
  // A module this layer did not open (a GetModuleHandleA result) keeps its
  // loader reference.
  if (release && !pseudo) dlclose(reinterpret_cast<void*>(hLibModule));
  return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!lpProcName || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
    // Exports by ordinal do not exist on this platform.
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (PseudoModule* m = AsPseudo(hModule)) {
    if (m->export_ && std::strcmp(m->export_, lpProcName) == 0)
      return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(m->probe));
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  link_map* map = hModule ? reinterpret_cast<link_map*>(hModule) : MainMap();
  if (!map || !IsLoaded(reinterpret_cast<HMODULE>(map))) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(map, lpProcName);
  // dlsym also searches the module's dependencies; Windows looks only at the
  // module's own exports.
  Dl_info info;
  link_map* owner = nullptr;
  if (!symbol || !dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) || owner != map) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName) return reinterpret_cast<HMODULE>(MainMap());
  std::string name;
  if (!ToPosixPath(lpModuleName, &name)) return nullptr;
  if (IsBrowserFrame(name)) {
    std::lock_guard<std::mutex> guard(Refs().lock);
    for (auto& m : g_browserFrames)
      if (Refs().counts.count(reinterpret_cast<HMODULE>(&m))) return reinterpret_cast<HMODULE>(&m);
  } else if (HMODULE module = FindLoaded(name)) {
    return module;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

extern "C" BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  constexpr DWORD kKnown = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                           GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  if (!phModule) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = nullptr;
  if ((dwFlags & ~kKnown) || ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) &&
                              (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HMODULE module = nullptr;
  if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    Dl_info info;
    link_map* map = nullptr;
    if (lpModuleName && dladdr1(lpModuleName, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) && map)
      module = reinterpret_cast<HMODULE>(map);
    else if (AsPseudo(reinterpret_cast<HMODULE>(const_cast<char*>(lpModuleName))))
      module = reinterpret_cast<HMODULE>(const_cast<char*>(lpModuleName));
    if (!module) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
  } else {
    module = GetModuleHandleA(lpModuleName);
    if (!module) return FALSE;
  }
  if (!(dwFlags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN))) {
    if (!AsPseudo(module)) {
      // Take a loader reference that FreeLibrary gives back.
      link_map* map = reinterpret_cast<link_map*>(module);
      void* again = (map->l_name && *map->l_name) ? dlopen(map->l_name, RTLD_LAZY | RTLD_NOLOAD) : dlopen(nullptr, RTLD_LAZY);
      if (!again) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
      }
    }
    AddReference(module);
  }
  *phModule = module;
  return TRUE;
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (!hModule) return CopyOut(ExecutablePath(), lpFilename, nSize);
  if (AsPseudo(hModule)) {
    std::string path = kBrowserFramePath;
    if (nSize == 0 || !lpFilename) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    size_t n = std::min<size_t>(path.size(), nSize - 1);
    std::memcpy(lpFilename, path.data(), n);
    lpFilename[n] = '\0';
    if (n < path.size()) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return nSize;
    }
    return static_cast<DWORD>(n);
  }
  if (!IsLoaded(hModule)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return CopyOut(FileOf(reinterpret_cast<link_map*>(hModule)), lpFilename, nSize);
}
