// PFX password change: the rewritten file under OpenSSL, the dialog paths,
// the failure codes, and the signer-cache update of the Ex form.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "keys/pfx_test_support.h"
#include "sign/shared_memory.h"
#include "sign/signer_cache.h"
#include "sign/signer_state.h"

namespace kv::test {
namespace {

class PfxPasswordTest : public PfxTest {
 protected:
  LONG Change(const std::string& name, const char* oldPw, const char* newPw) {
    return engine_.ChangePfxPasswd(Folder(), Utf8Bstr(name), Utf8Bstr(oldPw), Utf8Bstr(newPw), 0);
  }
};

TEST_F(PfxPasswordTest, RewrittenFileOpensOnlyUnderTheNewPassword) {
  std::string file = WritePfx("user.pfx", *signer_, {root_.get()}, "old");
  SetLastError(0xdeadbeef);
  ASSERT_EQ(0, Change("user.pfx", "old", "新密碼"));
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_FALSE(OpenPfxWithOpenSsl(file, "old").opened);
  // The engine's narrow password reaches the file as its UTF-16 form: OpenSSL
  // takes the UTF-8 text of the same characters.
  OpenedPfx opened = OpenPfxWithOpenSsl(file, "新密碼");
  ASSERT_TRUE(opened.opened);
  EXPECT_EQ(signer_->der(), opened.certDer);
  EXPECT_EQ(PrivateKeyDer(signer_->key()), opened.keyDer);
  ASSERT_EQ(1u, opened.otherDers.size());  // the CA certificate travels along, without a key
  EXPECT_EQ(root_->der(), opened.otherDers[0]);
  std::string out;
  EXPECT_EQ(0, OpenSslPkcs12(file, "新密碼", true, &out)) << out;
  EXPECT_EQ(0, OpenSslPkcs12(file, "新密碼", false, &out)) << out;
  // And the engine reads it back.
  EXPECT_EQ(0, Change("user.pfx", "新密碼", "old"));
  EXPECT_TRUE(OpenPfxWithOpenSsl(file, "old").opened);
  std::string listing;
  RunCommand("ls -A '" + folder_.path() + "'", &listing);
  EXPECT_EQ("user.pfx\n", listing);
}

TEST_F(PfxPasswordTest, FailuresLeaveTheFileUntouched) {
  std::string file = WritePfx("user.pfx", *signer_, {}, "old");
  std::string before = ReadFile(file);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_PKCS12_PASSWORD, Change("user.pfx", "wrong", "new"));
  EXPECT_NE(0u, engine_.PlatformError());
  EXPECT_EQ(before, ReadFile(file));
  EXPECT_EQ(ERR_FILE_NOT_FOUND, Change("none.pfx", "old", "new"));
  folder_.File("text.pfx", "plain text");
  EXPECT_EQ(ERR_PKCS12_FORMAT, Change("text.pfx", "old", "new"));
  EXPECT_EQ("plain text", ReadFile(Path("text.pfx")));

  // A read-only file is not replaced.
  ASSERT_EQ(0, chmod(file.c_str(), 0400));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_CERT_FILE_WRITE, Change("user.pfx", "old", "new"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), engine_.PlatformError());
  EXPECT_EQ(before, ReadFile(file));
  std::string listing;
  RunCommand("ls -A '" + folder_.path() + "'", &listing);
  EXPECT_EQ("text.pfx\nuser.pfx\n", listing);
}

TEST_F(PfxPasswordTest, ChangeThroughALinkRewritesTheFileItNames) {
  ASSERT_EQ(0, mkdir(Path("stick").c_str(), 0700));
  std::string real = Path("stick/user.pfx");
  WritePfx("stick/user.pfx", *signer_, {}, "old");
  ASSERT_EQ(0, symlink(real.c_str(), Path("link.pfx").c_str()));
  ASSERT_EQ(0, symlink(Path("link.pfx").c_str(), Path("second.pfx").c_str()));

  ASSERT_EQ(0, Change("second.pfx", "old", "new"));
  struct stat st;
  ASSERT_EQ(0, lstat(Path("second.pfx").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  ASSERT_EQ(0, lstat(Path("link.pfx").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_TRUE(OpenPfxWithOpenSsl(real, "new").opened);
  std::string listing;
  RunCommand("ls -A '" + folder_.path() + "' '" + Path("stick") + "'", &listing);
  EXPECT_EQ(folder_.path() + ":\nlink.pfx\nsecond.pfx\nstick\n\n" + Path("stick") + ":\nuser.pfx\n", listing);
}

TEST_F(PfxPasswordTest, DialogPaths) {
  std::string file = WritePfx("user.pfx", *signer_, {}, "oldpass");
  {
    ScriptedDialogs run(R"({"dialog": 203, "set": {"304": "new1", "305": "new2"}, "press": 1})");
    EXPECT_EQ(ERR_PASSWORD_MISMATCH, engine_.ChangePfxPasswd(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("oldpass"),
                                                             Utf8Bstr(""), 0));
  }
  {
    ScriptedDialogs run(R"({"dialog": 203, "press": 2})");
    EXPECT_EQ(ERR_USER_CANCEL, engine_.ChangePfxPasswd(Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), 0));
  }
  EXPECT_TRUE(OpenPfxWithOpenSsl(file, "oldpass").opened);
  {
    // The page's range: OK stays disabled while the new password is shorter
    // than 6, and typing is cut at 8.
    engine_.PresetPasswdLengthRange(6, 8);
    ScriptedDialogs run(R"([{"dialog": 203, "browse": ")" + file + R"(", "press": 301},
                            {"dialog": 203, "set": {"303": "oldpass", "304": "abc", "305": "abc"}, "press": 1},
                            {"dialog": 203, "set": {"304": "abcdefghij", "305": "abcdefghij"}, "press": 1}])");
    ASSERT_EQ(0, engine_.ChangePfxPasswd(Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), 0));
    EXPECT_EQ(1u, run.Events("dialog").size());
    EXPECT_EQ(1u, run.Events("ignored").size());
  }
  EXPECT_TRUE(OpenPfxWithOpenSsl(file, "abcdefgh").opened);
  // Without a display or script the dialog cannot be shown.
  EXPECT_EQ(ERR_MEM_ALLOC, Change("user.pfx", "abcdefgh", ""));
}

class PfxPasswordCacheTest : public PfxPasswordTest {
 protected:
  std::string CachedPassword() {
    CSignerCache cache(engine_);
    cache.Area();
    return cache.ReadString(kSignerCertPasswdKey);
  }
};

TEST_F(PfxPasswordCacheTest, ExUpdatesTheCachedPasswordOfTheSameFileOnly) {
  WritePfx("user.pfx", *signer_, {}, "old");
  WritePfx("other.pfx", *signer_, {}, "old");
  // Another process chose this file as its signer; its name is cached in
  // other letter case.
  CCapiEngine chooser;
  chooser.Signer().SetSource(2);
  chooser.Signer().SetPfxFile(folder_.path() + "\\", "USER.PFX");
  chooser.Signer().SetPfxPassword("old");
  chooser.Signer().SetFingerprint(signer_->Sha1Hex());
  ASSERT_TRUE(chooser.Signer().AppendCertificate(signer_->data(), static_cast<int32_t>(signer_->size())));
  CSignerCache(chooser).SaveSigner();
  ASSERT_EQ("old", CachedPassword());

  ASSERT_EQ(0, engine_.ChangePfxPasswdEx(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("old"), Utf8Bstr("new"), 0, 0));
  EXPECT_EQ("old", CachedPassword());  // port 0: the cache is not touched
  ASSERT_EQ(0, engine_.ChangePfxPasswdEx(Folder(), Utf8Bstr("other.pfx"), Utf8Bstr("old"), Utf8Bstr("x"), 1, 0));
  EXPECT_EQ("old", CachedPassword());  // another file
  ASSERT_EQ(0, engine_.ChangePfxPasswdEx(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("new"), Utf8Bstr("newer"), 1, 0));
  EXPECT_EQ("newer", CachedPassword());
  EXPECT_EQ("newer", CSignerCache(chooser).ReadString(kSignerCertPasswdKey));
  // The folder given with its closing backslash names the same file.
  const std::string slashed = folder_.path() + "\\";
  ASSERT_EQ(0, engine_.ChangePfxPasswdEx(Utf8Bstr(slashed.c_str()), Utf8Bstr("user.pfx"), Utf8Bstr("newer"),
                                         Utf8Bstr("newest"), 1, 0));
  EXPECT_EQ("newest", CachedPassword());
  ASSERT_EQ(0, engine_.ChangePfxPasswdEx(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("newest"), Utf8Bstr("newer"), 1, 0));
  // A failed change leaves it.
  EXPECT_EQ(ERR_PKCS12_PASSWORD,
            engine_.ChangePfxPasswdEx(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("bad"), Utf8Bstr("z"), 1, 0));
  EXPECT_EQ("newer", CachedPassword());
}

}  // namespace
}  // namespace kv::test
