// A web page's calls that would export, delete or install keys or trust:
// each shows the page action confirmation (210) naming the origin and what
// will happen; a refusal (or no answer) fails with 5070 and changes
// nothing; desktop callers are never asked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "host/caller_origin.h"
#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

using kv::json::Value;

const char kPage[] = "http://127.0.0.1:8000";
const char kDeny[] = R"([{"dialog": 210, "press": 2}])";
const char kAllow[] = R"([{"dialog": 210, "press": 1}])";

std::string ControlText(const Value& shown, int id) {
  for (const Value& control : shown.Find("controls")->items) {
    int n = 0;
    if (control.Find("id")->AsInt(&n) && n == id) return control.Find("text")->Utf8();
  }
  return "<none>";
}

class PageActionGuardTest : public PfxTest {
 protected:
  void SetUp() override {
    PfxTest::SetUp();
    AddToMyWithKey(*signer_, true);
    other_ = MakeEndEntity("Other User", *root_);
    WritePfx("other.pfx", *other_, {root_.get()});
    exportFolder_ = folder_.path() + "/out";
  }
  // The one confirmation a call showed, checked for the page's origin.
  Value OnlyConfirmation(const ScriptedDialogs& run) {
    std::vector<Value> shown = run.Events("dialog");
    EXPECT_EQ(1u, shown.size());
    if (shown.empty()) return Value();
    EXPECT_EQ(210, shown[0].Find("dialog")->integer);
    EXPECT_EQ(kPage, ControlText(shown[0], 330));
    EXPECT_NE(std::string::npos, shown[0].Find("title")->Utf8().find(kPage));
    return shown[0];
  }
  LONG Code() { return engine_.GetErrorCode(); }

  CertPtr other_;
  std::string exportFolder_;
};

TEST_F(PageActionGuardTest, EveryKeyOrTrustOperationAsksAndARefusalChangesNothing) {
  const std::string pfxBefore = ReadFile(Path("other.pfx"));
  const int containers = CountKeyContainers();
  ASSERT_EQ(1, engine_.GetIECertCount());
  struct Guarded {
    const char* name;
    std::function<LONG(CCapiEngine&)> call;
  };
  const std::vector<Guarded> calls = {
      {"CreatePKCS10", [&](CCapiEngine& e) { return TakeText(e.CreatePKCS10(Utf8Bstr("Page"), 2048, 0)), Code(); }},
      {"CreatePKCS10Pair", [&](CCapiEngine& e) { return e.CreatePKCS10Pair(Utf8Bstr("Page"), 2048, 0); }},
      {"AcceptPKCS7", [&](CCapiEngine& e) { return e.AcceptPKCS7(Utf8Bstr("MIIB")); }},
      {"ImportPfxToIE",
       [&](CCapiEngine& e) { return e.ImportPfxToIE(Folder(), Utf8Bstr("other.pfx"), Utf8Bstr("1234"), 0, 0); }},
      {"ExportPfxFromIE",
       [&](CCapiEngine& e) {
         return e.ExportPfxFromIE(Utf8Bstr(""), Utf8Bstr(exportFolder_), Utf8Bstr("pagepass"), 0x1002, 0);
       }},
      {"ExportMobileFromPfx",
       [&](CCapiEngine& e) {
         return TakeText(e.ExportMobileFromPfx(Folder(), Utf8Bstr("other.pfx"), Utf8Bstr("1234"), 0, 0)), Code();
       }},
      {"ExportMobileFromIE",
       [&](CCapiEngine& e) { return TakeText(e.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr("pagepass"), 2, 0)), Code(); }},
      {"ChangePfxPasswd",
       [&](CCapiEngine& e) {
         return e.ChangePfxPasswd(Folder(), Utf8Bstr("other.pfx"), Utf8Bstr("1234"), Utf8Bstr("page"), 0);
       }},
      {"ChangePfxPasswdEx",
       [&](CCapiEngine& e) {
         return e.ChangePfxPasswdEx(Folder(), Utf8Bstr("other.pfx"), Utf8Bstr("1234"), Utf8Bstr("page"), 0, 0);
       }},
      {"DeleteIECert", [&](CCapiEngine& e) { return e.DeleteIECert(1); }},
  };
  kv::ScopedCallerOrigin page(kPage);
  for (const Guarded& guarded : calls) {
    // Refused, and left unanswered: refusing is what happens by default.
    for (const char* script : {kDeny, "[]"}) {
      ScriptedDialogs run(script);
      EXPECT_EQ(ERR_USER_CANCEL, guarded.call(engine_)) << guarded.name;
      EXPECT_EQ(ERR_USER_CANCEL, Code()) << guarded.name;
      OnlyConfirmation(run);
    }
  }
  EXPECT_EQ(1, CountMy());
  EXPECT_EQ(containers, CountKeyContainers());
  EXPECT_EQ(pfxBefore, ReadFile(Path("other.pfx")));
  EXPECT_NE(0, access(exportFolder_.c_str(), F_OK));
  EXPECT_EQ("", TakeText(engine_.GetCsrForSign()));
}

TEST_F(PageActionGuardTest, AnAllowedCallRunsAndSaysWhatItDoes) {
  kv::ScopedCallerOrigin page(kPage);
  {
    // The issue's case: the page gets the key record only with the person's word.
    ScriptedDialogs run(kAllow);
    EXPECT_NE("", TakeText(engine_.ExportMobileFromIE(Utf8Bstr("S_CN=Signer One"), Utf8Bstr("pagepass"), 10, 0)));
    EXPECT_EQ(0, Code());
    std::string what = ControlText(OnlyConfirmation(run), 331);
    EXPECT_NE(std::string::npos, what.find("私密金鑰")) << what;
    EXPECT_NE(std::string::npos, what.find("S_CN=Signer One")) << what;
    EXPECT_EQ(std::string::npos, what.find("pagepass")) << what;  // never a password
  }
  {
    // A page's line break cannot add a line of its own; deleting after the
    // export is spelled out.
    ScriptedDialogs run(kDeny);
    engine_.ExportPfxFromIE(Utf8Bstr("S_CN=x\r\n匯出目錄 : /safe"), Utf8Bstr(exportFolder_), Utf8Bstr("p"), 0x1000, 0);
    std::string what = ControlText(OnlyConfirmation(run), 331);
    EXPECT_NE(std::string::npos, what.find("S_CN=x??")) << what;
    EXPECT_NE(std::string::npos, what.find("刪除")) << what;
    EXPECT_NE(std::string::npos, what.find(exportFolder_)) << what;
  }
  {
    ScriptedDialogs run(kAllow);
    ASSERT_EQ(1, engine_.GetIECertCount());
    EXPECT_EQ(0, engine_.DeleteIECert(1));
    EXPECT_NE(std::string::npos, ControlText(OnlyConfirmation(run), 331).find("Signer One"));
    EXPECT_EQ(0, CountMy());
  }
  {
    // An index the snapshot does not have deletes nothing and asks nothing.
    ScriptedDialogs run("[]");
    EXPECT_EQ(ERR_CERT_NOT_FOUND, engine_.DeleteIECert(7));
    EXPECT_TRUE(run.Events("dialog").empty());
  }
}

TEST_F(PageActionGuardTest, DesktopCallersAreNotAsked) {
  ScriptedDialogs run("[]");
  EXPECT_NE("", TakeText(engine_.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr("pw"), 2, 0)));
  EXPECT_EQ(0, engine_.ImportPfxToIE(Folder(), Utf8Bstr("other.pfx"), Utf8Bstr("1234"), 0, 0));
  ASSERT_GE(engine_.GetIECertCount(), 2);
  EXPECT_EQ(0, engine_.DeleteIECert(1));
  EXPECT_TRUE(run.Events("dialog").empty());
}

}  // namespace
}  // namespace kv::test
