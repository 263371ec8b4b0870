// Message boxes, the folder browser and document opening for the dialog
// models, routed to the scripted answers when a Windows run has them.
#include "ui/common_dialogs.h"

#include <shellapi.h>
#include <shlobj.h>

#include "vocabulary/text.h"
#include "host/caller_origin.h"
#include "ui/script/scripted_renderer.h"

namespace kv::ui {
namespace {

// On Linux the platform layer routes the calls itself.
CScriptedRenderer* ScriptedAnswers() {
#ifdef _WIN32
  return ScriptedRenderer();
#else
  return nullptr;
#endif
}

}  // namespace

int ShowMessageBox(HWND owner, const std::string& text, const std::string& plainCaption, UINT type) {
  const std::string caption = kv::CaptionWithCallerOrigin(plainCaption);
  if (CScriptedRenderer* script = ScriptedAnswers()) return script->Message(AnsiToUtf8(text), AnsiToUtf8(caption), type);
  return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

bool BrowseForFolder(HWND owner, const std::string& plainTitle, std::string* folder) {
  const std::string title = kv::CaptionWithCallerOrigin(plainTitle);
  if (CScriptedRenderer* script = ScriptedAnswers()) {
    std::string chosen;
    if (!script->AskFolder(AnsiToUtf8(title), &chosen)) return false;
    *folder = kv::Utf8ToNarrow(chosen.c_str());
    return true;
  }
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.lpszTitle = title.c_str();
  PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&info);
  if (!list) return false;
  char path[MAX_PATH] = {0};
  bool chosen = SHGetPathFromIDListA(list, path) != FALSE;
  if (chosen) *folder = path;
  CoTaskMemFree(list);
  return chosen;
}

void OpenDocument(HWND owner, const std::string& path) {
  if (CScriptedRenderer* script = ScriptedAnswers()) {
    script->DocumentOpened(AnsiToUtf8(path));
    return;
  }
  ShellExecuteA(owner, "open", path.c_str(), nullptr, "", SW_SHOWDEFAULT);
}

}  // namespace kv::ui
