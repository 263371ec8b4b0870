// The encryption operations as hosts meet them: the library's exports found
// by name, and `korvessa --batch` running a round trip in one engine.
#include <dlfcn.h>

#include <windows.h>

#include <gtest/gtest.h>

#include "crypt/crypt_test_support.h"
#include "sign/sign_test_support.h"
#include "support/library_exports.h"

namespace kv::test {
namespace {

using SymCall = BSTR (*)(LPCWSTR, LPCWSTR, LONG, LONG);
using CertEncryptCall = BSTR (*)(LPCWSTR, LPCWSTR, LONG, LONG);
using CertDecryptCall = BSTR (*)(LPCWSTR, LONG);

LPCWSTR W(const std::u16string& s) { return reinterpret_cast<LPCWSTR>(s.c_str()); }

class CryptExports : public SigningTest {
 protected:
  void SetUp() override {
    SigningTest::SetUp();
    ASSERT_NE(nullptr, Library()) << dlerror();
  }
};

TEST_F(CryptExports, SymmetricRoundTripMatchesOpenSsl) {
  auto encrypt = Export<SymCall>("SymEncrypt");
  auto decrypt = Export<SymCall>("SymDecrypt");
  auto errorCode = Export<LONG (*)()>("GetErrorCode");
  ASSERT_TRUE(encrypt && decrypt && errorCode);
  const std::u16string key = u"0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
  const std::u16string text = Utf16("交易內容 2330");
  const std::u16string cipher = TakeLibraryString(encrypt(W(text), W(key), 0, 0));
  EXPECT_EQ(0, errorCode());
  const std::string expected =
      RunOverFiles(folder_.path(),
                   "openssl enc -des-ede3-cbc -K " + std::string(key.begin(), key.end()) +
                       " -iv 0000000000000000 -in {in} -out {out}",
                   {Utf16LeBytes(text)})[0];
  EXPECT_EQ(Base64(expected), std::string(cipher.begin(), cipher.end()));
  EXPECT_EQ(text, TakeLibraryString(decrypt(W(cipher), W(key), 0, 0)));
  EXPECT_EQ(0, errorCode());
  // Null arguments read as empty strings.
  EXPECT_EQ(u"", TakeLibraryString(encrypt(nullptr, W(key), 0, 0)));
  EXPECT_EQ(ERR_BAD_PARAM, errorCode());
  EXPECT_EQ(u"", TakeLibraryString(decrypt(W(cipher), nullptr, 0, 0)));
  EXPECT_EQ(ERR_BAD_PARAM, errorCode());
}

TEST_F(CryptExports, EnvelopeRoundTripThroughThePersonalStore) {
  auto encrypt = Export<CertEncryptCall>("CertEncryptPkcs7");
  auto decrypt = Export<CertDecryptCall>("CertDecryptPkcs7");
  auto errorCode = Export<LONG (*)()>("GetErrorCode");
  ASSERT_TRUE(encrypt && decrypt && errorCode);
  AddToMy(*signer_);
  const std::string certB64 = Base64(std::string(signer_->der().begin(), signer_->der().end()));
  const std::u16string cert(certB64.begin(), certB64.end());
  const std::u16string text = Utf16("委託單");
  const std::u16string sealed = TakeLibraryString(encrypt(W(text), W(cert), 1, 0x800));
  ASSERT_EQ(0, errorCode());
  EXPECT_EQ(text, TakeLibraryString(decrypt(W(sealed), 0x800)));
  EXPECT_EQ(0, errorCode());
  EXPECT_EQ(u"", TakeLibraryString(decrypt(nullptr, 0)));
  EXPECT_EQ(ERR_BAD_PARAM, errorCode());
}

TEST_F(CryptExports, BatchRoundTripInOneEngine) {
  const std::string input = folder_.File(
      "batch.jsonl",
      R"({"call": "SymEncrypt", "args": ["abc", "0123456789abcdef", 1, 2048]})" "\n"
      R"({"call": "SymDecrypt", "args": ["YBTef24CR6I=", "0123456789ABCDEF", 1, 2048]})" "\n"
      R"({"call": "SymDecrypt", "args": ["YBTef24CR6I=", "0123456789ABCDEE", 2, 2048]})" "\n");
  std::string out;
  ASSERT_EQ(0, RunCommand(std::string("'") + KV_HOST_PATH + "' --batch < '" + input + "'", &out));
  const std::string expected = RunOverFiles(folder_.path(),
                                            std::string("openssl enc -des-cbc") + kOpenSslLegacy +
                                                " -K 0123456789ABCDEF -iv 0000000000000000 -in {in} -out {out}",
                                            {"abc"})[0];
  EXPECT_EQ("YBTef24CR6I=", Base64(expected));
  EXPECT_NE(std::string::npos, out.find(R"("call": "SymEncrypt", "result": "YBTef24CR6I=", "error": 0)")) << out;
  EXPECT_NE(std::string::npos, out.find(R"("call": "SymDecrypt", "result": "abc", "error": 0)")) << out;
  EXPECT_NE(std::string::npos, out.find(R"("result": "", "error": 9001)")) << out;
}

}  // namespace
}  // namespace kv::test
