// The engine's lifetime and error state: a fresh engine reports success, the
// getters never change the state, the platform-error text, GetVersion,
// the home-folder rule and the protected-mode refusal.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "support/temp_home.h"

namespace {

std::u16string U16(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, reinterpret_cast<LPWSTR>(&out[0]), n);
  out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
  return out;
}

// Takes an operation's BSTR result; a null result fails the test.
std::u16string Take(BSTR result) {
  EXPECT_NE(result, nullptr) << "operations never return a null string";
  if (!result) return {};
  std::u16string text(reinterpret_cast<const char16_t*>(result), SysStringLen(result));
  SysFreeString(result);
  return text;
}

std::u16string SystemText(DWORD number) {
  LPSTR text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, number, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string narrow = (n && text) ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  return kv::NarrowToWide(narrow);
}

class Engine : public kv::test::HomeTest {
 protected:
  kv::test::ScopedEnv notProtected_{"KORVESSA_PROTECTED_MODE", nullptr};
};

TEST_F(Engine, AFreshEngineReportsSuccess) {
  CCapiEngine engine;
  EXPECT_EQ(engine.GetErrorCode(), 0);
  EXPECT_EQ(engine.GetCapiErrorCode(), 0);
  EXPECT_EQ(Take(engine.GetErrorMsg()), U16(u8"成功(0)"));
  EXPECT_EQ(Take(engine.GetCapiErrorMsg()), U16(u8"成功(0)"));
}

TEST_F(Engine, ReadingTheErrorStateChangesNothing) {
  CCapiEngine engine;
  engine.FailWithPlatformError(ERR_USER_CANCEL, ERROR_ACCESS_DENIED);
  std::u16string first = Take(engine.GetErrorMsg());
  std::u16string capiFirst = Take(engine.GetCapiErrorMsg());
  EXPECT_EQ(Take(engine.GetErrorMsg()), first);
  EXPECT_EQ(Take(engine.GetCapiErrorMsg()), capiFirst);
  EXPECT_EQ(first, U16(u8"使用者按下\"取消\"按鈕(5070)"));
  EXPECT_EQ(engine.GetErrorCode(), ERR_USER_CANCEL);
  EXPECT_EQ(engine.GetCapiErrorCode(), 5);
  EXPECT_EQ(engine.GetPortEx(), 65537);
  EXPECT_EQ(engine.Code(), ERR_USER_CANCEL);
  EXPECT_EQ(engine.PlatformError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Engine, PlatformTextIsFollowedByTheNumberOnItsOwnLine) {
  CCapiEngine engine;
  engine.NotePlatformError(ERROR_ACCESS_DENIED);
  std::u16string system = SystemText(ERROR_ACCESS_DENIED);
  ASSERT_GE(system.size(), 2u) << "the platform knows error 5";
  EXPECT_EQ(system.substr(system.size() - 2), u"\r\n");
  EXPECT_EQ(Take(engine.GetCapiErrorMsg()), system + u"(0x00000005)");

  engine.NotePlatformError(static_cast<DWORD>(NTE_BAD_KEYSET));
  std::u16string provider = SystemText(static_cast<DWORD>(NTE_BAD_KEYSET));
  ASSERT_FALSE(provider.empty());
  EXPECT_EQ(Take(engine.GetCapiErrorMsg()), provider + u"(0x80090016)");
  // Hex letters are upper case.
  engine.NotePlatformError(static_cast<DWORD>(NTE_NO_KEY));
  std::u16string noKey = Take(engine.GetCapiErrorMsg());
  EXPECT_EQ(noKey.substr(noKey.size() - 12), u"(0x8009000D)");
}

TEST_F(Engine, UnknownPlatformNumberGivesOnlyTheNumber) {
  CCapiEngine engine;
  engine.NotePlatformError(0x1234ABCDu);
  EXPECT_EQ(Take(engine.GetCapiErrorMsg()), u"(0x1234ABCD)");
  engine.NotePlatformError(0xFFFFFFFFu);
  EXPECT_EQ(Take(engine.GetCapiErrorMsg()), u"(0xFFFFFFFF)");
}

TEST_F(Engine, GetVersionResetsTheCodeButKeepsThePlatformNumber) {
  CCapiEngine engine;
  engine.FailWithPlatformError(ERR_BAD_PARAM, 1234);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%d.%d.%d.%d", KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH,
                KV_VERSION_TWEAK);
  EXPECT_EQ(Take(engine.GetVersion()), U16(expected));
  EXPECT_EQ(engine.GetErrorCode(), 0);
  EXPECT_EQ(engine.GetCapiErrorCode(), 1234);
}

TEST_F(Engine, HomeFolderIsTheProfileFolder) {
  {
    kv::test::ScopedEnv profile("USERPROFILE", "/home/\xE5\xBC\xB5\xE4\xB8\x89");  // a Chinese user name
    CCapiEngine engine;
    EXPECT_EQ(kv::NarrowToWide(engine.HomePath()), U16("/home/\xE5\xBC\xB5\xE4\xB8\x89"));
  }
  {
    // A profile path beyond the usual 260 characters is kept whole.
    std::string deep = "/tmp/" + std::string(300, 'd');
    kv::test::ScopedEnv profile("USERPROFILE", deep.c_str());
    CCapiEngine engine;
    EXPECT_EQ(engine.HomePath(), deep);
  }
}

TEST_F(Engine, ProtectedModeRefusesWithItsCode) {
  kv::test::ScopedEnv protectedMode("KORVESSA_PROTECTED_MODE", "1");
  CCapiEngine engine;
  EXPECT_TRUE(engine.InProtectedMode());
  EXPECT_TRUE(engine.RefuseInProtectedMode());
  EXPECT_EQ(engine.GetErrorCode(), ERR_IE_PROTECTED_MODE);
  EXPECT_EQ(engine.GetCapiErrorCode(), 0);
  std::u16string message = Take(engine.GetErrorMsg());
  EXPECT_EQ(message.substr(0, 2), u"IE");
  EXPECT_EQ(message.substr(message.size() - 6), u"(1500)");
}

TEST_F(Engine, WithoutProtectedModeNothingRefuses) {
  // No browser library, one without the query, one whose query fails, one
  // that says "not protected".
  for (const char* value : {static_cast<const char*>(nullptr), "", "noexport", "fail", "0"}) {
    kv::test::ScopedEnv protectedMode("KORVESSA_PROTECTED_MODE", value);
    CCapiEngine engine;
    engine.Fail(ERR_BAD_PARAM);
    EXPECT_FALSE(engine.InProtectedMode()) << (value ? value : "unset");
    EXPECT_FALSE(engine.RefuseInProtectedMode());
    EXPECT_EQ(engine.GetErrorCode(), ERR_BAD_PARAM) << "no refusal, no change";
  }
}

}  // namespace
