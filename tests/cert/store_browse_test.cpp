// Personal store browsing by 1-based index over a snapshot, deletion, and
// the getters of the chosen signer's certificate.
#include <gtest/gtest.h>

#include "cert/cert_info.h"
#include "engine/capi_engine.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

std::string Take(BSTR b) {
  std::string text = kv::WideToNarrow(b, static_cast<int>(SysStringLen(b)));
  SysFreeString(b);
  return text;
}

class StoreBrowseTest : public kv::test::HomeTest {
 protected:
  void SetUp() override {
    root_ = kv::test::MakeRootCa("Browse Root");
    a_ = kv::test::MakeEndEntity("First", *root_);
    b_ = kv::test::MakeEndEntity("Second", *root_);
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(my, nullptr);
    for (auto* c : {a_.get(), b_.get(), root_.get()})
      ASSERT_TRUE(CertAddEncodedCertificateToStore(my, kCertEncoding, c->data(), c->size(), CERT_STORE_ADD_ALWAYS,
                                                   nullptr));
    CertCloseStore(my, 0);
  }
  kv::test::CertPtr root_, a_, b_;
};

TEST_F(StoreBrowseTest, SnapshotIndexingAndDeletion) {
  CCapiEngine engine;
  EXPECT_EQ(engine.GetIECertCount(), 3) << "authority certificates are listed too";
  EXPECT_EQ(Take(engine.GetIECertCommonName(1)), "First");
  EXPECT_EQ(Take(engine.GetIECertCommonName(3)), "Browse Root");
  EXPECT_EQ(Take(engine.GetIECertSubject(0)), "");
  EXPECT_EQ(Take(engine.GetIECertSubject(4)), "");
  EXPECT_EQ(Take(engine.GetIECertFinger(2)), b_->Sha1Hex());
  EXPECT_EQ(Take(engine.GetIECertNotBefore(1)).size(), 14u);

  EXPECT_EQ(engine.DeleteIECert(2), ERR_SUCCESS);
  EXPECT_EQ(engine.GetErrorCode(), ERR_SUCCESS);
  EXPECT_EQ(Take(engine.GetIECertSubject(1)), "") << "the snapshot is emptied";
  EXPECT_EQ(engine.DeleteIECert(2), ERR_CERT_NOT_FOUND);
  EXPECT_EQ(engine.GetIECertCount(), 2);
  EXPECT_EQ(Take(engine.GetIECertCommonName(2)), "Browse Root");
}

TEST_F(StoreBrowseTest, CertificateGoneFromStoreIsNotFound) {
  CCapiEngine engine;
  ASSERT_EQ(engine.GetIECertCount(), 3);
  CCapiEngine other;
  ASSERT_EQ(other.GetIECertCount(), 3);
  ASSERT_EQ(other.DeleteIECert(1), ERR_SUCCESS);
  EXPECT_EQ(engine.DeleteIECert(1), ERR_CERT_NOT_FOUND);
}

TEST_F(StoreBrowseTest, SignerGetters) {
  CCapiEngine engine;
  engine.Fail(4242);
  EXPECT_EQ(Take(engine.GetCertSubject()), "");
  EXPECT_EQ(engine.GetCertKeyUsage(), 0);
  EXPECT_EQ(engine.GetErrorCode(), 0);
  EXPECT_EQ(Take(engine.GetCertB64()), "");

  ASSERT_TRUE(engine.Signer().AppendCertificate(a_->data(), static_cast<int32_t>(a_->size())));
  EXPECT_EQ(Take(engine.GetCertSubjectCN()), "First");
  EXPECT_EQ(Take(engine.GetCertFinger()), a_->Sha1Hex());
  EXPECT_EQ(engine.GetCertKeyUsage(), 0xC0);
  EXPECT_EQ(Take(engine.GetCertNotAfter()).size(), 14u);
  CByteBuffer b64;
  ASSERT_TRUE(b64.EncodeBase64(a_->data(), static_cast<int32_t>(a_->size())));
  EXPECT_EQ(Take(engine.GetCertB64()), b64.c_str());
}

TEST_F(StoreBrowseTest, ProtectedModeRefuses) {
  CCapiEngine engine;
  engine.OverrideProtectedMode(true);
  EXPECT_EQ(engine.GetIECertCount(), 0);
  EXPECT_EQ(engine.GetErrorCode(), ERR_IE_PROTECTED_MODE);
  EXPECT_EQ(Take(engine.GetIECertSubject(1)), "");
  EXPECT_EQ(engine.DeleteIECert(1), ERR_IE_PROTECTED_MODE);
}

}  // namespace
