// The consent dialog's three answers and the caller origin in every caption
// the engine shows during a page's call.
#include "ui/consent_dialog.h"

#include <gtest/gtest.h>

#include "host/caller_origin.h"
#include "ui/common_dialogs.h"
#include "ui/dialog_launch.h"
#include "ui/dialog_test_support.h"

namespace {

using kv::test::ScriptedDialogs;
using kv::ui::Consent;

class ConsentDialogTest : public kv::test::HomeTest {};

TEST_F(ConsentDialogTest, AnswersOnceOrAlwaysEitherWayAndShowsTheOrigin) {
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 1}])");
    EXPECT_EQ(Consent::kOnce, kv::ui::AskOriginConsent("http://127.0.0.1:8000"));
    auto shown = run.Events("dialog");
    ASSERT_EQ(1u, shown.size());
    bool originShown = false;
    for (const auto& control : shown[0].Find("controls")->items)
      if (control.Find("text")->Utf8() == "http://127.0.0.1:8000") originShown = true;
    EXPECT_TRUE(originShown);
  }
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 310}])");
    EXPECT_EQ(Consent::kAlways, kv::ui::AskOriginConsent("https://a.example:443"));
  }
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 2}])");
    EXPECT_EQ(Consent::kDeny, kv::ui::AskOriginConsent("https://a.example:443"));
  }
  {
    ScriptedDialogs run(R"([{"dialog": 208, "press": 311}])");
    EXPECT_EQ(Consent::kDenyAlways, kv::ui::AskOriginConsent("https://a.example:443"));
  }
  {
    // Answers run out: the dialog is closed, which refuses.
    ScriptedDialogs run("[]");
    EXPECT_EQ(Consent::kDeny, kv::ui::AskOriginConsent("https://a.example:443"));
  }
}

TEST_F(ConsentDialogTest, NoDialogToShowIsARefusal) {
  kv::test::ScopedEnv noScript("KORVESSA_DIALOGS", nullptr);
  kv::test::ScopedEnv noDisplay("DISPLAY", nullptr);
  kv::test::ScopedEnv noWayland("WAYLAND_DISPLAY", nullptr);
  EXPECT_EQ(Consent::kDeny, kv::ui::AskOriginConsent("https://a.example:443"));
}

TEST_F(ConsentDialogTest, EveryDialogAndMessageBoxOfAPageCallNamesItsOrigin) {
  ScriptedDialogs run(R"([{"dialog": 201, "press": 1}])");
  {
    kv::ScopedCallerOrigin page("https://trade.example.com.tw:443");
    EXPECT_EQ(ERR_SUCCESS, kv::ui::ConfirmSignature("content", "01", "Signer", "2026/01/01", "2027/01/01"));
  }
  EXPECT_EQ("", kv::CallerOrigin());
  auto shown = run.Events("dialog");
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(kv::test::Ansi("執行簽章(Sign with this Certificate) - https://trade.example.com.tw:443"),
            kv::test::Ansi(shown[0].Find("title")->Utf8().c_str()));
  // Without a page the captions stay as they were.
  EXPECT_EQ("caption", kv::CaptionWithCallerOrigin("caption"));
  kv::ScopedCallerOrigin page("http://127.0.0.1:1");
  EXPECT_EQ("caption - http://127.0.0.1:1", kv::CaptionWithCallerOrigin("caption"));
}

TEST_F(ConsentDialogTest, MessageBoxCaptionsNameTheOrigin) {
  kv::test::RecordingDesktop desktop;
  kv::test::ScopedEnv noScript("KORVESSA_DIALOGS", nullptr);
  kv::platform::ScopedDesktop use(&desktop);
  kv::ScopedCallerOrigin page("http://127.0.0.1:1");
  kv::ui::ShowMessageBox(nullptr, "text", "caption", MB_OK);
  ASSERT_EQ(1u, desktop.captions.size());
  EXPECT_EQ("caption - http://127.0.0.1:1", desktop.captions[0]);
}

}  // namespace
