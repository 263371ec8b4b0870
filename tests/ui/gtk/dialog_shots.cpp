// Shows every dialog through the GTK renderer, driven to OK and to Cancel by
// the module's autopilot, and saves a picture of each into the folder given
// as the only argument. Prints one line per launch: "<name> <code> <values>".
// Exit status 77: no GTK renderer could be started.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vocabulary/text.h"
#include "ui/desktop_module.h"
#include "ui/dialog_launch.h"
#include "ui/dialog_renderer.h"
#include "host/caller_origin.h"
#include "ui/page_action_dialog.h"
#include "ui/token_pin_dialog.h"

namespace {

void Write(const std::string& path, const std::string& text) {
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

void Report(const char* name, ErrorCode code, const std::string& values = "") {
  std::printf("%s %d %s\n", name, static_cast<int>(code), values.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
    return 2;
  }
  std::string out = argv[1];
  std::string certs = out + "/certs";
  mkdir(out.c_str(), 0700);
  mkdir(certs.c_str(), 0700);
  std::string pfx = certs + "/user.pfx";
  Write(pfx, "not really a pfx");
  std::remove((out + "/widgets.jsonl").c_str());

  std::string answers = R"([
    {"dialog": 202, "press": 1},
    {"dialog": 202, "press": 301, "browse": ")" + pfx + R"("},
    {"dialog": 202, "set": {"303": "secret"}, "press": 1},
    {"dialog": 202, "press": 2},
    {"dialog": 203, "set": {"303": "old", "304": "new", "305": "new"}, "press": 1},
    {"dialog": 203, "press": 1},
    {"dialog": 205, "set": {"303": "typed"}, "press": 1},
    {"dialog": 205, "press": 2},
    {"dialog": 206, "set": {"303": "abc123", "304": "abc123"}, "press": 1},
    {"dialog": 206, "press": 301, "browse": ")" + out + R"(/exported"},
    {"dialog": 206, "press": 1},
    {"dialog": 206, "press": 2},
    {"dialog": 207, "press": 1},
    {"dialog": 207, "press": 2},
    {"dialog": 204, "select": 1, "press": 1},
    {"dialog": 204, "press": 2},
    {"dialog": 201, "press": 1},
    {"dialog": 201, "press": 2},
    {"dialog": 210, "press": 1},
    {"dialog": 210, "press": 2},
    {"dialog": 211, "set": {"342": "4321"}, "press": 1},
    {"dialog": 211, "press": 2},
    {"dialog": "open-file", "browse": ")" + pfx + R"("}
  ])";
  Write(out + "/autopilot.json", answers);
  setenv("KORVESSA_GTK_AUTOPILOT", (out + "/autopilot.json").c_str(), 1);
  setenv("KORVESSA_GTK_SHOTS", out.c_str(), 1);
  unsetenv("KORVESSA_DIALOGS");

  if (!kv::ui::DesktopModuleRenderer() || !kv::ui::ActiveRenderer()) {
    std::fprintf(stderr, "no GTK renderer\n");
    return 77;
  }

  std::string folder, file, password;
  ErrorCode code = kv::ui::AskPfxFile(folder, file, password, 0, 16);
  Report("202-ok", code, folder + "|" + file + "|" + password);
  folder.clear(), file.clear(), password.clear();
  Report("202-cancel", kv::ui::AskPfxFile(folder, file, password, 0, 16));

  std::string oldPw, newPw;
  folder = certs, file = "user.pfx";
  code = kv::ui::AskChangePfxPassword(folder, file, oldPw, newPw, 0, 16);
  Report("203-ok", code, oldPw + "|" + newPw);
  oldPw.clear(), newPw.clear();
  Report("203-cancel", kv::ui::AskChangePfxPassword(folder, file, oldPw, newPw, 0, 16));  // OK stays disabled

  password.clear();
  code = kv::ui::AskPfxPassword(password);
  Report("205-ok", code, password);
  Report("205-cancel", kv::ui::AskPfxPassword(password));

  folder.clear(), file = kv::Utf8ToNarrow("王小明.pfx"), password.clear();
  code = kv::ui::AskExportPfx(folder, file, password, 6, 10);
  Report("206-ok", code, folder + "|" + password);
  folder = out, password = "abc123";
  Report("206-cancel", kv::ui::AskExportPfx(folder, file, password, 6, 10));

  folder = certs, file = "user.pfx", password = "mobile";
  code = kv::ui::AskExportMobile(folder, file, password, 0, 16);
  Report("207-ok", code, folder + "|" + file + "|" + password);
  Report("207-cancel", kv::ui::AskExportMobile(folder, file, password, 0, 16));

  std::vector<CertChooserRow> rows = {
      kv::ui::MakeChooserRow(kv::Utf8ToNarrow("王小明"), "", "0123456789ABCDEF", "2024/01/01", "2026/12/31",
                             kv::Utf8ToNarrow("測試憑證中心"), "", nullptr, 0),
      kv::ui::MakeChooserRow("", "C=TW, O=Example Securities, OU=Trading", "7F", "2025/03/01", "2027/02/28", "",
                             "C=TW, O=Example CA", nullptr, 0),
      kv::ui::MakeChooserRow("Lee Mei", "", "00FF", "2023/06/15", "2025/06/14", "Example CA", "", nullptr, 0)};
  int chosen = -1;
  code = kv::ui::ChooseCertificate(rows, &chosen);
  Report("204-ok", code, std::to_string(chosen));
  Report("204-cancel", kv::ui::ChooseCertificate(rows, &chosen));

  std::string content = kv::Utf8ToNarrow("委託買進 2330 台積電 1000 股，價格 600 元。");
  for (int i = 0; i < 12; ++i) content += "\r\nline " + std::to_string(i + 1);
  Report("201-ok", kv::ui::ConfirmSignature(content, "0123456789ABCDEF", kv::Utf8ToNarrow("王小明"),
                                            "20240101080000", "20261231235959"));
  Report("201-cancel", kv::ui::ConfirmSignature(content, "01", "cn", "20240101080000", "20261231235959"));

  const std::string what = kv::Utf8ToNarrow("讀出個人憑證區的私密金鑰, 加密後交給此網站\r\n憑證篩選 : S_CN=王小明");
  Report("210-ok", kv::ui::ConfirmPageAction("https://trade.example.com.tw:443", what));
  Report("210-cancel", kv::ui::ConfirmPageAction("https://trade.example.com.tw:443", what));

  std::string pin;
  {
    kv::ScopedCallerOrigin page("https://trade.example.com.tw:443");
    code = kv::ui::AskTokenPin(kv::Utf8ToNarrow("自然人憑證"), &pin);
  }
  Report("211-ok", code, pin);
  Report("211-cancel", kv::ui::AskTokenPin("Test Token", &pin));

  std::string path;
  bool opened = kv::ui::ChooseFileToOpen(kv::Utf8ToNarrow("請選擇檔案"), "All Files (*.*)|*.*||", "", nullptr, 0x106,
                                         &path);
  Report("open-file", opened ? 0 : ERR_USER_CANCEL, path);
  return 0;
}
