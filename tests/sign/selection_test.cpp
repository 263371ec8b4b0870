// Signer selection with scripted dialogs: the chooser policy, the source
// mask, compare dates, the PFX route with and without its dialog, and the
// cached signer shared between engines.
#include <gtest/gtest.h>

#include <ctime>

#include "sign/sign_test_support.h"
#include "sign/signer_state.h"

namespace {

using namespace kv::test;

class SelectionTest : public SigningTest {
 protected:
  LONG Select(LONG flags, const std::string& filter = "") { return engine_.SelectSigner(Utf8Bstr(filter), flags, 0); }
  LONG SelectEx(const std::string& name, const std::string& password, const std::string& date, LONG flags,
                const std::string& filter = "") {
    return engine_.SelectSignerEx(Utf8Bstr(filter), Utf8Bstr(folder_.path()), Utf8Bstr(name), Utf8Bstr(password),
                                  Utf8Bstr(date), flags, 0);
  }
  void CheckCompareDates();
  static LONG SelectEx2(CCapiEngine& engine, const std::string& folder, const std::string& name, LONG port,
                        LONG flags, const std::string& filter = "") {
    return engine.SelectSignerEx2(Utf8Bstr(filter), Utf8Bstr(folder), Utf8Bstr(name), port, Utf8Bstr(""), flags, 0);
  }
};

TEST_F(SelectionTest, ChooserPolicyForStoreMatches) {
  AddToMy(*signer_);
  {
    ScriptedDialogs run("[]");
    EXPECT_EQ(0, Select(0));
    EXPECT_TRUE(run.Events("dialog").empty());
    EXPECT_EQ(1, engine_.Signer().Source());
    EXPECT_EQ(signer_->Sha1Hex(), engine_.Signer().Fingerprint());
    const CByteBuffer& der = engine_.Signer().Certificate();
    EXPECT_EQ(signer_->der(), std::vector<uint8_t>(der.Data(), der.Data() + der.Size()));
  }
  {
    ScriptedDialogs run(R"([{"dialog": 204, "select": 0, "press": 1}])");
    EXPECT_EQ(0, Select(1));
    EXPECT_EQ(1u, run.Events("dialog").size());
    EXPECT_EQ(signer_->Sha1Hex(), engine_.Signer().Fingerprint());
  }
  CertPtr second = MakeEndEntity("Signer Two", *root_);
  AddToMy(*second);
  {
    ScriptedDialogs run(R"([{"dialog": 204, "select": 1, "press": 1}])");
    EXPECT_EQ(0, Select(0x100));
    std::vector<kv::json::Value> shown = run.Events("dialog");
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(2u, shown[0].Find("rows")->items.size());
    EXPECT_EQ(second->Sha1Hex(), engine_.Signer().Fingerprint());
  }
  {
    // Cancelling the chooser is no error; with the store alone nothing is chosen.
    ScriptedDialogs run(R"([{"dialog": 204, "press": 2}])");
    EXPECT_EQ(0, Select(0x100));
    EXPECT_EQ(-1, engine_.Signer().Source());
    EXPECT_TRUE(engine_.Signer().Fingerprint().empty());
    EXPECT_EQ("", TakeText(engine_.SignPkcs1(Utf8Bstr("x"), 0)));
    EXPECT_EQ(ERR_NO_SIGNER, engine_.Code());
  }
}

TEST_F(SelectionTest, SourceMask) {
  {
    ScriptedDialogs run("[]");
    EXPECT_EQ(ERR_CERT_NOT_FOUND, Select(0x100));
    EXPECT_TRUE(run.Events("dialog").empty());
  }
  AddToMy(*signer_);
  {
    // The PFX dialog only: the personal certificate is never offered.
    ScriptedDialogs run(R"([{"dialog": 202, "press": 2}])");
    EXPECT_EQ(ERR_USER_CANCEL, Select(0x200));
    std::vector<kv::json::Value> shown = run.Events("dialog");
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(-1, engine_.Signer().Source());
  }
  // No script and no display: the PFX dialog cannot be shown.
  EXPECT_EQ(ERR_MEM_ALLOC, Select(0x200));
}

TEST_F(SelectionTest, PfxDialogAnswersAndFailures) {
  std::string path = WritePfx("signer.pfx", *signer_, {});
  {
    ScriptedDialogs run(R"([{"dialog": 202, "press": 301, "browse": ")" + path +
                        R"("}, {"dialog": 202, "set": {"303": "1234"}, "press": 1}])");
    EXPECT_EQ(0, Select(0));
    EXPECT_EQ(2, engine_.Signer().Source());
    EXPECT_EQ(folder_.path(), TakeText(engine_.GetSignerPfxFilePath()));
    EXPECT_EQ("signer.pfx", TakeText(engine_.GetSignerPfxFileName()));
    EXPECT_EQ("1234", engine_.Signer().PfxPassword());
  }
  {
    // A wrong password fails with the loader's code and leaves no signer.
    ScriptedDialogs run(R"([{"dialog": 202, "set": {"303": "9999"}, "press": 1}])");
    EXPECT_NE(0, SelectEx("signer.pfx", "", "", 0x200));
    EXPECT_EQ(-1, engine_.Signer().Source());
    EXPECT_EQ("", TakeText(engine_.GetSignerPfxFilePath()));
    EXPECT_EQ("", TakeText(engine_.GetSignerPfxFileName()));
  }
  {
    // The filter is applied to the PFX too.
    ScriptedDialogs run("[]");
    EXPECT_EQ(ERR_CERT_NOT_FOUND, SelectEx("signer.pfx", "1234", "", 0x200, "S_CN=Nobody"));
    EXPECT_TRUE(run.Events("dialog").empty());
  }
}

TEST_F(SelectionTest, ExistingPfxWithPasswordNeedsNoDialog) {
  WritePfx("signer.pfx", *signer_, {});
  ScriptedDialogs run("[]");
  // Store only, nothing there: the named file still opens the PFX route.
  EXPECT_EQ(0, SelectEx("signer.pfx", "1234", "", 0x100));
  EXPECT_TRUE(run.Events("dialog").empty());
  EXPECT_EQ(2, engine_.Signer().Source());
  EXPECT_EQ(signer_->Sha1Hex(), engine_.Signer().Fingerprint());
  EXPECT_EQ(folder_.path(), TakeText(engine_.GetSignerPfxFilePath()));
  EXPECT_EQ("signer.pfx", TakeText(engine_.GetSignerPfxFileName()));
  // After a failed selection the getters are empty again.
  EXPECT_EQ(ERR_BAD_PARAM, SelectEx("signer.pfx", "1234", "2014061912000", 0x100));
  EXPECT_EQ("", TakeText(engine_.GetSignerPfxFilePath()));
  EXPECT_EQ("", TakeText(engine_.GetSignerPfxFileName()));
  EXPECT_EQ(65537, engine_.GetPortEx());
}

TEST_F(SelectionTest, CompareDates) {
  {
    ScopedEnv tz("TZ", "CST-8");
    tzset();
    CheckCompareDates();
  }
  tzset();
}

void SelectionTest::CheckCompareDates() {
  CertSpec spec;
  spec.subject = SimpleName("Short Lived");
  spec.keyUsage = 0xC0;
  spec.notBefore = UtcTime(2014, 6, 19, 11, 59, 0);
  spec.notAfter = UtcTime(2014, 6, 19, 12, 1, 0);
  CertPtr brief = IssueCert(spec, root_.get());
  WritePfx("brief.pfx", *brief, {});
  ScriptedDialogs run("[]");
  for (const char* bad : {"2014061912000", "201406191200000", "20141319120000", "20140431120000", "20140229120000",
                          "2014061912000x", "20140619240000", "20140619126000", "20140600120000"}) {
    EXPECT_EQ(ERR_BAD_PARAM, SelectEx("brief.pfx", "1234", bad, 0x200)) << bad;
  }
  // A leap day exists; the certificate is simply not valid then.
  LONG leap = SelectEx("brief.pfx", "1234", "20160229120000", 0x200);
  EXPECT_NE(ERR_BAD_PARAM, leap);
  EXPECT_NE(0, leap);
  // The date is a UTC instant: in Taipei's zone the certificate is valid exactly at 12:00 UTC.
  EXPECT_EQ(0, SelectEx("brief.pfx", "1234", "20140619120000", 0x200));
  EXPECT_EQ(brief->Sha1Hex(), engine_.Signer().Fingerprint());
  EXPECT_NE(0, SelectEx("brief.pfx", "1234", "20140619200000", 0x200));
  EXPECT_NE(0, SelectEx("brief.pfx", "1234", "20140619040000", 0x200));
  EXPECT_TRUE(run.Events("dialog").empty());
}

TEST_F(SelectionTest, CachedSignerSharedBetweenEngines) {
  AddToMy(*signer_);
  ASSERT_EQ(0, SelectEx2(engine_, "", "", 0, 0x100));
  {
    // Port 0 never reads the cache: the filter decides.
    CCapiEngine other;
    EXPECT_EQ(ERR_CERT_NOT_FOUND, SelectEx2(other, "", "", 0, 0x100, "S_CN=Nobody"));
  }
  {
    // Port 1 takes the cached store signer whatever the filter says.
    CCapiEngine other;
    ScriptedDialogs run("[]");
    EXPECT_EQ(0, SelectEx2(other, "", "", 1, 0x100, "S_CN=Nobody"));
    EXPECT_EQ(1, other.Signer().Source());
    EXPECT_EQ(signer_->Sha1Hex(), other.Signer().Fingerprint());
    EXPECT_TRUE(run.Events("dialog").empty());
  }

  // A PFX signer chosen by SelectSignerEx2 replaces it, password included.
  CertPtr pfxSigner = MakeEndEntity("Pfx Signer", *root_);
  WritePfx("pfx.pfx", *pfxSigner, {});
  {
    ScriptedDialogs run(R"({"dialog": 202, "set": {"303": "1234"}, "press": 1})");
    ASSERT_EQ(0, SelectEx2(engine_, folder_.path(), "pfx.pfx", 0, 0x200));
  }
  CCapiEngine other;
  ScriptedDialogs run("[]");
  EXPECT_EQ(0, SelectEx2(other, "", "", 1, 0x100, "S_CN=Nobody"));
  EXPECT_EQ(2, other.Signer().Source());
  EXPECT_EQ(pfxSigner->Sha1Hex(), other.Signer().Fingerprint());
  EXPECT_EQ("1234", other.Signer().PfxPassword());
  EXPECT_EQ(folder_.path(), TakeText(other.GetSignerPfxFilePath()));
  EXPECT_EQ("pfx.pfx", TakeText(other.GetSignerPfxFileName()));
  std::string hex = TakeText(other.SignPkcs1(Utf8Bstr("cached"), 0x800));
  EXPECT_EQ(0, other.Code());
  EXPECT_TRUE(VerifyDigestSignature(pfxSigner->key(), EVP_sha1(),
                                    Digest(EVP_sha1(), {'c', 'a', 'c', 'h', 'e', 'd'}), FromHex(hex)));
  EXPECT_TRUE(run.Events("dialog").empty());
}

}  // namespace
