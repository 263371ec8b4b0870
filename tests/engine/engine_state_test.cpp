// The engine's per-area state objects: a fresh engine starts with the
// documented defaults, the snapshot answers only indexes inside its list,
// and forgetting the signer leaves nothing a later signature could use.
#include <gtest/gtest.h>

#include <memory>

#include "cert/cert_finder.h"
#include "cert/store_snapshot.h"
#include "engine/capi_engine.h"
#include "keys/pfx_settings.h"
#include "sign/signer_state.h"
#include "support/temp_home.h"

namespace {

class EngineState : public kv::test::HomeTest {
 protected:
  CCapiEngine engine_;
};

TEST_F(EngineState, FreshEngineStartsEmptyWithTheDefaultRange) {
  EXPECT_EQ(engine_.Signer().Source(), kv::sign::kSourceNone);
  EXPECT_TRUE(engine_.Signer().Certificate().Empty());
  EXPECT_EQ(engine_.Pfx().MinPasswordLength(), kDefaultPwdMinLen);
  EXPECT_EQ(engine_.Pfx().MaxPasswordLength(), kDefaultPwdMaxLen);
  EXPECT_EQ(engine_.Snapshot().Count(), 0u);
}

TEST_F(EngineState, SnapshotAnswersOnlyIndexesInsideItsList) {
  const BYTE a[] = {1, 2}, b[] = {3};
  kv::cert::StoreSnapshot& snapshot = engine_.Snapshot();
  snapshot.Add(a, sizeof a);
  snapshot.Add(b, sizeof b);
  const struct {
    LONG index;
    size_t size;  // 0: no entry
  } cases[] = {{-1, 0}, {0, 0}, {1, 2}, {2, 1}, {3, 0}};
  for (const auto& c : cases) {
    const std::vector<BYTE>* entry = snapshot.At(c.index);
    EXPECT_EQ(entry ? entry->size() : 0u, c.size) << c.index;
  }
}

TEST_F(EngineState, ForgettingTheSignerDropsItsKeyAndStore) {
  kv::sign::SignerState& signer = engine_.Signer();
  const BYTE der[] = {0x30, 0x00};
  signer.SetSource(kv::sign::kSourcePfx);
  signer.SetFingerprint("AB");
  ASSERT_TRUE(signer.SetCertificate(der, sizeof der));
  signer.SetPfxFile("C:\\", "a.pfx");
  signer.SetPfxPassword("1234");
  signer.SetStore(std::make_unique<CCertFinder>());
  signer.SetProvider(7);
  signer.Forget();
  EXPECT_EQ(signer.Source(), kv::sign::kSourceNone);
  EXPECT_TRUE(signer.Fingerprint().empty() && signer.Certificate().Empty());
  EXPECT_TRUE(signer.PfxPath().empty() && signer.PfxName().empty() && signer.PfxPassword().empty());
  EXPECT_EQ(signer.Store(), nullptr);
  EXPECT_EQ(signer.Provider(), 0u);
}

}  // namespace
