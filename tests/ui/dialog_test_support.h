// Helpers for the dialog tests: a recording desktop for the common dialogs,
// and scripted runs with their transcript.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvwin/desktop.h"
#include "support/temp_home.h"
#include "kvcommon/json.h"

namespace kv::test {

// Answers the common dialogs from fields and records what they were asked.
class RecordingDesktop : public kv::platform::Desktop {
 public:
  bool OpenFile(const kv::platform::OpenFileRequest& request, std::string* path) override {
    requests.push_back(request);
    if (fileAnswer.empty()) return false;
    *path = fileAnswer;
    return true;
  }
  bool BrowseFolder(HWND, const std::string& title, std::string* path) override {
    folderTitles.push_back(title);
    if (folderAnswer.empty()) return false;
    *path = folderAnswer;
    return true;
  }
  int ShowMessage(HWND, const std::string& text, const std::string& caption, UINT type) override {
    messages.push_back(text);
    captions.push_back(caption);
    types.push_back(type);
    return IDOK;
  }
  bool OpenDocument(HWND, const std::string& path, bool* opened) override {
    documents.push_back(path);
    *opened = true;
    return true;
  }

  std::string fileAnswer, folderAnswer;
  std::vector<kv::platform::OpenFileRequest> requests;
  std::vector<std::string> folderTitles, messages, captions, documents;
  std::vector<UINT> types;
};

// A fresh folder, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name, const std::string& content = "x") const;

 private:
  std::string path_;
};

// Points the dialogs at a script (and a transcript) for the scope; no
// display is used.
class ScriptedDialogs {
 public:
  explicit ScriptedDialogs(const std::string& answersJson);
  ~ScriptedDialogs();
  // The transcript so far, one parsed object a line.
  std::vector<kv::json::Value> Transcript() const;
  // Transcript events of one kind.
  std::vector<kv::json::Value> Events(const std::string& kind) const;

 private:
  TempFolder folder_;
  ScopedEnv script_, log_, display_, wayland_;
};

// UTF-8 literal as the ANSI code page text the models hold.
std::string Ansi(const char* utf8);

}  // namespace kv::test
