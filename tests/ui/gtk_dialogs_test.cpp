// The GTK renderer under a virtual display: every dialog opens with its
// texts, is driven to OK and to Cancel by the module's autopilot, and is
// saved as a PNG in <build>/dialog-shots for a person to look at. Runs the
// driver in a child process so the toolkit never enters the test binary.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <sstream>

#include "support/temp_home.h"
#include "kvcommon/json.h"

namespace {

using kv::json::Value;

std::string BuildDir() {
  std::string lib = KV_LIBRARY_PATH;
  return lib.substr(0, lib.rfind('/'));
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> Shots(const std::string& folder, const std::string& part) {
  std::string list;
  kv::test::RunCommand("ls '" + folder + "' | grep -- '" + part + "' | grep '\\.png$'", &list);
  std::vector<std::string> names;
  std::istringstream lines(list);
  for (std::string line; std::getline(lines, line);) names.push_back(line);
  return names;
}

const Value* ShownDialog(const std::vector<Value>& widgets, int id) {
  for (const Value& v : widgets) {
    int n;
    if (v.Find("dialog")->AsInt(&n) && n == id) return &v;
  }
  return nullptr;
}

bool HasText(const Value& shown, const std::string& text) {
  for (const Value& t : shown.Find("texts")->items)
    if (t.Utf8() == text) return true;
  return false;
}

TEST(GtkDialogs, EveryDialogUnderXvfb) {
  std::string driver = BuildDir() + "/korvessa_dialog_shots";
  if (!Exists(driver)) GTEST_SKIP() << "the GTK renderer module is not built";
  if (kv::test::RunCommand("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
  std::string out = BuildDir() + "/dialog-shots";
  kv::test::RunCommand("rm -rf '" + out + "'");
  std::string results;
  int status = kv::test::RunCommand(
      "env -u KORVESSA_DIALOGS -u KORVESSA_DIALOG_LOG -u WAYLAND_DISPLAY GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 "
      "ASAN_OPTIONS=detect_leaks=0 timeout 120 xvfb-run -a -s '-screen 0 1280x1024x24' '" +
          driver + "' '" + out + "' 2>" + out + ".log",
      &results);
  if (status == 77) GTEST_SKIP() << "no GTK renderer could be started";
  if (status != 0 && results.empty()) GTEST_SKIP() << "the virtual display did not start (see " << out << ".log)";
  ASSERT_EQ(0, status) << results;

  std::map<std::string, std::string> outcome;
  std::istringstream lines(results);
  for (std::string line; std::getline(lines, line);) {
    size_t space = line.find(' ');
    outcome[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
  }
  EXPECT_EQ("0 " + out + "/certs|user.pfx|secret", outcome["202-ok"]);
  EXPECT_EQ("0 old|new", outcome["203-ok"]);
  EXPECT_EQ("0 typed", outcome["205-ok"]);
  EXPECT_EQ("0 " + out + "/exported|abc123", outcome["206-ok"]);
  EXPECT_EQ("0 " + out + "/certs|user.pfx|mobile", outcome["207-ok"]);
  EXPECT_EQ("0 1", outcome["204-ok"]);
  EXPECT_EQ("0 ", outcome["201-ok"]);
  EXPECT_EQ("0 ", outcome["210-ok"]);
  EXPECT_EQ("0 4321", outcome["211-ok"]);
  EXPECT_EQ("0 " + out + "/certs/user.pfx", outcome["open-file"]);
  for (const char* cancelled : {"202-cancel", "203-cancel", "205-cancel", "206-cancel", "207-cancel", "204-cancel",
                                "201-cancel", "210-cancel", "211-cancel"})
    EXPECT_EQ("5070 ", outcome[cancelled]) << cancelled;

  for (const char* part : {"-201-", "-202-", "-203-", "-204-", "-205-", "-206-", "-207-", "-210-", "-211-", "-message", "-open-file"}) {
    std::vector<std::string> shots = Shots(out, part);
    ASSERT_FALSE(shots.empty()) << part;
    std::string png = kv::test::ReadFile(out + "/" + shots[0]);
    EXPECT_GT(png.size(), 2000u) << shots[0];
    EXPECT_EQ(0u, png.rfind("\x89PNG", 0)) << shots[0];
  }

  std::vector<Value> widgets;
  std::string error;
  ASSERT_TRUE(kv::json::ParseSequence(kv::test::ReadFile(out + "/widgets.jsonl"), &widgets, &error)) << error;
  const std::map<int, const char*> titles = {{201, "執行簽章(Sign with this Certificate)"},
                                             {202, "輸入憑證檔案資訊"},
                                             {203, "變更憑證檔案密碼"},
                                             {204, "請挑選您的憑證"},
                                             {205, "輸入憑證檔密碼"},
                                             {206, "輸入憑證檔案資訊"},
                                             {207, "輸入憑證檔案資訊"},
                                             {210, "憑證作業確認"},
                                             {211, "智慧卡密碼驗證 - https://trade.example.com.tw:443"}};
  for (const auto& title : titles) {
    const Value* shown = ShownDialog(widgets, title.first);
    ASSERT_NE(nullptr, shown) << title.first;
    EXPECT_EQ(title.second, shown->Find("title")->Utf8());
    EXPECT_TRUE(HasText(*shown, title.first == 201 ? "確定(Ok)" : title.first == 210 ? "允許" : "確定")) << title.first;
  }
  EXPECT_TRUE(HasText(*ShownDialog(widgets, 206), "請設定憑證密碼(英文或數字6～10碼)"));
  EXPECT_TRUE(HasText(*ShownDialog(widgets, 207), "******"));  // the preset password, masked
  EXPECT_TRUE(HasText(*ShownDialog(widgets, 201), "王小明"));
  EXPECT_TRUE(HasText(*ShownDialog(widgets, 210), "https://trade.example.com.tw:443"));
  EXPECT_TRUE(HasText(*ShownDialog(widgets, 211), "自然人憑證"));
  EXPECT_TRUE(HasText(*ShownDialog(widgets, 211), "https://trade.example.com.tw:443"));
  // Typing goes to the PIN, not to the token's name shown above it.
  EXPECT_EQ(342, ShownDialog(widgets, 211)->Find("focus")->integer);
  const Value* columns = ShownDialog(widgets, 204)->Find("columns");
  ASSERT_EQ(5u, columns->items.size());
  const char* names[] = {"憑證持有人", "憑證序號", "起始日", "截止日", "憑證發行者"};
  const int widths[] = {150, 110, 110, 110, 180};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(names[i], columns->items[i].Find("title")->Utf8());
    int width;
    ASSERT_TRUE(columns->items[i].Find("width")->AsInt(&width));
    EXPECT_EQ(widths[i], width);
  }
}

}  // namespace
