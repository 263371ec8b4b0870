// What signing keeps between signatures: the PFX signer's imported file while
// its bytes and password stay the same, and the opened key pair of a provider
// handle while its container record stays the same. Every change must be
// seen by the next signature.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "sign/sign_test_support.h"
#include "sign/signer_state.h"

namespace {

using namespace kv::test;

const std::string kText = "Sell 2317 x 500";

bool SignedBy(const TestCert& cert, const std::string& hex) {
  return VerifyDigestSignature(cert.key(), EVP_sha1(), Digest(EVP_sha1(), Utf16Bytes(kText)), FromHex(hex));
}

class PfxReloadTest : public SigningTest {
 protected:
  std::string Sign() { return TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0)); }
};

TEST_F(PfxReloadTest, ReplacedFileIsReadAgainAndNeverAnsweredFromTheOldImport) {
  WritePfx("signer.pfx", *signer_, {}, "1234");
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  std::string first = Sign();
  ASSERT_EQ(0, engine_.Code());
  EXPECT_TRUE(SignedBy(*signer_, first));
  EXPECT_EQ(first, Sign()) << "an unchanged file signs as before";

  // Same name, another certificate and key: the selected signer is gone.
  CertPtr other = MakeEndEntity("Other Signer", *root_);
  WritePfx("signer.pfx", *other, {}, "1234");
  EXPECT_EQ("", Sign());
  EXPECT_EQ(ERR_NO_SIGNER, engine_.Code());

  // The signer's certificate and key again, encoded differently and under
  // another password that another process left in the signer cache.
  Pkcs12Spec spec;
  spec.password = "5678";
  spec.iterations = 1000;
  std::vector<uint8_t> image = MakePkcs12(*signer_, {root_.get()}, spec);
  folder_.File("signer.pfx", std::string(image.begin(), image.end()));
  EXPECT_EQ("", Sign());
  EXPECT_EQ(ERR_PKCS12_PASSWORD, engine_.Code());
  engine_.Signer().SetPfxPassword("5678");
  std::string again = Sign();
  EXPECT_EQ(0, engine_.Code());
  EXPECT_TRUE(SignedBy(*signer_, again));
}

TEST_F(PfxReloadTest, WrongPasswordAfterARightOneFailsEveryTime) {
  WritePfx("signer.pfx", *signer_, {}, "1234");
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  ASSERT_TRUE(SignedBy(*signer_, Sign()));
  engine_.Signer().SetPfxPassword("4321");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ("", Sign());
    EXPECT_EQ(ERR_PKCS12_PASSWORD, engine_.Code());
    EXPECT_EQ("", TakeText(engine_.SignPkcs7(Utf8Bstr(kText), 0)));
    EXPECT_EQ(ERR_PKCS12_PASSWORD, engine_.Code());
  }
  engine_.Signer().SetPfxPassword("1234");
  EXPECT_TRUE(SignedBy(*signer_, Sign()));
}

TEST_F(PfxReloadTest, MissingFileAndNewSelectionAreSeen) {
  std::string path = WritePfx("signer.pfx", *signer_, {}, "1234");
  ASSERT_EQ(0, SelectPfx(engine_, "signer.pfx"));
  ASSERT_TRUE(SignedBy(*signer_, Sign()));
  ASSERT_EQ(0, std::remove(path.c_str()));
  EXPECT_EQ("", Sign());
  EXPECT_EQ(ERR_CERT_FILE_READ, engine_.Code());

  // A new selection drops what the old signer kept.
  CertPtr other = MakeEndEntity("Second Signer", *root_);
  WritePfx("second.pfx", *other, {}, "1234");
  ASSERT_EQ(0, SelectPfx(engine_, "second.pfx"));
  EXPECT_TRUE(SignedBy(*other, Sign()));
}

// The kept PFX (and its imported keys) is released when the process ends
// with the signer still selected; the host must exit normally.
TEST_F(PfxReloadTest, HostExitsCleanlyWithAPfxSignerStillKept) {
  WritePfx("signer.pfx", *signer_, {}, "1234");
  const std::string input = folder_.File(
      "batch.jsonl", "{\"call\": \"SelectSignerEx\", \"args\": [\"\", \"" + folder_.path() +
                         "\", \"signer.pfx\", \"1234\", \"\", 512, 0]}\n"
                         "{\"call\": \"SignPkcs7\", \"args\": [\"x\", 0]}\n"
                         "{\"call\": \"SignPkcs1\", \"args\": [\"x\", 0]}\n");
  std::string out;
  EXPECT_EQ(0, RunCommand("'" + std::string(KV_HOST_PATH) + "' --batch <'" + input + "'", &out)) << out;
  size_t successes = 0;
  for (size_t at = out.find("\"error\": 0,"); at != std::string::npos; at = out.find("\"error\": 0,", at + 1))
    ++successes;
  EXPECT_EQ(3u, successes) << out;
}

TEST_F(SigningTest, StoreSignerKeepsSigningAcrossManySignatures) {
  AddToMy(*signer_);
  ASSERT_EQ(0, engine_.SelectSigner(Utf8Bstr(""), 0x100, 0));
  std::string first;
  for (int i = 0; i < 5; ++i) {
    std::string hex = TakeText(engine_.SignPkcs1(Utf8Bstr(kText), 0));
    ASSERT_EQ(0, engine_.Code());
    if (i == 0) first = hex;
    EXPECT_EQ(first, hex);
  }
  EXPECT_TRUE(SignedBy(*signer_, first));
}

// The provider handle keeps the key pair it opened, but reads the container
// record on every use: a replaced or deleted pair is seen at once.
class ProviderKeyReuseTest : public HomeTest {
 protected:
  std::vector<BYTE> SignValue(HCRYPTPROV prov) {
    BYTE value[20] = {1, 2, 3, 4, 5};
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
    EXPECT_TRUE(CryptSetHashParam(hash, HP_HASHVAL, value, 0));
    DWORD size = 0;
    std::vector<BYTE> signature;
    if (CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, nullptr, &size)) {
      signature.resize(size);
      if (!CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature.data(), &size)) signature.clear();
    }
    CryptDestroyHash(hash);
    return signature;
  }
};

TEST_F(ProviderKeyReuseTest, ReplacedOrDeletedPairIsSeenByAnOpenHandle) {
  HCRYPTPROV kept = 0, other = 0;
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptAcquireContextA(&kept, "reuse", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  ASSERT_TRUE(CryptGenKey(kept, AT_SIGNATURE, 1024u << 16, &key));
  CryptDestroyKey(key);
  std::vector<BYTE> before = SignValue(kept);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before, SignValue(kept));

  ASSERT_TRUE(CryptAcquireContextA(&other, "reuse", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  ASSERT_TRUE(CryptGenKey(other, AT_SIGNATURE, 1024u << 16, &key));
  CryptDestroyKey(key);
  std::vector<BYTE> replaced = SignValue(other);
  EXPECT_NE(before, replaced);
  EXPECT_EQ(replaced, SignValue(kept)) << "the open handle signs with the new pair";
  CryptReleaseContext(other, 0);

  HCRYPTPROV gone = 0;
  ASSERT_TRUE(CryptAcquireContextA(&gone, "reuse", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
  HCRYPTHASH hash = 0;
  BYTE value[20] = {};
  ASSERT_TRUE(CryptCreateHash(kept, CALG_SHA1, 0, 0, &hash));
  ASSERT_TRUE(CryptSetHashParam(hash, HP_HASHVAL, value, 0));
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
  CryptDestroyHash(hash);
  CryptReleaseContext(kept, 0);
}

}  // namespace
