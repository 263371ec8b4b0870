// PFX export from the personal store: the file OpenSSL reads back, the chain,
// the name rules, deletion after export, the dialogs and the failure codes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "database/user_database.h"
#include "vocabulary/text.h"
#include "keys/pfx_test_support.h"

namespace kv::test {
namespace {

class PfxExportTest : public PfxTest {
 protected:
  LONG Export(const std::string& filter, const std::string& folder, const char* password, LONG flags = 0) {
    return engine_.ExportPfxFromIE(Utf8Bstr(filter), Utf8Bstr(folder), Utf8Bstr(password), flags, 0);
  }
};

TEST_F(PfxExportTest, WritesKeyAndCertificateThatOpenSslReads) {
  AddToMyWithKey(*signer_, true);
  SetLastError(0xdeadbeef);
  ASSERT_EQ(0, Export("S_CN=Signer One", folder_.path(), "s3cret", 8));
  EXPECT_EQ(0u, engine_.PlatformError());
  EXPECT_EQ(folder_.path(), TakeText(engine_.GetExportedPfxFilePath()));
  EXPECT_EQ("Signer One.pfx", TakeText(engine_.GetExportedPfxFileName()));
  std::string file = Path("Signer One.pfx");
  OpenedPfx opened = OpenPfxWithOpenSsl(file, "s3cret");
  ASSERT_TRUE(opened.opened);
  EXPECT_EQ(signer_->der(), opened.certDer);
  EXPECT_EQ(PrivateKeyDer(signer_->key()), opened.keyDer);
  EXPECT_TRUE(opened.otherDers.empty());
  std::string out;
  EXPECT_EQ(0, OpenSslPkcs12(file, "s3cret", true, &out)) << out;
  EXPECT_EQ(0, OpenSslPkcs12(file, "s3cret", false, &out)) << out;  // no legacy algorithm needed
  EXPECT_NE(0, OpenSslPkcs12(file, "wrong", true));
  EXPECT_EQ(1, CountMy());  // kept without 0x1000
  std::string listing;
  RunCommand("ls -A '" + folder_.path() + "'", &listing);
  EXPECT_EQ("Signer One.pfx\n", listing);  // no temporary file left beside it
}

// Other readers name the key entry after the key bag's friendlyName (a
// KeyStore alias); Windows writes the key container's name there, with the
// provider's name and the key spec's usage.
TEST_F(PfxExportTest, KeyBagNamesItsContainerAndProvider) {
  AddToMyWithKey(*signer_, true);
  HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
  PCCERT_CONTEXT context = CertEnumCertificatesInStore(my, nullptr);
  ASSERT_NE(nullptr, context);
  std::vector<BYTE> block(1024);
  DWORD size = static_cast<DWORD>(block.size());
  ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size));
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
  std::string container(info->pwszContainerName, info->pwszContainerName + lstrlenW(info->pwszContainerName));
  CertFreeCertificateContext(context);
  CertCloseStore(my, 0);

  ASSERT_EQ(0, Export("", folder_.path(), "pw"));
  std::string out;
  ASSERT_EQ(0, OpenSslPkcs12(Path("Signer One.pfx"), "pw", false, &out)) << out;
  EXPECT_NE(std::string::npos, out.find("localKeyID: 01 00 00 00 \n    friendlyName: " + container +
                                        "\n    Microsoft CSP Name: Microsoft Enhanced Cryptographic Provider v1.0\n"
                                        "Key Attributes\n    X509v3 Key Usage: 10 \n"))
      << out;
}

TEST_F(PfxExportTest, ChainWhenTrustedCertificateAloneOtherwise) {
  CertPtr intermediate = MakeIntermediateCa("Issuing CA", *root_);
  CertPtr leaf = MakeEndEntity("Chained User", *intermediate);
  AddToMyWithKey(*leaf, true);
  AddCertOnly("CA", *intermediate);
  // The root is not trusted yet: the file holds the certificate alone.
  ASSERT_EQ(0, Export("S_CN=Chained User", folder_.path(), "pw", 0x208));
  OpenedPfx alone = OpenPfxWithOpenSsl(Path("Chained User.pfx"), "pw");
  ASSERT_TRUE(alone.opened);
  EXPECT_EQ(leaf->der(), alone.certDer);
  EXPECT_TRUE(alone.otherDers.empty());

  AddCertOnly("ROOT", *root_);
  engine_.SetDefaultPfxFileName(Utf8Bstr("chain"));
  ASSERT_EQ(0, Export("S_CN=Chained User", folder_.path(), "pw", 0x208));
  OpenedPfx chained = OpenPfxWithOpenSsl(Path("chain.pfx"), "pw");
  ASSERT_TRUE(chained.opened);
  EXPECT_EQ(leaf->der(), chained.certDer);
  EXPECT_EQ(PrivateKeyDer(leaf->key()), chained.keyDer);
  auto has = [&](const TestCert& c) {
    for (const auto& der : chained.otherDers)
      if (der == c.der()) return true;
    return false;
  };
  EXPECT_TRUE(has(*intermediate));
  EXPECT_TRUE(has(*root_));
  EXPECT_EQ(2u, chained.otherDers.size());
  std::string out;
  EXPECT_EQ(0, OpenSslPkcs12(Path("chain.pfx"), "pw", true, &out)) << out;
}

TEST_F(PfxExportTest, FileNameRules) {
  AddToMyWithKey(*signer_, true);
  engine_.SetDefaultPfxFileName(Utf8Bstr("MyCert.PFX"));
  ASSERT_EQ(0, Export("", folder_.path(), "pw"));
  EXPECT_EQ("MyCert.PFX", TakeText(engine_.GetExportedPfxFileName()));
  engine_.SetDefaultPfxFileName(Utf8Bstr("MyCert"));
  ASSERT_EQ(0, Export("", folder_.path(), "pw"));
  EXPECT_EQ("MyCert.pfx", TakeText(engine_.GetExportedPfxFileName()));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("MyCert.pfx"), "pw").opened);
  engine_.SetDefaultPfxFileName(Utf8Bstr(""));
  ASSERT_EQ(0, Export("", folder_.path(), "pw"));
  EXPECT_EQ("Signer One.pfx", TakeText(engine_.GetExportedPfxFileName()));
}

TEST_F(PfxExportTest, CommonNameBecomesAFileName) {
  const struct {
    const char* commonName;
    const char* fileName;
  } cases[] = {
      {"張偉", "張偉.pfx"},                     // carried by the code page: kept
      {"张伟", "__.pfx"},                       // not carried
      {"Müller \xF0\x9F\x98\x80", "M_ller _.pfx"},  // a surrogate pair is one character
      {"A/B:C*?\"<>|\\", "A_B_C_______.pfx"},
      {"Tab\tName", "Tab_Name.pfx"},
      {"con", "con_.pfx"},
  };
  for (const auto& c : cases) {
    CertPtr cert = MakeEndEntity(c.commonName, *root_);
    AddToMyWithKey(*cert, true);
    ASSERT_EQ(0, Export("", folder_.path(), "pw", 0x1000)) << c.commonName;
    EXPECT_EQ(kv::Utf8ToNarrow(c.fileName), TakeText(engine_.GetExportedPfxFileName()));
    EXPECT_EQ(cert->der(), OpenPfxWithOpenSsl(Path(c.fileName), "pw").certDer) << c.fileName;
  }
}

TEST_F(PfxExportTest, OverwritesAnExistingFileAndCreatesOneFolderLevel) {
  AddToMyWithKey(*signer_, true);
  engine_.SetDefaultPfxFileName(Utf8Bstr("out"));
  folder_.File("out.pfx", "old content");
  ASSERT_EQ(0, Export("", folder_.path(), "pw"));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("out.pfx"), "pw").opened);

  ASSERT_EQ(0, Export("", Path("new"), "pw"));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("new/out.pfx"), "pw").opened);

  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_DIR_CREATE, Export("", Path("a/b"), "pw"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), engine_.PlatformError());
  folder_.File("plain", "x");
  EXPECT_EQ(ERR_DIR_CREATE, Export("", Path("plain"), "pw"));
  EXPECT_EQ("", TakeText(engine_.GetExportedPfxFileName()));
}

TEST_F(PfxExportTest, FailedWriteLeavesNoTemporaryAndKeepsTheCertificate) {
  AddToMyWithKey(*signer_, true);
  engine_.SetDefaultPfxFileName(Utf8Bstr("out"));
  // A folder in the way of the file name: the rename over it is refused.
  ASSERT_EQ(0, mkdir(Path("out.pfx").c_str(), 0700));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_PFX_FILE_WRITE, Export("", folder_.path(), "pw", 0x1000));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), engine_.PlatformError());
  EXPECT_EQ("", TakeText(engine_.GetExportedPfxFileName()));
  std::string listing;
  RunCommand("ls -A '" + folder_.path() + "'", &listing);
  EXPECT_EQ("out.pfx\n", listing);
  EXPECT_EQ(1, CountMy());  // not deleted: nothing was written
}

TEST_F(PfxExportTest, DeleteAfterExportOnlyOnSuccess) {
  AddToMyWithKey(*signer_, true);
  EXPECT_EQ(ERR_DIR_CREATE, Export("", Path("x/y"), "pw", 0x1000));
  EXPECT_EQ(1, CountMy());
  ASSERT_EQ(0, Export("", folder_.path(), "pw", 0x1000));
  EXPECT_EQ(0, CountMy());
  OpenedPfx opened = OpenPfxWithOpenSsl(Path("Signer One.pfx"), "pw");
  ASSERT_TRUE(opened.opened);
  EXPECT_EQ(PrivateKeyDer(signer_->key()), opened.keyDer);
}

TEST_F(PfxExportTest, FailedDeletionIsReportedAndTheFileKept) {
  AddToMyWithKey(*signer_, true);
  // The store refuses every removal, as a read-only database or home does.
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(kv::platform::UserDatabase::Instance().Connection(),
                                    "CREATE TRIGGER keep BEFORE DELETE ON cert_certificates "
                                    "BEGIN SELECT RAISE(ABORT, 'kept'); END",
                                    nullptr, nullptr, nullptr));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_CERT_DELETE, Export("", folder_.path(), "pw", 0x1000));
  EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_CANTWRITE)), engine_.PlatformError());
  EXPECT_EQ(1, CountMy());
  EXPECT_EQ("Signer One.pfx", TakeText(engine_.GetExportedPfxFileName()));
  EXPECT_TRUE(OpenPfxWithOpenSsl(Path("Signer One.pfx"), "pw").opened);
}

TEST_F(PfxExportTest, FailureCodes) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_CERT_NOT_FOUND, Export("", folder_.path(), "pw"));
  AddToMyWithKey(*signer_, false);
  EXPECT_EQ(ERR_CERT_NOT_FOUND, Export("S_CN=Nobody", folder_.path(), "pw", 8));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(ERR_KEY_NOT_EXPORTABLE, Export("", folder_.path(), "pw"));
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEY), engine_.PlatformError());
  EXPECT_EQ("", ReadFile(Path("Signer One.pfx")));
  // A certificate without its key in the store cannot be exported.
  CertPtr other = MakeEndEntity("No Key", *root_);
  AddCertOnly("MY", *other);
  EXPECT_EQ(ERR_CERT_NOT_FOUND, Export("S_CN=No Key", folder_.path(), "pw", 8));
}

TEST_F(PfxExportTest, ChooserAndExportDialog) {
  AddToMyWithKey(*signer_, true);
  CertPtr second = MakeEndEntity("Signer Two", *root_);
  AddToMyWithKey(*second, true);
  {
    ScriptedDialogs run(R"({"dialog": 204, "press": 2})");
    EXPECT_EQ(ERR_USER_CANCEL, Export("", folder_.path(), "pw"));
  }
  {
    // The second row chosen, then the folder and the password typed twice.
    ScriptedDialogs run(R"([{"dialog": 204, "select": 1, "press": 1},
                            {"dialog": 206, "browse": ")" + Path("picked") + R"(", "press": 301},
                            {"dialog": 206, "set": {"303": "typed", "304": "typed"}, "press": 1}])");
    mkdir(Path("picked").c_str(), 0700);
    ASSERT_EQ(0, Export("", "", ""));
    std::vector<json::Value> shown = run.Events("dialog");
    ASSERT_EQ(2u, shown.size());
  }
  std::string name = TakeText(engine_.GetExportedPfxFileName());
  EXPECT_EQ(Path("picked"), TakeText(engine_.GetExportedPfxFilePath()));
  OpenedPfx opened = OpenPfxWithOpenSsl(Path("picked/" + name), "typed");
  ASSERT_TRUE(opened.opened) << name;
  EXPECT_EQ(second->der(), opened.certDer);
}

}  // namespace
}  // namespace kv::test
