// The engine's signer entries in the shared area: what SaveSigner leaves,
// byte for byte, for store and PFX signers and for a second signer saved over
// the first, the typed readers, and a signer saved in one process read in
// another.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/capi_engine.h"
#include "sign/signer_state.h"
#include "vocabulary/text.h"
#include "platform/sync/sync_test_support.h"
#include "sign/shared_memory.h"
#include "support/shared_area_layout.h"
#include "sign/signer_cache.h"
#include "support/temp_home.h"

namespace {

using kv::test::StoredEntry;

DWORD Dword(const BYTE* p) { return kv::test::LeDword(p); }

std::vector<StoredEntry> Entries(const cSharedMemory& area, DWORD* end) {
  std::vector<StoredEntry> entries = kv::test::ReadAreaEntries(area, end);
  for (const StoredEntry& e : entries) EXPECT_TRUE(e.keyIsAscii) << e.key;
  return entries;
}

bool ZeroFrom(const cSharedMemory& area, DWORD from) { return kv::test::AreaZeroFrom(area, from); }

std::string FakeCert(size_t size, char fill) {
  std::string der(size, fill);
  der[0] = 0x30;
  return der;
}

class SignerCacheTest : public kv::test::HomeTest {
 protected:
  SignerCacheTest() : areaName_(kv::test::UniqueName("signer")), privateArea_("KORVESSA_SIGNER_AREA", areaName_.c_str()) {}

  void SetSigner(LONG source, const std::string& der, const std::string& hash, const std::string& password = "",
                 const std::string& path = "", const std::string& name = "") {
    engine_.Signer().SetSource(source);
    ASSERT_TRUE(
        engine_.Signer().SetCertificate(reinterpret_cast<const BYTE*>(der.data()), static_cast<int32_t>(der.size())));
    engine_.Signer().SetFingerprint(hash);
    engine_.Signer().SetPfxPassword(password);
    engine_.Signer().SetPfxFile(path, name);
  }

  std::vector<StoredEntry> Saved(DWORD* end) {
    CSignerCache(engine_).SaveSigner();
    EXPECT_NE(engine_.Signer().Cache(), nullptr);
    return engine_.Signer().Cache() ? Entries(*engine_.Signer().Cache(), end) : std::vector<StoredEntry>{};
  }

  std::string areaName_;
  kv::test::ScopedEnv privateArea_;
  CCapiEngine engine_;
};

const std::string kHashA = "0123456789ABCDEF0123456789ABCDEF01234567";
const std::string kHashB = "FEDCBA9876543210FEDCBA9876543210FEDCBA98";

TEST_F(SignerCacheTest, AStoreSignerLeavesThreeEntries) {
  const std::string der = FakeCert(700, 'a');
  SetSigner(1, der, kHashA);
  DWORD end = 0;
  auto entries = Saved(&end);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key, "signerMedia");
  EXPECT_EQ(entries[0].value, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(entries[1].key, "signerCertBytes");
  EXPECT_EQ(entries[1].value, der);
  EXPECT_EQ(entries[2].key, "signerCertHash");
  EXPECT_EQ(entries[2].value, kHashA);
  EXPECT_EQ(Dword(engine_.Signer().Cache()->View()), 3u);
  EXPECT_EQ(end, 8u + (84 + 4) + (84 + 700) + (84 + 40));
  EXPECT_TRUE(ZeroFrom(*engine_.Signer().Cache(), end));
}

TEST_F(SignerCacheTest, APfxSignerLeavesSixEntriesInSaveOrder) {
  const std::string password = kv::Utf8ToNarrow(u8"密碼pw");
  const std::string folder = kv::Utf8ToNarrow(u8"C:\\憑證");
  SetSigner(2, FakeCert(500, 'b'), kHashA, password, folder, "signer.pfx");
  DWORD end = 0;
  auto entries = Saved(&end);
  ASSERT_EQ(entries.size(), 6u);
  const char* keys[] = {"signerMedia",      "signerCertBytes",    "signerCertHash",
                        "signerCertPasswd", "signerCertFilePath", "signerCertFileName"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(entries[i].key, keys[i]);
  EXPECT_EQ(entries[0].value, std::string("\x02\x00\x00\x00", 4));
  EXPECT_EQ(entries[3].value, password) << "stored in the engine's code page, no terminator";
  EXPECT_EQ(entries[4].value, folder);
  EXPECT_EQ(entries[5].value, "signer.pfx");
  EXPECT_TRUE(ZeroFrom(*engine_.Signer().Cache(), end));

  CSignerCache cache(engine_);
  EXPECT_EQ(cache.ReadInt(kSignerMediaKey), 2);
  EXPECT_EQ(cache.ReadString(kSignerCertPasswdKey), password);
  EXPECT_EQ(cache.ReadString(kSignerCertFilePathKey), folder);

  // A store signer saved afterwards drops the PFX strings.
  SetSigner(1, FakeCert(500, 'c'), kHashB);
  entries = Saved(&end);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(cache.ReadString(kSignerCertPasswdKey), "");
  EXPECT_EQ(cache.ReadString(kSignerCertHashKey), kHashB);
  EXPECT_TRUE(ZeroFrom(*engine_.Signer().Cache(), end));
}

TEST_F(SignerCacheTest, AShorterSecondCertificateIsZeroPaddedInPlace) {
  SetSigner(1, FakeCert(600, 'a'), kHashA);
  DWORD end = 0;
  Saved(&end);
  const std::string shorter = FakeCert(400, 'z');
  SetSigner(1, shorter, kHashB);
  auto entries = Saved(&end);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].key, "signerCertBytes");
  ASSERT_EQ(entries[1].value.size(), 600u) << "the entry keeps the size it was added with";
  EXPECT_EQ(entries[1].value.substr(0, 400), shorter);
  EXPECT_EQ(entries[1].value.substr(400), std::string(200, '\0'));
  EXPECT_EQ(entries[2].value, kHashB);
}

TEST_F(SignerCacheTest, ALongerSecondCertificateReplacesTheCachedOne) {
  SetSigner(1, FakeCert(300, 'a'), kHashA);
  DWORD end = 0;
  Saved(&end);
  const std::string longer = FakeCert(900, 'y');
  SetSigner(1, longer, kHashB);
  auto entries = Saved(&end);
  ASSERT_EQ(entries.size(), 3u);
  CSignerCache cache(engine_);
  CByteBuffer bytes;
  ASSERT_TRUE(cache.ReadBytes(kSignerCertBytesKey, bytes));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Size())), longer)
      << "the bytes belong to the hash beside them";
  EXPECT_EQ(cache.ReadString(kSignerCertHashKey), kHashB);
  EXPECT_EQ(end, 8u + (84 + 4) + (84 + 900) + (84 + 40));
  EXPECT_TRUE(ZeroFrom(*engine_.Signer().Cache(), end));
}

TEST_F(SignerCacheTest, ReadersGiveEmptyValuesWhenNothingIsCached) {
  CSignerCache cache(engine_);
  CByteBuffer bytes;
  ASSERT_TRUE(bytes.Append("x", 1));
  EXPECT_EQ(cache.ReadInt(kSignerMediaKey), -1) << "no area yet";
  EXPECT_EQ(cache.ReadString(kSignerCertHashKey), "");
  EXPECT_FALSE(cache.ReadBytes(kSignerCertBytesKey, bytes));
  EXPECT_TRUE(bytes.Empty());

  ASSERT_NE(cache.Area(), nullptr);
  EXPECT_EQ(cache.ReadInt(kSignerMediaKey), -1) << "area without the key";
  cache.WriteString(kSignerCertPasswdKey, "secret");
  EXPECT_EQ(cache.ReadString(kSignerCertPasswdKey), "secret");
  cache.WriteString(kSignerCertPasswdKey, "new");
  EXPECT_EQ(cache.ReadString(kSignerCertPasswdKey), "new");
  EXPECT_EQ(cache.ReadInt(kSignerCertPasswdKey), -1) << "not four bytes";
  cache.WriteString(kSignerCertPasswdKey, "");
  EXPECT_EQ(engine_.Signer().Cache()->Exists(kSignerCertPasswdKey), 0);
}

TEST_F(SignerCacheTest, AnotherProcessTakesTheSavedSigner) {
  const std::string der = FakeCert(640, 'q');
  SetSigner(2, der, kHashA, "pw", "/tmp", "a.pfx");
  DWORD end = 0;
  Saved(&end);
  int code = kv::test::RunInChild([&] {
    CCapiEngine other;
    CSignerCache cache(other);
    if (!cache.Area() || cache.Area()->Created()) return 1;
    CByteBuffer bytes;
    if (!cache.ReadBytes(kSignerCertBytesKey, bytes) || bytes.Size() != 640 ||
        std::memcmp(bytes.Data(), der.data(), 640) != 0)
      return 2;
    if (cache.ReadInt(kSignerMediaKey) != 2 || cache.ReadString(kSignerCertHashKey) != kHashA ||
        cache.ReadString(kSignerCertPasswdKey) != "pw")
      return 3;
    cache.WriteString(kSignerCertPasswdKey, "changed");
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(CSignerCache(engine_).ReadString(kSignerCertPasswdKey), "changed");
}

}  // namespace
