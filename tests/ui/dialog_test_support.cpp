// Recording desktop, temporary folders and scripted runs for the dialog
// tests.
#include "ui/dialog_test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "vocabulary/text.h"
#include "ui/script/scripted_renderer.h"

namespace kv::test {

TempFolder::TempFolder() {
  char pattern[] = "/tmp/kv-dialogs-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made ? made : "";
}

TempFolder::~TempFolder() {
  if (!path_.empty()) RunCommand("rm -rf '" + path_ + "'");
}

std::string TempFolder::File(const std::string& name, const std::string& content) const {
  std::string path = path_ + "/" + name;
  WriteFile(path, content);
  return path;
}

ScriptedDialogs::ScriptedDialogs(const std::string& answersJson)
    : script_("KORVESSA_DIALOGS", folder_.File("answers.json", answersJson).c_str()),
      log_("KORVESSA_DIALOG_LOG", (folder_.path() + "/transcript.jsonl").c_str()),
      display_("DISPLAY", nullptr),
      wayland_("WAYLAND_DISPLAY", nullptr) {
  CScriptedRenderer::Reset();
}

ScriptedDialogs::~ScriptedDialogs() { CScriptedRenderer::Reset(); }

std::vector<kv::json::Value> ScriptedDialogs::Transcript() const {
  std::vector<kv::json::Value> lines;
  std::string error;
  EXPECT_TRUE(kv::json::ParseSequence(ReadFile(folder_.path() + "/transcript.jsonl"), &lines, &error)) << error;
  return lines;
}

std::vector<kv::json::Value> ScriptedDialogs::Events(const std::string& kind) const {
  std::vector<kv::json::Value> out;
  for (const kv::json::Value& v : Transcript()) {
    const kv::json::Value* event = v.Find("event");
    if (event && event->Utf8() == kind) out.push_back(v);
  }
  return out;
}

std::string Ansi(const char* utf8) { return kv::Utf8ToNarrow(utf8); }

}  // namespace kv::test
