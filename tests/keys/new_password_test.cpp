// New passwords (the password change's, the PFX export's, the mobile
// export's) that the ANSI code page cannot carry are refused instead of
// being narrowed into a password the user never typed.
#include <gtest/gtest.h>

#include <functional>

#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

class NewPasswordTest : public PfxTest {
 protected:
  // The operations that take a new password, each returning its code.
  std::vector<std::pair<const char*, std::function<LONG(BSTR)>>> Operations() {
    return {
        {"ChangePfxPasswd",
         [&](BSTR pw) { return engine_.ChangePfxPasswd(Folder(), Utf8Bstr("f.pfx"), Utf8Bstr("1234"), pw, 0); }},
        {"ChangePfxPasswdEx",
         [&](BSTR pw) {
           return engine_.ChangePfxPasswdEx(Folder(), Utf8Bstr("f.pfx"), Utf8Bstr("1234"), pw, 0, 0);
         }},
        {"ExportPfxFromIE", [&](BSTR pw) { return engine_.ExportPfxFromIE(Utf8Bstr(""), Folder(), pw, 0, 0); }},
        {"ExportMobileFromIE",
         [&](BSTR pw) {
           BSTR record = engine_.ExportMobileFromIE(Utf8Bstr(""), pw, 2, 0);
           EXPECT_EQ(engine_.Code() == 0, SysStringLen(record) > 0);
           SysFreeString(record);
           return engine_.Code();
         }},
    };
  }
};

BSTR LoneSurrogate() {
  const WCHAR text[] = {'p', 0xD800, 'w'};
  return SysAllocStringLen(text, 3);
}

TEST_F(NewPasswordTest, RefusedWhenTheCodePageCannotCarryIt) {
  WritePfx("f.pfx", *signer_, {root_.get()});
  AddToMyWithKey(*signer_, true);
  const std::string before = ReadFile(Path("f.pfx"));
  for (auto& [name, run] : Operations()) {
    for (BSTR password : {Utf8Bstr("pässwörd"), Utf8Bstr("\xF0\x9F\x98\x80"), LoneSurrogate()}) {
      SetLastError(0xdeadbeef);
      EXPECT_EQ(ERR_UNICODE, run(password)) << name;
      EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), engine_.PlatformError()) << name;
    }
  }
  EXPECT_EQ(before, ReadFile(Path("f.pfx")));
  EXPECT_EQ("", ReadFile(Path("Signer One.pfx")));
  EXPECT_EQ(1, CountMy());
}

TEST_F(NewPasswordTest, CarriedPasswordsStillWork) {
  AddToMyWithKey(*signer_, true);
  for (auto& [name, run] : Operations()) {
    WritePfx("f.pfx", *signer_, {root_.get()});
    EXPECT_EQ(0, run(Utf8Bstr("密碼pw"))) << name;
  }
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("Signer One.pfx"), "密碼pw").opened);
  // Under UTF-8 every character but a lone surrogate is carried.
  ScopedEnv utf8("KORVESSA_CODEPAGE", "65001");
  const char* wide = "pässwörd\xF0\x9F\x98\x80";
  EXPECT_EQ(0, engine_.ChangePfxPasswd(Folder(), Utf8Bstr("f.pfx"), Utf8Bstr("1234"), Utf8Bstr(wide), 0));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("f.pfx"), wide).opened);
  EXPECT_EQ(ERR_UNICODE, engine_.ChangePfxPasswd(Folder(), Utf8Bstr("f.pfx"), Utf8Bstr(wide), LoneSurrogate(), 0));
}

}  // namespace
}  // namespace kv::test
