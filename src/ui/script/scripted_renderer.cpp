// Scripted answers for the dialogs, and the transcript of what was shown.
#include "ui/script/scripted_renderer.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "vocabulary/text.h"
#include "kvseam/ansi.h"
#include "kvcommon/utf.h"
#include "ui/dialog_model.h"
#include "ui/dialog_renderer.h"

using kv::json::Quote;
using kv::json::Value;

namespace kv::ui {

std::string AnsiToUtf8(const std::string& ansi) { return kv::Utf16ToUtf8(kv::AnsiToUtf16(ansi)); }

}  // namespace kv::ui

namespace {

using kv::ui::AnsiToUtf8;

std::unique_ptr<CScriptedRenderer> g_renderer;

bool ReadFile(const std::string& path, std::string* content) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  content->clear();
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content->append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kStatic: return "static";
    case ControlKind::kGroupBox: return "group";
    case ControlKind::kButton: return "button";
    case ControlKind::kEdit: return "edit";
    case ControlKind::kListView: return "list";
  }
  return "static";
}

// What the control shows: a password edit shows one mask character per
// character typed.
std::string ShownText(const DialogControl& c) {
  if (c.password) return std::string(kv::ui::CharCount(c.text), '*');
  return AnsiToUtf8(c.text);
}

std::string ControlsJson(const CKvDialog& d) {
  std::string out = "[";
  bool first = true;
  for (const DialogControl& c : d.Controls()) {
    if (!first) out += ',';
    first = false;
    out += "{\"id\":" + std::to_string(c.id) + ",\"kind\":\"" + KindName(c.kind) + "\",\"text\":" + Quote(ShownText(c)) +
           ",\"enabled\":" + (c.enabled ? "true" : "false");
    if (c.kind == ControlKind::kEdit) {
      out += std::string(",\"readOnly\":") + (c.readOnly ? "true" : "false");
      out += std::string(",\"password\":") + (c.password ? "true" : "false");
      if (c.limit > 0) out += ",\"limit\":" + std::to_string(c.limit);
    }
    out += '}';
  }
  out += ']';
  if (!d.Columns().empty()) {
    out += ",\"columns\":[";
    for (size_t i = 0; i < d.Columns().size(); ++i) {
      if (i) out += ',';
      out += "{\"title\":" + Quote(AnsiToUtf8(d.Columns()[i].title)) +
             ",\"width\":" + std::to_string(d.Columns()[i].width) + "}";
    }
    out += "],\"rows\":[";
    for (size_t r = 0; r < d.Rows().size(); ++r) {
      if (r) out += ',';
      out += '[';
      for (size_t i = 0; i < d.Rows()[r].size(); ++i) {
        if (i) out += ',';
        out += Quote(AnsiToUtf8(d.Rows()[r][i]));
      }
      out += ']';
    }
    out += "],\"highlighted\":" + std::to_string(d.HighlightedRow());
  }
  return out;
}

bool AnswerNames(const Value& answer, const std::string& dialog) {
  const Value* id = answer.Find("dialog");
  if (!id) return false;
  if (id->Is(kv::json::Value::Kind::kString)) return id->Utf8() == dialog;
  int n;
  return id->AsInt(&n) && std::to_string(n) == dialog;
}

const char* ResultName(INT_PTR result) { return result == IDOK ? "IDOK" : "IDCANCEL"; }

}  // namespace

CScriptedRenderer* CScriptedRenderer::ForScript(const std::string& path) {
  if (!g_renderer) g_renderer.reset(new CScriptedRenderer());
  if (g_renderer->current_) return g_renderer.get();  // answers in use stay put
  // Reading the (small) script at every dialog lets a caller rewrite it
  // between operations; the position restarts only when it changed.
  std::string content;
  if (!ReadFile(path, &content)) content.clear();
  if (path != g_renderer->path_ || content != g_renderer->content_) g_renderer->Load(path, content);
  return g_renderer.get();
}

void CScriptedRenderer::Reset() { g_renderer.reset(); }

void CScriptedRenderer::Load(const std::string& path, const std::string& content) {
  path_ = path;
  content_ = content;
  next_ = 0;
  answers_.clear();
  std::vector<Value> values;
  std::string error;
  if (!kv::json::ParseSequence(content, &values, &error)) {
    Log("{\"event\":\"script-error\",\"script\":" + Quote(path) + ",\"message\":" + Quote(error) + "}");
    return;
  }
  for (Value& v : values) {
    if (v.Is(kv::json::Value::Kind::kArray)) {
      for (Value& item : v.items) answers_.push_back(std::move(item));
    } else {
      answers_.push_back(std::move(v));
    }
  }
}

void CScriptedRenderer::Log(const std::string& line) {
  std::string path = kv::ui::EnvironmentValue("KORVESSA_DIALOG_LOG");
  if (path.empty()) return;
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;
  std::fputs(line.c_str(), f);
  std::fputc('\n', f);
  std::fclose(f);
}

const Value* CScriptedRenderer::Peek() const { return next_ < answers_.size() ? &answers_[next_] : nullptr; }

std::string CScriptedRenderer::DialogTag() const {
  return current_ ? std::to_string(current_->ResourceId()) : std::string("null");
}

INT_PTR CScriptedRenderer::RunModal(CKvDialog& dialog) {
  if (current_) return -1;  // one modal dialog at a time
  BeginCommonDialogs();
  current_ = &dialog;
  // A handle only this renderer hands out; nothing dereferences it.
  dialog.Start(reinterpret_cast<HWND>(&dialog));
  std::string id = std::to_string(dialog.ResourceId());
  Log("{\"event\":\"dialog\",\"dialog\":" + id + ",\"title\":" + Quote(AnsiToUtf8(dialog.Title())) +
      ",\"controls\":" + ControlsJson(dialog) + "}");
  const char* reason = "answered";
  while (!dialog.Ended()) {
    const Value* answer = Peek();
    if (!answer || !AnswerNames(*answer, id)) {
      reason = answer ? "other-dialog" : "no-answer";
      dialog.Close();
      break;
    }
    ++next_;
    answer_ = answer;
    Step(dialog, *answer);
    answer_ = nullptr;
  }
  Log("{\"event\":\"closed\",\"dialog\":" + id + ",\"result\":\"" + ResultName(dialog.Result()) +
      "\",\"reason\":\"" + reason + "\"}");
  current_ = nullptr;
  EndCommonDialogs();
  return dialog.Result();
}

void CScriptedRenderer::Step(CKvDialog& dialog, const Value& answer) {
  std::string id = std::to_string(dialog.ResourceId());
  if (const Value* set = answer.Find("set")) {
    for (const auto& member : set->members) {
      Value key;
      key.kind = Value::Kind::kString;
      key.string = member.first;
      int control;
      if (!key.AsInt(&control) || !member.second.Is(kv::json::Value::Kind::kString) || !dialog.AcceptsText(control)) {
        Log("{\"event\":\"ignored\",\"dialog\":" + id + ",\"set\":" + Quote(member.first) +
            ",\"why\":\"not an editable text box\"}");
        continue;
      }
      dialog.TypeText(control, kv::Utf8ToNarrow(member.second.Utf8().c_str()));
    }
  }
  if (const Value* select = answer.Find("select")) {
    int row;
    if (select->AsInt(&row)) dialog.HighlightRow(row);
  }
  if (const Value* press = answer.Find("press")) {
    int button;
    const DialogControl* c = press->AsInt(&button) ? dialog.FindControl(button) : nullptr;
    if (!c || c->kind != ControlKind::kButton || !c->enabled) {
      Log("{\"event\":\"ignored\",\"dialog\":" + id + ",\"press\":" + (c ? std::to_string(button) : "null") +
          ",\"why\":\"" + (c && c->kind == ControlKind::kButton ? "disabled" : "no such button") + "\"}");
      return;
    }
    dialog.PressButton(button);
  }
}

std::string CScriptedRenderer::BrowseAnswer(const char* kind, const std::string& titleUtf8, bool* chosen) {
  const Value* browse = answer_ ? answer_->Find("browse") : nullptr;
  *chosen = browse && browse->Is(kv::json::Value::Kind::kString) && !browse->Utf8().empty();
  Log(std::string("{\"event\":\"browse\",\"dialog\":") + DialogTag() + ",\"kind\":\"" + kind +
      "\",\"title\":" + Quote(titleUtf8) + ",\"result\":" + (*chosen ? Quote(browse->Utf8()) : "null") + "}");
  return *chosen ? browse->Utf8() : std::string();
}

bool CScriptedRenderer::AskOpenFile(const std::string& titleUtf8, const std::vector<std::string>& filtersUtf8,
                                    std::string* path) {
  bool chosen = false;
  if (current_) {
    *path = BrowseAnswer("file", titleUtf8, &chosen);
    return chosen;
  }
  // Without a dialog of ours around it, the open-file dialog is a dialog of
  // its own and takes an answer named "open-file".
  std::string filters = "[";
  for (size_t i = 0; i < filtersUtf8.size(); ++i) filters += (i ? "," : "") + Quote(filtersUtf8[i]);
  filters += "]";
  Log("{\"event\":\"dialog\",\"dialog\":\"open-file\",\"title\":" + Quote(titleUtf8) + ",\"filters\":" + filters +
      "}");
  const Value* answer = Peek();
  const char* reason = "answered";
  if (!answer || !AnswerNames(*answer, "open-file")) {
    reason = answer ? "other-dialog" : "no-answer";
  } else {
    ++next_;
    const Value* browse = answer->Find("browse");
    const Value* press = answer->Find("press");
    int button = IDOK;
    if (press && !press->AsInt(&button)) button = IDCANCEL;
    chosen = button == IDOK && browse && browse->Is(kv::json::Value::Kind::kString) && !browse->Utf8().empty();
    if (chosen) *path = browse->Utf8();
  }
  Log(std::string("{\"event\":\"closed\",\"dialog\":\"open-file\",\"result\":\"") +
      (chosen ? "IDOK" : "IDCANCEL") + "\",\"reason\":\"" + reason + "\"" +
      (chosen ? ",\"path\":" + Quote(*path) : std::string()) + "}");
  return chosen;
}

bool CScriptedRenderer::AskFolder(const std::string& titleUtf8, std::string* path) {
  bool chosen = false;
  *path = BrowseAnswer("folder", titleUtf8, &chosen);
  return chosen;
}

int CScriptedRenderer::Message(const std::string& textUtf8, const std::string& captionUtf8, UINT type) {
  Log("{\"event\":\"message\",\"dialog\":" + DialogTag() + ",\"caption\":" + Quote(captionUtf8) +
      ",\"text\":" + Quote(textUtf8) + ",\"type\":" + std::to_string(type) + "}");
  // The box is acknowledged with its first button.
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
  }
}

void CScriptedRenderer::DocumentOpened(const std::string& pathUtf8) {
  Log("{\"event\":\"open-document\",\"dialog\":" + DialogTag() + ",\"path\":" + Quote(pathUtf8) + "}");
}

#ifndef _WIN32

void CScriptedRenderer::BeginCommonDialogs() { scopes_.push_back(new kv::platform::ScopedDesktop(this)); }

void CScriptedRenderer::EndCommonDialogs() {
  if (scopes_.empty()) return;
  delete static_cast<kv::platform::ScopedDesktop*>(scopes_.back());
  scopes_.pop_back();
}

bool CScriptedRenderer::OpenFile(const kv::platform::OpenFileRequest& request, std::string* path) {
  std::vector<std::string> filters;
  for (const auto& f : request.filters) filters.push_back(f.description);
  return AskOpenFile(request.title, filters, path);
}

bool CScriptedRenderer::BrowseFolder(HWND, const std::string& title, std::string* path) {
  return AskFolder(title, path);
}

int CScriptedRenderer::ShowMessage(HWND, const std::string& text, const std::string& caption, UINT type) {
  return Message(text, caption, type);
}

// The viewer is not started for scripted runs; the transcript says what
// would have been opened.
bool CScriptedRenderer::OpenDocument(HWND, const std::string& path, bool* opened) {
  DocumentOpened(path);
  *opened = true;
  return true;
}

#else

// On Windows the system draws the common dialogs itself.
void CScriptedRenderer::BeginCommonDialogs() {}
void CScriptedRenderer::EndCommonDialogs() {}

#endif
