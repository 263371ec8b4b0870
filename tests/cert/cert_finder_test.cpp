// The store search: filters, key usage and validity rejections with their
// codes, the best-match rules and their ties, and the results list.
#include <gtest/gtest.h>

#include "cert/cert_finder.h"
#include "cert/cert_info.h"
#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

using kv::test::CertPtr;
using kv::test::CertSpec;
using kv::test::IssueCert;
using kv::test::UtcTime;

FILETIME ToFileTime(time_t t) {
  uint64_t ticks = (static_cast<uint64_t>(t) + 11644473600ULL) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

class CertFinderTest : public kv::test::HomeTest {
 protected:
  void SetUp() override { root_ = kv::test::MakeRootCa("Root CA"); }

  CertPtr Add(const std::string& cn, int keyUsage = 0xC0, time_t from = 0, time_t to = 0,
              std::vector<uint8_t> serial = {0x01}) {
    CertSpec spec;
    spec.subject = {{"C", "TW", V_ASN1_PRINTABLESTRING}, {"O", "Bank"}, {"CN", cn}};
    spec.keyUsage = keyUsage;
    spec.notBefore = from;
    spec.notAfter = to;
    spec.serial = std::move(serial);
    CertPtr cert = IssueCert(spec, root_.get());
    AddToMy(*cert);
    return cert;
  }

  void AddToMy(const kv::test::TestCert& cert) {
    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(my, nullptr);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(my, kCertEncoding, cert.data(), cert.size(),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
    CertCloseStore(my, 0);
  }

  ErrorCode Find(const std::string& filter, LONG flags = 0, LONG usage = 0, const FILETIME* when = nullptr) {
    CCertFinder finder;
    EXPECT_EQ(finder.OpenMyStore(), ERR_SUCCESS);
    CertSearchRequest request;
    request.results = &results_;
    request.filter = filter;
    request.flags = flags;
    request.requiredKeyUsage = usage;
    request.compareTime = when;
    return finder.Find(request);
  }

  std::string ResultCN(size_t i) { return CCertInfo(results_[i]).GetSubjectCN(); }

  CertPtr root_;
  CCertContextList results_;
};

TEST_F(CertFinderTest, NoStoreOrNoListIsNotFound) {
  CCertFinder finder;
  CertSearchRequest request;
  request.results = &results_;
  EXPECT_EQ(finder.Find(request), ERR_CERT_NOT_FOUND);
  ASSERT_EQ(finder.OpenMyStore(), ERR_SUCCESS);
  request.results = nullptr;
  EXPECT_EQ(finder.Find(request), ERR_CERT_NOT_FOUND);
}

TEST_F(CertFinderTest, EmptyFilterFindsEndEntitiesOnly) {
  AddToMy(*root_);
  Add("A1");
  Add("A2");
  EXPECT_EQ(Find(""), ERR_SUCCESS);
  ASSERT_EQ(results_.Count(), 2u);
  EXPECT_EQ(ResultCN(0), "A1");
  EXPECT_EQ(ResultCN(1), "A2");
  EXPECT_EQ(Find("//ab//"), ERR_SUCCESS);
  EXPECT_EQ(results_.Count(), 2u);
}

TEST_F(CertFinderTest, ExactAndExtendedFilters) {
  Add("A123456789", 0xC0, 0, 0, {0x0A, 0x1B});
  Add("B987654321");
  EXPECT_EQ(Find("S_CN=A123456789"), ERR_CERT_NOT_FOUND);
  EXPECT_EQ(Find("S_C=TW,S_O=Bank,S_CN=A123456789"), ERR_SUCCESS);
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(ResultCN(0), "A123456789");
  EXPECT_EQ(Find("S_CN=12345", kFindExtended), ERR_SUCCESS);
  EXPECT_EQ(results_.Count(), 1u);
  EXPECT_EQ(Find("S_SN=0a1b", kFindExtended), ERR_SUCCESS);
  EXPECT_EQ(results_.Count(), 1u);
  EXPECT_EQ(Find("S_CN=1234//S_CN=8765", kFindExtended), ERR_SUCCESS);
  EXPECT_EQ(results_.Count(), 2u);
  EXPECT_EQ(Find("I_CN=Root CA,S_CN=1234", kFindExtended), ERR_SUCCESS);
  EXPECT_EQ(Find("I_CN=Other CA,S_CN=1234", kFindExtended), ERR_CERT_NOT_FOUND);
}

TEST_F(CertFinderTest, KeyUsageAndValidityRejections) {
  time_t now = time(nullptr);
  Add("Expired", 0xC0, now - 86400 * 30, now - 86400);
  EXPECT_EQ(Find("", kFindCheckValidity), ERR_CERT_EXPIRED);
  Add("Encrypt only", 0x20);
  // The last rejection decides.
  EXPECT_EQ(Find("", kFindCheckValidity, 0x80), ERR_CERT_KEY_USAGE);
  Add("Future", 0xC0, now + 86400, now + 86400 * 30);
  EXPECT_EQ(Find("", kFindCheckValidity, 0x80), ERR_CERT_NOT_YET_VALID);
  Add("Good", 0xC0);
  EXPECT_EQ(Find("", kFindCheckValidity, 0x80), ERR_SUCCESS);
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(ResultCN(0), "Good");
  // The compare time moves the validity window.
  FILETIME past = ToFileTime(now - 86400 * 10);
  EXPECT_EQ(Find("S_C=TW,S_O=Bank,S_CN=Expired", kFindCheckValidity, 0, &past), ERR_SUCCESS);
}

TEST_F(CertFinderTest, BestMatchByDateFlags) {
  Add("Older", 0xC0, UtcTime(2013, 1, 1), UtcTime(2040, 1, 1));
  Add("Newer", 0xC0, UtcTime(2014, 1, 1), UtcTime(2039, 1, 1));
  Add("Tie", 0xC0, UtcTime(2014, 1, 1), UtcTime(2039, 1, 1));
  EXPECT_EQ(Find("", kFindSelectBest), ERR_SUCCESS);
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(ResultCN(0), "Newer") << "latest start, first of equal dates";
  EXPECT_EQ(Find("", kFindSelectBest | kFindEarliestStart), ERR_SUCCESS);
  EXPECT_EQ(ResultCN(0), "Older");
  EXPECT_EQ(Find("", kFindSelectBest | kFindLatestEnd), ERR_SUCCESS);
  EXPECT_EQ(ResultCN(0), "Older");
  EXPECT_EQ(Find("", kFindSelectBest | kFindEarliestEnd), ERR_SUCCESS);
  EXPECT_EQ(ResultCN(0), "Newer");
  EXPECT_EQ(Find("", kFindSelectBest | kFindEarliestStart | kFindEarliestEnd), ERR_SUCCESS);
  EXPECT_EQ(ResultCN(0), "Older") << "0x20 decides before 0x80";
  EXPECT_EQ(Find("", 1), ERR_SUCCESS);
  EXPECT_EQ(results_.Count(), 3u);
}

}  // namespace
