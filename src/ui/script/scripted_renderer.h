// The scripted renderer: answers each dialog from the file named by
// $KORVESSA_DIALOGS and writes what a person would have seen to the
// transcript named by $KORVESSA_DIALOG_LOG (one JSON object a line, UTF-8).
//
// An answer: {"dialog": 202, "set": {"303": "pw"}, "select": 1,
//             "browse": "/path", "press": 1}
// "dialog" is the resource id, or "open-file" for the owner-less open-file
// dialog. Each answer is one step of the dialog it names: texts are typed
// (running the dialog's change handling), a row is highlighted, "browse" is
// what a file or folder browser opened during the step returns, and a
// button is pressed. A dialog still open takes the next answer; when the
// answers run out or name another dialog, it is cancelled and the answer is
// left for the dialog it names.
#pragma once

#include <string>
#include <vector>

#include "ui/dialog_renderer.h"
#include "kvcommon/json.h"

#ifndef _WIN32
#include "kvwin/desktop.h"
#endif

class CScriptedRenderer : public CDialogRenderer
#ifndef _WIN32
    ,
                          public kv::platform::Desktop
#endif
{
 public:
  // The renderer for the script at `path`; a changed path or file content
  // starts again from the first answer.
  static CScriptedRenderer* ForScript(const std::string& path);
  // Forgets the script and its position (the next dialog reads it afresh).
  static void Reset();

  INT_PTR RunModal(CKvDialog& dialog) override;
  void BeginCommonDialogs() override;
  void EndCommonDialogs() override;

  bool AskOpenFile(const std::string& titleUtf8, const std::vector<std::string>& filtersUtf8, std::string* path);
  bool AskFolder(const std::string& titleUtf8, std::string* path);
  int Message(const std::string& textUtf8, const std::string& captionUtf8, UINT type);
  void DocumentOpened(const std::string& pathUtf8);

#ifndef _WIN32
  bool OpenFile(const kv::platform::OpenFileRequest& request, std::string* path) override;
  bool BrowseFolder(HWND owner, const std::string& title, std::string* path) override;
  int ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  bool OpenDocument(HWND owner, const std::string& path, bool* opened) override;
#endif

 private:
  void Load(const std::string& path, const std::string& content);
  const kv::json::Value* Peek() const;
  void Step(CKvDialog& dialog, const kv::json::Value& answer);
  std::string BrowseAnswer(const char* kind, const std::string& titleUtf8, bool* chosen);
  std::string DialogTag() const;
  static void Log(const std::string& line);

  std::string path_, content_;
  std::vector<kv::json::Value> answers_;
  size_t next_ = 0;
  CKvDialog* current_ = nullptr;
  const kv::json::Value* answer_ = nullptr;
  std::vector<void*> scopes_;
};

namespace kv::ui {
// ANSI text as UTF-8 for transcripts and desktop renderers.
std::string AnsiToUtf8(const std::string& ansi);
// The scripted renderer when $KORVESSA_DIALOGS names a script, else null.
CScriptedRenderer* ScriptedRenderer();
}  // namespace kv::ui
