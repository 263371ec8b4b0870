// Every result code's message against an independent copy of the table
// (tests/data/engine/error_messages.txt), in the Big5 code page and in UTF-8.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "engine/error_messages.h"
#include "engine/error_messages_data.h"
#include "vocabulary/text.h"
#include "support/temp_home.h"

namespace {

std::u16string Utf8ToUtf16(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), reinterpret_cast<LPWSTR>(&out[0]), n);
  return out;
}

// code -> expected message (UTF-8), read from the data file.
std::map<ErrorCode, std::string> ExpectedMessages() {
  std::map<ErrorCode, std::string> table;
  std::ifstream in(std::string(KV_SOURCE_DIR) + "/tests/data/engine/error_messages.txt", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    table[static_cast<ErrorCode>(std::stol(line.substr(0, tab)))] = line.substr(tab + 1);
  }
  return table;
}

std::u16string Widened(ErrorCode code) { return kv::NarrowToWide(FormatErrorMessage(code)); }

class ErrorMessages : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { codePage_ = std::make_unique<kv::test::ScopedEnv>("KORVESSA_CODEPAGE", GetParam()); }
  std::unique_ptr<kv::test::ScopedEnv> codePage_;
};

TEST_P(ErrorMessages, EveryCodeHasItsExactText) {
  auto expected = ExpectedMessages();
  ASSERT_EQ(expected.size(), 134u) << "the data file lost rows";
  for (const auto& [code, text] : expected) EXPECT_EQ(Widened(code), Utf8ToUtf16(text)) << "code " << code;
}

TEST_P(ErrorMessages, EngineKnowsNoCodeBeyondTheTable) {
  auto expected = ExpectedMessages();
  for (const ErrorMessageEntry& e : kErrorMessages) EXPECT_EQ(expected.count(e.code), 1u) << "code " << e.code;
  EXPECT_EQ(std::size(kErrorMessages), expected.size());
}

TEST_P(ErrorMessages, UnknownCodesKeepTheTrailingBlank) {
  for (ErrorCode code : {4242, -1, 1, 5007, 5009, 9007, 1500 + 3, INT_MAX, INT_MIN}) {
    std::string expected = u8"錯誤碼未定義(" + std::to_string(code) + ") ";
    EXPECT_EQ(Widened(code), Utf8ToUtf16(expected)) << "code " << code;
    EXPECT_EQ(FindErrorMessageFormat(code), nullptr);
  }
}

TEST_P(ErrorMessages, GeneralAndXmlGeneralDifferOnlyInTheNumber) {
  EXPECT_EQ(Widened(ERR_GENERAL), Utf8ToUtf16(u8"一般錯誤(5001)"));
  EXPECT_EQ(Widened(ERR_XML_GENERAL), Utf8ToUtf16(u8"一般錯誤(7701)"));
  EXPECT_NE(Widened(ERR_GENERAL), Widened(ERR_XML_GENERAL));
}

TEST_P(ErrorMessages, QuotesAndLongSentenceSurvive) {
  EXPECT_EQ(Widened(ERR_USER_CANCEL), Utf8ToUtf16(u8"使用者按下\"取消\"按鈕(5070)"));
  std::u16string protectedMode = Widened(ERR_IE_PROTECTED_MODE);
  std::u16string tail = Utf8ToUtf16(u8"(關閉)(1500)");
  ASSERT_GE(protectedMode.size(), tail.size());
  EXPECT_EQ(protectedMode.substr(protectedMode.size() - tail.size()), tail);
}

INSTANTIATE_TEST_SUITE_P(CodePages, ErrorMessages, ::testing::Values("950", "65001"));

TEST(ErrorMessagesBig5, NarrowTextIsBig5WithBackslashTrailBytes) {
  kv::test::ScopedEnv big5("KORVESSA_CODEPAGE", nullptr);
  // 成 is A6 A8 and 功 is A5 5C in Big5: the second byte of 功 is a backslash.
  EXPECT_EQ(FormatErrorMessage(ERR_SUCCESS), "\xA6\xA8\xA5\x5C(0)");
  EXPECT_EQ(kv::FindLastBackslash(FormatErrorMessage(ERR_SUCCESS)), std::string::npos);
}

}  // namespace
