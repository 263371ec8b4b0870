// The CryptoAPI owners: each handle released exactly once whichever way it
// leaves (reset, move, destruction), never when given up; and the store
// enumeration step that frees the context left behind by an early exit.
#include <gtest/gtest.h>

#include <vector>

#include "kvseam/owned_handles.h"
#include "support/temp_home.h"
#include "support/test_pki.h"

namespace {

std::vector<int> g_released;
void Record(int handle) { g_released.push_back(handle); }
using OwnedInt = kv::Owned<int, Record>;

TEST(OwnedHandle, ReleasedExactlyOnceWhicheverWayItLeaves) {
  g_released.clear();
  {
    OwnedInt a(1);
    a.reset(2);                  // 1 goes
    OwnedInt b(std::move(a));    // nothing goes
    OwnedInt c(3);
    c = std::move(b);            // 3 goes, c holds 2
    EXPECT_FALSE(a);
    OwnedInt d(4);
    EXPECT_EQ(d.release(), 4);   // given up: never released
    OwnedInt none;
    none.reset();                // the zero value is no handle
  }                              // 2 goes
  EXPECT_EQ(g_released, (std::vector<int>{1, 3, 2}));
}

class OwnedCertificateTest : public kv::test::HomeTest {};

TEST_F(OwnedCertificateTest, EnumerationStepsVisitEveryCertificateAndEndAsTheCallDoes) {
  kv::OwnedStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, X509_ASN_ENCODING, 0, 0, nullptr));
  ASSERT_TRUE(store);
  const kv::test::CertPtr root = kv::test::MakeRootCa("Owned Root");
  const kv::test::CertPtr leaf = kv::test::MakeEndEntity("Owned Leaf", *root);
  for (const kv::test::CertPtr& cert : {root, leaf})
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, cert->data(), cert->size(),
                                                 CERT_STORE_ADD_ALWAYS, nullptr));
  int seen = 0;
  kv::OwnedCertificate cursor;
  while (kv::NextCertificate(store.get(), &cursor)) ++seen;
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  EXPECT_FALSE(cursor);

  // Leaving early keeps the context alive until its owner goes; a copy
  // taken from it outlives the store it came from.
  ASSERT_TRUE(kv::NextCertificate(store.get(), &cursor));
  kv::OwnedCertificate copy(CertDuplicateCertificateContext(cursor.get()));
  cursor.reset();
  store.reset();
  ASSERT_TRUE(copy);
  EXPECT_GT(copy.get()->cbCertEncoded, 0u);
}

}  // namespace
