// Loading PFX files: the load codes, the empty-versus-null password rule, the
// first-match search, and the deletion of imported key containers on close.
#include <gtest/gtest.h>

#include <string>

#include "cert/cert_info.h"
#include "cert/pfx_file.h"
#include "vocabulary/text.h"
#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertPtr;

class PfxFileTest : public kv::test::HomeTest {
 protected:
  void SetUp() override {
    kv::test::LoadLegacyProvider();
    root_ = kv::test::MakeRootCa("PFX Root");
    leaf_ = kv::test::MakeEndEntity("PFX Signer", *root_);
  }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = home_.path() + "/" + name;
    kv::test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }

  std::string MakePfx(const std::string& name, const char* password) {
    kv::test::Pkcs12Spec spec;
    spec.password = password;
    return Write(name, kv::test::MakePkcs12(*leaf_, {root_.get()}, spec));
  }

  // The key container named by the first certificate's key-provider information.
  static bool ContainerExists(const std::string& container, const std::string& provider, DWORD type) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container.c_str(), provider.c_str(), type, 0)) return false;
    CryptReleaseContext(prov, 0);
    return true;
  }

  struct Container {
    std::string name, provider;
    DWORD type = 0;
  };
  static Container FirstContainer(CPfxFile& pfx) {
    Container c;
    PCCERT_CONTEXT ctx = nullptr;
    while ((ctx = CertEnumCertificatesInStore(pfx.Store(), ctx)) != nullptr) {
      KeyProvInfoPtr info = pfx.GetKeyProvInfo(ctx);
      if (!info) continue;
      c.name = kv::WideToNarrow(info->pwszContainerName);
      c.provider = kv::WideToNarrow(info->pwszProvName);
      c.type = info->dwProvType;
      CertFreeCertificateContext(ctx);
      break;
    }
    return c;
  }

  CertPtr root_, leaf_;
};

TEST_F(PfxFileTest, LoadCodes) {
  CPfxFile pfx;
  EXPECT_EQ(pfx.Load("", "1234", 1), ERR_BAD_PARAM);
  EXPECT_EQ(pfx.Load(home_.path() + "/missing.pfx", "1234", 1), ERR_PFX_FILE_READ);
  EXPECT_NE(pfx.LastError(), 0u);
  EXPECT_EQ(pfx.Load(Write("empty.pfx", {}), "1234", 1), ERR_PFX_FILE_READ);
  std::string text = "this is not a PKCS#12 file";
  EXPECT_EQ(pfx.Load(Write("text.pfx", {text.begin(), text.end()}), "1234", 1), ERR_PKCS12_FORMAT);
  std::string good = MakePfx("good.pfx", "1234");
  EXPECT_EQ(pfx.Load(good, "wrong", 1), ERR_PKCS12_PASSWORD);
  EXPECT_EQ(pfx.Load(good, "", 1), ERR_PKCS12_PASSWORD);
  EXPECT_EQ(pfx.Store(), nullptr);
  EXPECT_EQ(pfx.Load(good, "1234", 1), ERR_SUCCESS);
  EXPECT_NE(pfx.Store(), nullptr);
}

TEST_F(PfxFileTest, EmptyPasswordLoadsEitherEncoding) {
  CPfxFile pfx;
  EXPECT_EQ(pfx.Load(MakePfx("empty-text.pfx", ""), "", 1), ERR_SUCCESS);
  EXPECT_EQ(pfx.Load(MakePfx("null.pfx", nullptr), "", 1), ERR_SUCCESS);
}

TEST_F(PfxFileTest, FindReturnsTheFirstEndEntity) {
  CPfxFile pfx;
  ASSERT_EQ(pfx.Load(MakePfx("a.pfx", "1234"), "1234", 1), ERR_SUCCESS);
  CCertContextList results;
  CertSearchRequest request;
  request.results = &results;
  EXPECT_EQ(pfx.Find(request), ERR_SUCCESS);
  ASSERT_EQ(results.Count(), 1u);
  EXPECT_EQ(CCertInfo(results[0]).GetSubjectCN(), "PFX Signer");
  request.requiredKeyUsage = 0x20;
  EXPECT_EQ(pfx.Find(request), ERR_CERT_KEY_USAGE);
  EXPECT_TRUE(results.Empty());
  request.requiredKeyUsage = 0;
  request.filter = "S_CN=Nobody";
  EXPECT_EQ(pfx.Find(request), ERR_CERT_NOT_FOUND);
}

TEST_F(PfxFileTest, CloseDeletesImportedKeysUnlessKept) {
  std::string path = MakePfx("keys.pfx", "1234");
  Container first;
  {
    CPfxFile pfx;
    ASSERT_EQ(pfx.Load(path, "1234", 1), ERR_SUCCESS);
    first = FirstContainer(pfx);
    ASSERT_FALSE(first.name.empty());
    EXPECT_TRUE(ContainerExists(first.name, first.provider, first.type));
    // A second load deletes the keys of the first.
    ASSERT_EQ(pfx.Load(path, "1234", 1), ERR_SUCCESS);
    EXPECT_FALSE(ContainerExists(first.name, first.provider, first.type));
    first = FirstContainer(pfx);
  }
  EXPECT_FALSE(ContainerExists(first.name, first.provider, first.type));

  CPfxFile kept;
  ASSERT_EQ(kept.Load(path, "1234", 1), ERR_SUCCESS);
  Container second = FirstContainer(kept);
  kept.m_deleteKeysOnClose = false;
  kept.Close();
  EXPECT_TRUE(ContainerExists(second.name, second.provider, second.type));
}

}  // namespace
