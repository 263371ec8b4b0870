// HashFile with an empty path asks for the file in the open-file dialog:
// end to end through scripted answers.
#include <gtest/gtest.h>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "ui/dialog_test_support.h"

namespace {

using kv::test::ScriptedDialogs;
using kv::test::TempFolder;

std::string Take(BSTR result) { return kv::TakeNarrow(result); }

TEST(HashFileDialog, ChosenFileIsDigested) {
  TempFolder folder;
  std::string file = folder.File("abc.txt", "abc");
  ScriptedDialogs run(R"([{"dialog": "open-file", "browse": ")" + file + R"("},
                          {"dialog": "open-file", "press": 2},
                          {"dialog": "open-file", "browse": ")" + folder.path() + R"(/gone.txt"}])");
  CCapiEngine& engine = TheEngine();
  EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", Take(engine.HashFile(kv::NarrowToBstr(""), 0)));
  EXPECT_EQ(ERR_SUCCESS, engine.Code());
  EXPECT_EQ("", Take(engine.HashFile(nullptr, 1)));
  EXPECT_EQ(ERR_USER_CANCEL, engine.Code());
  EXPECT_EQ("", Take(engine.HashFile(kv::NarrowToBstr(""), 0)));  // chosen, but not there
  EXPECT_EQ(ERR_FILE_NOT_FOUND, engine.Code());
  EXPECT_EQ("", Take(engine.HashFile(kv::NarrowToBstr(""), 0)));  // answers ran out
  EXPECT_EQ(ERR_USER_CANCEL, engine.Code());

  std::vector<kv::json::Value> shown = run.Events("dialog");
  ASSERT_EQ(4u, shown.size());
  for (const kv::json::Value& d : shown) {
    EXPECT_EQ("open-file", d.Find("dialog")->Utf8());
    EXPECT_EQ("請選擇檔案", d.Find("title")->Utf8());
    ASSERT_EQ(1u, d.Find("filters")->items.size());
    EXPECT_EQ("All Files (*.*)", d.Find("filters")->items[0].Utf8());
  }
  std::vector<kv::json::Value> closed = run.Events("closed");
  ASSERT_EQ(4u, closed.size());
  EXPECT_EQ("IDOK", closed[0].Find("result")->Utf8());
  EXPECT_EQ("IDCANCEL", closed[1].Find("result")->Utf8());
  EXPECT_EQ("no-answer", closed[3].Find("reason")->Utf8());
}

}  // namespace
