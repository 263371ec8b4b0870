// The smart-card PIN dialog: what it shows, what it answers, and the prompt
// the stand-in's smart-card provider asks through.
#include "ui/token_pin_dialog.h"

#include <gtest/gtest.h>

#include "host/caller_origin.h"
#include "kvwin/desktop.h"
#include "ui/dialog_test_support.h"

namespace {

using kv::test::ScriptedDialogs;

class TokenPinDialogTest : public kv::test::HomeTest {};

// The texts of the edit boxes of the one dialog shown.
std::vector<std::string> EditTexts(const ScriptedDialogs& run) {
  std::vector<std::string> texts;
  auto shown = run.Events("dialog");
  EXPECT_EQ(1u, shown.size());
  if (shown.empty()) return texts;
  for (const auto& control : shown[0].Find("controls")->items)
    if (control.Find("kind")->Utf8() == "edit") texts.push_back(control.Find("text")->Utf8());
  return texts;
}

TEST_F(TokenPinDialogTest, AnswersWithThePinNamingTokenAndOrigin) {
  const struct {
    const char* answers;
    const char* origin;
    ErrorCode code;
    const char* pin;
  } cases[] = {
      {R"([{"dialog": 211, "set": {"342": "4321"}, "press": 1}])", "", ERR_SUCCESS, "4321"},
      {R"([{"dialog": 211, "set": {"342": "4321"}, "press": 1}])", "https://trade.example.com.tw:443", ERR_SUCCESS,
       "4321"},
      {R"([{"dialog": 211, "set": {"342": "4321"}, "press": 2}])", "", ERR_USER_CANCEL, ""},
      {"[]", "", ERR_USER_CANCEL, ""},
  };
  for (const auto& c : cases) {
    ScriptedDialogs run(c.answers);
    kv::ScopedCallerOrigin origin(c.origin);
    std::string pin;
    EXPECT_EQ(c.code, kv::ui::AskTokenPin("Test Token", &pin)) << c.answers;
    EXPECT_EQ(c.pin, pin);
    // Token, origin, and the PIN masked in the transcript.
    std::vector<std::string> texts = EditTexts(run);
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("Test Token", texts[0]);
    EXPECT_EQ(c.origin, texts[1]);
    EXPECT_EQ(std::string::npos, texts[2].find("4321"));
  }
}

TEST_F(TokenPinDialogTest, ProviderPromptSpeaksUtf8) {
  kv::platform::TokenPinPrompt saved = kv::platform::SwapTokenPinPrompt(nullptr);
  kv::ui::InstallTokenPinPrompt();
  kv::platform::TokenPinPrompt prompt = kv::platform::ActiveTokenPinPrompt();
  ASSERT_NE(nullptr, prompt);
  {
    ScriptedDialogs run(R"([{"dialog": 211, "set": {"342": "0000"}, "press": 1}])");
    std::string pin;
    EXPECT_TRUE(prompt(u8"智慧卡 A", &pin));
    EXPECT_EQ("0000", pin);
    EXPECT_EQ(u8"智慧卡 A", EditTexts(run)[0]);  // the token's label reaches the dialog intact
  }
  {
    ScriptedDialogs run(R"([{"dialog": 211, "press": 2}])");
    std::string pin;
    EXPECT_FALSE(prompt("Test Token", &pin));
  }
  kv::platform::SwapTokenPinPrompt(saved);
}

}  // namespace
