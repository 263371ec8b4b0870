// Which renderer shows a dialog now, and the owner-less open-file dialog.
#include <windows.h>
#include <commdlg.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/caller_origin.h"
#include "ui/desktop_module.h"
#include "ui/dialog_renderer.h"
#include "vocabulary/text.h"
#include "kvseam/ansi.h"
#include "kvcommon/utf.h"
#include "ui/script/scripted_renderer.h"

#ifndef _WIN32
#include <dlfcn.h>
#else
#include "ui/win32/win32_renderer.h"
#endif

namespace kv::ui {
namespace {

#ifndef _WIN32
bool EnvSet(const char* name) { return !EnvironmentValue(name).empty(); }
#endif

#ifndef _WIN32

std::string ToUtf8(const std::string& ansi) { return AnsiToUtf8(ansi); }

std::string FromUtf8(const std::string& utf8) { return kv::Utf16ToAnsi(kv::Utf8ToUtf16Lossy(utf8)); }

const KvDesktopHost kHost = {KV_DESKTOP_MODULE_ABI, &ToUtf8, &FromUtf8, &kv::platform::SwapDesktop};

// The module sits next to the library (or program) that holds this code.
std::string ModulePath() {
  if (const char* path = std::getenv("KORVESSA_GTK_MODULE")) {
    if (*path) return path;
  }
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    size_t slash = self.rfind('/');
    if (slash != std::string::npos) return self.substr(0, slash + 1) + "libkorvessa-gtk.so";
  }
  return "libkorvessa-gtk.so";
}

CDialogRenderer* LoadModule() {
  void* module = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) module = dlopen("libkorvessa-gtk.so", RTLD_NOW | RTLD_LOCAL);
  if (!module) return nullptr;
  auto entry = reinterpret_cast<KvDesktopRendererEntry>(dlsym(module, KV_DESKTOP_MODULE_ENTRY));
  CDialogRenderer* renderer = entry ? entry(&kHost) : nullptr;
  // The toolkit cannot be unloaded safely once initialised: the module
  // stays for the life of the process.
  return renderer;
}

#endif

}  // namespace

std::string EnvironmentValue(const char* name) {
#ifdef _WIN32
  char small[512];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) return {};
  if (n < sizeof small) return std::string(small, n);
  std::string value(n, '\0');
  n = GetEnvironmentVariableA(name, &value[0], n);
  value.resize(n < value.size() ? n : value.size());
  return value;
#else
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
#endif
}

CScriptedRenderer* ScriptedRenderer() {
  std::string script = EnvironmentValue("KORVESSA_DIALOGS");
  return script.empty() ? nullptr : CScriptedRenderer::ForScript(script);
}

#ifndef _WIN32
CDialogRenderer* DesktopModuleRenderer() {
  static CDialogRenderer* renderer = LoadModule();
  return renderer;
}
#else
CDialogRenderer* DesktopModuleRenderer() { return nullptr; }
#endif

CDialogRenderer* ActiveRenderer() {
  if (CScriptedRenderer* script = ScriptedRenderer()) return script;
#ifndef _WIN32
  if (EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY")) return DesktopModuleRenderer();
  return nullptr;
#else
  return Win32Renderer();
#endif
}

std::string FilterForOpenFile(const std::string& filter) {
  std::string out;
  size_t start = 0;
  // "desc|pattern|...||": every '|' ends a field; the empty field ends it all.
  while (start < filter.size()) {
    size_t bar = filter.find('|', start);
    if (bar == std::string::npos) bar = filter.size();
    if (bar == start) break;
    out.append(filter, start, bar - start);
    out += '\0';
    start = bar + 1;
  }
  out += '\0';
  return out;
}

bool ChooseFileToOpen(const std::string& plainTitle, const std::string& filter, const std::string& initialFolder,
                      HWND owner, DWORD flags, std::string* path, const char* defaultExtension) {
  const std::string title = kv::CaptionWithCallerOrigin(plainTitle);
  // Inside a running dialog the common dialogs already reach its renderer.
  CDialogRenderer* renderer = nullptr;
#ifndef _WIN32
  if (!kv::platform::ActiveDesktop()) {
    renderer = ActiveRenderer();
    if (!renderer) return false;  // no desktop to show it on
  }
#else
  // A scripted run answers from its script; no window is shown.
  if (CScriptedRenderer* script = ScriptedRenderer()) {
    std::vector<std::string> descriptions;
    for (size_t start = 0, field = 0; start < filter.size(); ++field) {
      size_t bar = filter.find('|', start);
      if (bar == std::string::npos) bar = filter.size();
      if (bar == start) break;
      if (field % 2 == 0) descriptions.push_back(AnsiToUtf8(filter.substr(start, bar - start)));
      start = bar + 1;
    }
    std::string chosen;
    if (!script->AskOpenFile(AnsiToUtf8(title), descriptions, &chosen)) return false;
    *path = kv::Utf8ToNarrow(chosen.c_str());
    return !path->empty();
  }
  renderer = ActiveRenderer();
#endif
  std::string filterList = FilterForOpenFile(filter);
  char file[MAX_PATH * 4] = {0};
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filterList.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.Flags = flags;
  ofn.lpstrDefExt = defaultExtension;
  if (renderer) renderer->BeginCommonDialogs();
  BOOL chosen = GetOpenFileNameA(&ofn);
  if (renderer) renderer->EndCommonDialogs();
  if (!chosen || !file[0]) return false;
  *path = file;
  return true;
}

}  // namespace kv::ui
