// The launch routines end to end through scripted answers, and the
// transcript they leave.
#include <gtest/gtest.h>

#include "ui/dialog_launch.h"
#include "ui/dialog_renderer.h"
#include "ui/dialog_test_support.h"

namespace {

using kv::json::Value;
using kv::test::Ansi;
using kv::test::ScopedEnv;
using kv::test::ScriptedDialogs;
using kv::test::TempFolder;

std::string Str(const Value& v, const char* name) {
  const Value* m = v.Find(name);
  return m && m->Is(kv::json::Value::Kind::kString) ? m->Utf8() : std::string("<none>");
}

const Value* ControlById(const Value& dialogEvent, int id) {
  const Value* controls = dialogEvent.Find("controls");
  if (!controls) return nullptr;
  for (const Value& c : controls->items) {
    int n;
    if (c.Find("id")->AsInt(&n) && n == id) return &c;
  }
  return nullptr;
}

TEST(ScriptedDialogs, NoScriptNoDisplayCannotCreate) {
  ScopedEnv script("KORVESSA_DIALOGS", nullptr);
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  std::string folder, file, password, old;
  EXPECT_EQ(ERR_MEM_ALLOC, kv::ui::AskPfxFile(folder, file, password, 0, 16));
  EXPECT_EQ("*.pfx", file);
  EXPECT_EQ(ERR_MEM_ALLOC, kv::ui::AskPfxPassword(password));
  std::vector<CertChooserRow> rows(1);
  int chosen = -1;
  EXPECT_EQ(ERR_MEM_ALLOC, kv::ui::ChooseCertificate(rows, &chosen));
  EXPECT_EQ(ERR_CERT_NOT_FOUND, kv::ui::ChooseCertificate({}, &chosen));
  EXPECT_EQ(ERR_MEM_ALLOC, kv::ui::ConfirmSignature("c", "01", "cn", "a", "b"));
  std::string path;
  EXPECT_FALSE(kv::ui::ChooseFileToOpen("t", "All Files (*.*)|*.*||", "", nullptr, 0, &path));
}

TEST(ScriptedDialogs, PfxFileAnsweredWithTranscript) {
  TempFolder certs;
  std::string pfx = certs.File("user.pfx");
  ScriptedDialogs run(R"([
    {"dialog": 202, "press": 1},
    {"dialog": 202, "press": 301, "browse": ")" + pfx + R"("},
    {"dialog": 202, "set": {"303": "pass"}, "press": 1}
  ])");
  std::string folder, file, password = "";
  ASSERT_EQ(ERR_SUCCESS, kv::ui::AskPfxFile(folder, file, password, 0, 16));
  EXPECT_EQ(certs.path(), folder);
  EXPECT_EQ("user.pfx", file);
  EXPECT_EQ("pass", password);

  std::vector<Value> lines = run.Transcript();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ("dialog", Str(lines[0], "event"));
  EXPECT_EQ("輸入憑證檔案資訊", Str(lines[0], "title"));
  EXPECT_EQ("瀏覽", Str(*ControlById(lines[0], 301), "text"));
  EXPECT_EQ("", Str(*ControlById(lines[0], 302), "text"));  // no folder: empty box
  bool sawPathLabel = false;
  for (const Value& c : lines[0].Find("controls")->items)
    if (Str(c, "text") == "憑證檔案儲存路徑 :") sawPathLabel = true;
  EXPECT_TRUE(sawPathLabel);
  std::vector<Value> messages = run.Events("message");
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ("錯誤訊息", Str(messages[0], "caption"));
  EXPECT_EQ("憑證檔(未指定) : 錯誤或不存在", Str(messages[0], "text"));
  std::vector<Value> browses = run.Events("browse");
  ASSERT_EQ(1u, browses.size());
  EXPECT_EQ("file", Str(browses[0], "kind"));
  EXPECT_EQ("選擇憑證檔案", Str(browses[0], "title"));
  EXPECT_EQ(pfx, Str(browses[0], "result"));
  std::vector<Value> closed = run.Events("closed");
  ASSERT_EQ(1u, closed.size());
  EXPECT_EQ("IDOK", Str(closed[0], "result"));
}

TEST(ScriptedDialogs, PasswordsAreMaskedInTheTranscript) {
  ScriptedDialogs run(R"({"dialog": 207, "press": 2})");
  std::string folder = "/tmp", file, password = "s3cret";
  EXPECT_EQ(ERR_USER_CANCEL, kv::ui::AskExportMobile(folder, file, password, 0, 16));
  EXPECT_EQ("*.pfx", file);  // replaced in the caller's string too
  EXPECT_EQ("s3cret", password);
  std::vector<Value> shown = run.Events("dialog");
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ("******", Str(*ControlById(shown[0], 303), "text"));
  EXPECT_EQ("/tmp\\*.pfx", Str(*ControlById(shown[0], 302), "text"));
}

TEST(ScriptedDialogs, DisabledButtonsAndRunningOut) {
  ScriptedDialogs run(R"([{"dialog": 203, "press": 1}, {"dialog": 203, "set": {"303": "a", "302": "x"}}])");
  std::string folder, file, oldPw, newPw;
  EXPECT_EQ(ERR_USER_CANCEL, kv::ui::AskChangePfxPassword(folder, file, oldPw, newPw, 0, 16));
  std::vector<Value> ignored = run.Events("ignored");
  ASSERT_EQ(2u, ignored.size());
  EXPECT_EQ("disabled", Str(ignored[0], "why"));
  EXPECT_EQ("302", Str(ignored[1], "set"));  // the path box is read-only
  std::vector<Value> closed = run.Events("closed");
  ASSERT_EQ(1u, closed.size());
  EXPECT_EQ("IDCANCEL", Str(closed[0], "result"));
  EXPECT_EQ("no-answer", Str(closed[0], "reason"));
  EXPECT_EQ(Ansi("*.pfx"), file);
}

TEST(ScriptedDialogs, ChangePasswordMismatchGives5209) {
  TempFolder certs;
  certs.File("a.pfx");
  ScriptedDialogs run(R"({"dialog": 203, "set": {"303": "old", "304": "new1", "305": "new2"}, "press": 1})");
  std::string folder = certs.path(), file = "a.pfx", oldPw, newPw = "";
  EXPECT_EQ(ERR_PASSWORD_MISMATCH, kv::ui::AskChangePfxPassword(folder, file, oldPw, newPw, 0, 16));
  EXPECT_EQ("", newPw);
  EXPECT_EQ("", oldPw);
}

TEST(ScriptedDialogs, ChangePasswordAnswered) {
  TempFolder certs;
  certs.File("a.pfx");
  ScriptedDialogs run(R"({"dialog": 203, "set": {"303": "old", "304": "new", "305": "new"}, "press": 1})");
  std::string folder = certs.path(), file = "a.pfx", oldPw, newPw;
  ASSERT_EQ(ERR_SUCCESS, kv::ui::AskChangePfxPassword(folder, file, oldPw, newPw, 0, 16));
  EXPECT_EQ("old", oldPw);
  EXPECT_EQ("new", newPw);
  std::vector<Value> shown = run.Events("dialog");
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ("請設定憑證密碼(英文或數字1～16碼)", Str(*ControlById(shown[0], 306), "text"));
  EXPECT_FALSE(ControlById(shown[0], 301)->Find("enabled")->boolean);  // the file exists
}

TEST(ScriptedDialogs, AnswerForAnotherDialogCancelsAndWaits) {
  ScriptedDialogs run(R"([{"dialog": 201, "press": 1}])");
  std::string password;
  EXPECT_EQ(ERR_USER_CANCEL, kv::ui::AskPfxPassword(password));
  EXPECT_EQ("other-dialog", Str(run.Events("closed")[0], "reason"));
  EXPECT_EQ(ERR_SUCCESS, kv::ui::ConfirmSignature("text", "01", "cn", "20240101000000", "20250101000000"));
}

TEST(ScriptedDialogs, ChooserSelectsARow) {
  std::vector<CertChooserRow> rows(3);
  rows[0].holder = "A";
  rows[1].holder = "B";
  rows[2].holder = Ansi("丙");
  ScriptedDialogs run(R"([{"dialog": 204, "select": 2, "press": 1}, {"dialog": 204, "select": -1, "press": 1}])");
  int chosen = -1;
  ASSERT_EQ(ERR_SUCCESS, kv::ui::ChooseCertificate(rows, &chosen));
  EXPECT_EQ(2, chosen);
  ASSERT_EQ(ERR_SUCCESS, kv::ui::ChooseCertificate(rows, &chosen));
  EXPECT_EQ(0, chosen);
  std::vector<Value> shown = run.Events("dialog");
  ASSERT_EQ(2u, shown.size());
  EXPECT_EQ("請挑選您的憑證", Str(shown[0], "title"));
  ASSERT_EQ(3u, shown[0].Find("rows")->items.size());
  EXPECT_EQ("丙", shown[0].Find("rows")->items[2].items[0].Utf8());
  EXPECT_EQ("憑證發行者", Str(shown[0].Find("columns")->items[4], "title"));
}

TEST(ScriptedDialogs, OwnerlessOpenFile) {
  ScriptedDialogs run(R"([{"dialog": "open-file", "browse": "/data/report.txt"}, {"dialog": "open-file", "press": 2, "browse": "/x"}])");
  std::string path;
  ASSERT_TRUE(kv::ui::ChooseFileToOpen(Ansi("請選擇檔案"), "All Files (*.*)|*.*||", "", nullptr, 0x106, &path));
  EXPECT_EQ("/data/report.txt", path);
  EXPECT_FALSE(kv::ui::ChooseFileToOpen(Ansi("請選擇檔案"), "All Files (*.*)|*.*||", "", nullptr, 0x106, &path));
  EXPECT_FALSE(kv::ui::ChooseFileToOpen(Ansi("請選擇檔案"), "All Files (*.*)|*.*||", "", nullptr, 0x106, &path));
  std::vector<Value> shown = run.Events("dialog");
  ASSERT_EQ(3u, shown.size());
  EXPECT_EQ("請選擇檔案", Str(shown[0], "title"));
  EXPECT_EQ("All Files (*.*)", shown[0].Find("filters")->items[0].Utf8());
}

TEST(ScriptedDialogs, MalformedScriptCancels) {
  ScriptedDialogs run(R"([{"dialog": 205, "press": 1)");
  std::string password;
  EXPECT_EQ(ERR_USER_CANCEL, kv::ui::AskPfxPassword(password));
  EXPECT_EQ(1u, run.Events("script-error").size());
}

TEST(ScriptedDialogs, FileToHash) {
  ScriptedDialogs run(R"([{"dialog": "open-file", "browse": "/data/a.bin"}, {"dialog": 202, "press": 1}])");
  std::string path;
  ASSERT_EQ(ERR_SUCCESS, kv::ui::AskFileToHash(&path));
  EXPECT_EQ("/data/a.bin", path);
  // The next answer is for another dialog: the file dialog is cancelled.
  EXPECT_EQ(ERR_USER_CANCEL, kv::ui::AskFileToHash(&path));
  std::vector<Value> shown = run.Events("dialog");
  ASSERT_EQ(2u, shown.size());
  EXPECT_EQ("請選擇檔案", Str(shown[0], "title"));
  EXPECT_EQ("other-dialog", Str(run.Events("closed")[1], "reason"));
}

TEST(ScriptedDialogs, FileToHashWithoutAnyDesktop) {
  ScopedEnv script("KORVESSA_DIALOGS", nullptr);
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  std::string path = "unchanged";
  EXPECT_EQ(ERR_USER_CANCEL, kv::ui::AskFileToHash(&path));
  EXPECT_EQ("unchanged", path);
}

}  // namespace
