// PFX import into the personal store, PFX query, the password range and the
// default export name setters, with their dialogs and failure codes.
#include <gtest/gtest.h>

#include "keys/pfx_settings.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

class PfxImportTest : public PfxTest {
 protected:
  LONG Import(const std::string& name, const char* password = "1234", LONG flags = 1, LONG keyUsage = 0) {
    return engine_.ImportPfxToIE(Folder(), Utf8Bstr(name), Utf8Bstr(password), flags, keyUsage);
  }
  LONG Query(const std::string& name, const char* password = "1234", LONG keyUsage = 0) {
    return engine_.QueryPfxInfo(Folder(), Utf8Bstr(name), Utf8Bstr(password), 0, keyUsage);
  }
};

TEST_F(PfxImportTest, PasswordRangeAndDefaultName) {
  EXPECT_EQ(0, engine_.PresetPasswdLengthRange(8, 4));
  EXPECT_EQ(4, engine_.Pfx().MinPasswordLength());
  EXPECT_EQ(8, engine_.Pfx().MaxPasswordLength());
  engine_.PresetPasswdLengthRange(0, 0);
  EXPECT_EQ(0, engine_.Pfx().MinPasswordLength());
  EXPECT_EQ(16, engine_.Pfx().MaxPasswordLength());
  engine_.PresetPasswdLengthRange(12, -1);  // swapped first, then defaulted
  EXPECT_EQ(0, engine_.Pfx().MinPasswordLength());
  EXPECT_EQ(12, engine_.Pfx().MaxPasswordLength());

  engine_.FailWithPlatformError(ERR_GENERAL, 5);
  EXPECT_EQ(0, engine_.SetDefaultPfxFileName(Utf8Bstr("MyCert")));
  EXPECT_EQ(0, engine_.Code());
  EXPECT_EQ(5u, engine_.PlatformError());  // the name setter leaves the platform number
  EXPECT_EQ("MyCert", engine_.Pfx().DefaultPrefix());

  // A prefix is a file name: whatever would lead out of the export folder goes.
  const struct {
    const char* given;
    const char* kept;
  } prefixes[] = {{"../x", "x"}, {"..\\..\\Startup\\run.pfx", "run.pfx"}, {"C:x", "x"},
                  {"/etc/cron.d/job", "job"}, {"sub/dir\\name", "name"}, {"../", ""}, {"my.cert", "my.cert"},
                  // Big5 0xB3 0x5C: the second byte is not a separator.
                  {"許功蓋", "許功蓋"}};
  for (const auto& prefix : prefixes) {
    EXPECT_EQ(0, engine_.SetDefaultPfxFileName(Utf8Bstr(prefix.given)));
    EXPECT_EQ(kv::TakeNarrow(Utf8Bstr(prefix.kept)), engine_.Pfx().DefaultPrefix()) << prefix.given;
  }
}

TEST_F(PfxImportTest, ImportShowsTheKeyBearingCertificateAndSetsThePaths) {
  WritePfx("user.pfx", *signer_, {root_.get()});
  EXPECT_EQ("", TakeText(engine_.GetImportedPfxFileName()));
  // No display and no script: a dialog would fail with 5002.
  SetLastError(0xdeadbeef);
  ASSERT_EQ(0, Import("user.pfx"));
  EXPECT_EQ(0, engine_.Code());
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_EQ(folder_.path(), TakeText(engine_.GetImportedPfxFilePath()));
  EXPECT_EQ("user.pfx", TakeText(engine_.GetImportedPfxFileName()));
  // The signer record shows the certificate but nothing is selected.
  EXPECT_EQ(-1, engine_.Signer().Source());
  ASSERT_EQ(static_cast<int32_t>(signer_->size()), engine_.Signer().Certificate().Size());
  EXPECT_EQ(0, memcmp(signer_->data(), engine_.Signer().Certificate().Data(), signer_->size()));
  EXPECT_EQ("Signer One", TakeText(engine_.GetCertSubjectCN()));

  // Only the certificate with a key went into the store (not the root).
  ASSERT_EQ(1, engine_.GetIECertCount());
  EXPECT_EQ(signer_->Sha1Hex(), TakeText(engine_.GetIECertFinger(1)));
  EXPECT_EQ("Signer One", TakeText(engine_.GetIECertCommonName(1)));

  // A failing import clears the pair again.
  EXPECT_EQ(ERR_FILE_NOT_FOUND, Import("missing.pfx"));
  EXPECT_EQ("", TakeText(engine_.GetImportedPfxFilePath()));
  EXPECT_EQ("", TakeText(engine_.GetImportedPfxFileName()));
}

TEST_F(PfxImportTest, ImportedKeySignsInANewProcess) {
  WritePfx("user.pfx", *signer_, {root_.get()});
  ASSERT_EQ(0, Import("user.pfx", "1234", 0));
  std::string in = Path("batch.json");
  WriteFile(in,
            "{\"call\": \"SelectSigner\", \"args\": [\"S_CN=Signer One\", 10, 0]}\n"
            "{\"call\": \"SignPkcs7\", \"args\": [\"交易內容\", 0]}\n");
  std::string out;
  ASSERT_EQ(0, RunCommand("env -u KORVESSA_DIALOGS -u DISPLAY -u WAYLAND_DISPLAY '" + std::string(KV_HOST_PATH) +
                              "' --batch <'" + in + "' 2>/dev/null",
                          &out));
  size_t second = out.find("\"SignPkcs7\"");
  ASSERT_NE(std::string::npos, second) << out;
  EXPECT_NE(std::string::npos, out.find("\"error\": 0")) << out;
  size_t start = out.find("\"result\": \"", second) + 11;
  std::string p7 = out.substr(start, out.find('"', start) - start);
  CmsResult r = VerifyCms(p7, *root_);
  EXPECT_TRUE(r.verified) << r.error << "\n" << out;
  EXPECT_EQ(Utf16Bytes("交易內容"), r.content);
}

TEST_F(PfxImportTest, KeyUsageAndKeyRules) {
  CertSpec spec;
  spec.subject = SimpleName("Encrypt Only");
  spec.keyUsage = CERT_KEY_ENCIPHERMENT_KEY_USAGE;
  CertPtr encrypt = IssueCert(spec, root_.get());
  WritePfx("enc.pfx", *encrypt, {});
  int containers = CountKeyContainers();
  EXPECT_EQ(ERR_CERT_KEY_USAGE, Import("enc.pfx", "1234", 1, CERT_DIGITAL_SIGNATURE_KEY_USAGE));
  EXPECT_EQ(0, CountMy());
  EXPECT_EQ(containers, CountKeyContainers());  // the unused key was removed again
  EXPECT_EQ("", TakeText(engine_.GetImportedPfxFileName()));

  // A file with only certificates: no key to import.
  HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_TRUE(CertAddEncodedCertificateToStore(memory, X509_ASN_ENCODING, root_->data(), root_->size(),
                                                CERT_STORE_ADD_ALWAYS, nullptr));
  CRYPT_DATA_BLOB blob = {0, nullptr};
  ASSERT_TRUE(PFXExportCertStore(memory, &blob, reinterpret_cast<LPCWSTR>(u"1234"), 0));
  std::string certsOnly(blob.cbData, '\0');
  blob.pbData = reinterpret_cast<BYTE*>(&certsOnly[0]);
  ASSERT_TRUE(PFXExportCertStore(memory, &blob, reinterpret_cast<LPCWSTR>(u"1234"), 0));
  CertCloseStore(memory, 0);
  folder_.File("certs.pfx", certsOnly);
  EXPECT_EQ(ERR_NO_PRIVATE_KEY, Import("certs.pfx"));
  EXPECT_EQ(ERR_NO_PRIVATE_KEY, Query("certs.pfx"));
}

TEST_F(PfxImportTest, KeyOfACertificateLeftOutIsNotKept) {
  CertSpec spec;
  spec.subject = SimpleName("Encrypt Only");
  spec.keyUsage = CERT_KEY_ENCIPHERMENT_KEY_USAGE;
  CertPtr encrypt = IssueCert(spec, root_.get());
  // A file with two key-bearing certificates, made from the personal store.
  AddToMyWithKey(*encrypt, true);
  AddToMyWithKey(*signer_, true);
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(my, context)) != nullptr)
    ASSERT_TRUE(CertAddCertificateContextToStore(memory, context, CERT_STORE_ADD_ALWAYS, nullptr));
  CRYPT_DATA_BLOB blob = {0, nullptr};
  ASSERT_TRUE(PFXExportCertStore(memory, &blob, reinterpret_cast<LPCWSTR>(u"1234"), EXPORT_PRIVATE_KEYS));
  std::string both(blob.cbData, '\0');
  blob.pbData = reinterpret_cast<BYTE*>(&both[0]);
  ASSERT_TRUE(PFXExportCertStore(memory, &blob, reinterpret_cast<LPCWSTR>(u"1234"), EXPORT_PRIVATE_KEYS));
  CertCloseStore(memory, 0);
  while ((context = CertEnumCertificatesInStore(my, nullptr)) != nullptr)
    ASSERT_TRUE(CertDeleteCertificateFromStore(context));
  CertCloseStore(my, 0);
  folder_.File("both.pfx", both);

  int containers = CountKeyContainers();
  ASSERT_EQ(0, Import("both.pfx", "1234", 1, CERT_DIGITAL_SIGNATURE_KEY_USAGE));
  EXPECT_EQ(1, CountMy());
  EXPECT_EQ(containers + 1, CountKeyContainers()) << "the encryption certificate's key was kept for nothing";
}

TEST_F(PfxImportTest, LoaderFailures) {
  WritePfx("user.pfx", *signer_, {});
  folder_.File("text.pfx", "not a pfx");
  folder_.File("empty.pfx", "");
  EXPECT_EQ(ERR_PKCS12_PASSWORD, Import("user.pfx", "wrong"));
  EXPECT_EQ(ERR_PKCS12_PASSWORD, engine_.GetErrorCode());
  EXPECT_NE(0u, engine_.PlatformError());
  EXPECT_EQ(ERR_PKCS12_FORMAT, Import("text.pfx"));
  EXPECT_EQ(ERR_PFX_FILE_READ, Query("empty.pfx"));
  EXPECT_EQ(ERR_FILE_NOT_FOUND, Query("none.pfx"));
  EXPECT_EQ(0, CountMy());
}

TEST_F(PfxImportTest, QueryShowsWithoutImportingOrKeepingKeys) {
  WritePfx("user.pfx", *signer_, {root_.get()});
  ASSERT_EQ(0, SelectPfx(engine_, "user.pfx"));
  ASSERT_EQ(2, engine_.Signer().Source());
  int containers = CountKeyContainers();
  ASSERT_EQ(0, Query("user.pfx", "1234", CERT_DIGITAL_SIGNATURE_KEY_USAGE));
  EXPECT_EQ(containers, CountKeyContainers());
  EXPECT_EQ(0, CountMy());
  EXPECT_EQ(-1, engine_.Signer().Source());  // the earlier selection is forgotten
  EXPECT_EQ(folder_.path(), TakeText(engine_.GetSignerPfxFilePath()));
  EXPECT_EQ("user.pfx", TakeText(engine_.GetSignerPfxFileName()));
  EXPECT_EQ(signer_->Sha1Hex(), TakeText(engine_.GetCertFinger()));
  EXPECT_EQ("", TakeText(engine_.GetImportedPfxFileName()));
}

TEST_F(PfxImportTest, EmptyPasswordAsksEvenWhenTheFileHasNone) {
  WritePfx("open.pfx", *signer_, {}, "");
  {
    ScriptedDialogs run(R"({"dialog": 202, "press": 2})");
    EXPECT_EQ(ERR_USER_CANCEL, Import("open.pfx", ""));
    EXPECT_EQ(1u, run.Events("dialog").size());
  }
  {
    ScriptedDialogs run(R"({"dialog": 202, "press": 1})");  // the empty password accepted as typed
    EXPECT_EQ(0, Import("open.pfx", ""));
    EXPECT_EQ(1, CountMy());
  }
  // Without a display or script the dialog cannot be shown.
  EXPECT_EQ(ERR_MEM_ALLOC, engine_.QueryPfxInfo(Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), 0, 0));
}

TEST_F(PfxImportTest, DialogSuppliesTheFileAndPassword) {
  std::string pfx = WritePfx("user.pfx", *signer_, {});
  ScriptedDialogs run(R"([{"dialog": 202, "browse": ")" + pfx + R"(", "press": 301},
                          {"dialog": 202, "set": {"303": "1234"}, "press": 1}])");
  engine_.PresetPasswdLengthRange(4, 8);
  ASSERT_EQ(0, engine_.ImportPfxToIE(Utf8Bstr(""), Utf8Bstr(""), Utf8Bstr(""), 0, 0));
  EXPECT_EQ(folder_.path(), TakeText(engine_.GetImportedPfxFilePath()));
  EXPECT_EQ("user.pfx", TakeText(engine_.GetImportedPfxFileName()));
}

TEST_F(PfxImportTest, ProtectedModeRefusesButSettersWork) {
  ScopedEnv mode("KORVESSA_PROTECTED_MODE", "1");
  CCapiEngine engine;
  ASSERT_TRUE(engine.InProtectedMode());
  WritePfx("user.pfx", *signer_, {});
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine.ImportPfxToIE(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("1234"), 0, 0));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine.QueryPfxInfo(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("1234"), 0, 0));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine.ChangePfxPasswd(Folder(), Utf8Bstr("user.pfx"), Utf8Bstr("1234"),
                                                          Utf8Bstr("5678"), 0));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine.ExportPfxFromIE(Utf8Bstr(""), Folder(), Utf8Bstr("1"), 0, 0));
  EXPECT_EQ("", TakeText(engine.ExportMobileFromIE(Utf8Bstr(""), Utf8Bstr("1"), 0, 0)));
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, engine.Code());
  EXPECT_EQ(0, engine.PresetPasswdLengthRange(6, 10));
  EXPECT_EQ(0, engine.SetDefaultPfxFileName(Utf8Bstr("x")));
  EXPECT_EQ(0, CountMy());
}

}  // namespace
}  // namespace kv::test
