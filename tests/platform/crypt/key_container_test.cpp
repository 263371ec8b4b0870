// Key containers with keys in them: the Windows blob layouts, exportability,
// persistence across processes, real deletion and the at-rest protection of
// private keys.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::ExpectedBlob;
using kv::test::crypt::ProviderWithKey;
using kv::test::crypt::SharedTestKey;

// The fixture is the plain home, shared with key_container_calls_test.cpp.
using KeyContainerTest = kv::test::HomeTest;

// The stand-in's smart-card provider is listed after the system's own, as an
// installed card's provider is.
TEST(CryptEnumProviders, TheTokenProviderFollowsTheSystemProviders) {
  char name[256];
  DWORD size = sizeof(name), type = 0;
  ASSERT_TRUE(CryptEnumProvidersA(10, nullptr, 0, &type, name, &size));
  EXPECT_STREQ(name, "PKCS #11 Smart Card Provider");
  EXPECT_EQ(type, (DWORD)PROV_RSA_FULL);
}

TEST_F(KeyContainerTest, NullNameIsTheUsersDefaultContainer) {
  kv::test::ScopedEnv user("USER", "kvtester");
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  char name[64];
  DWORD size = sizeof(name);
  ASSERT_TRUE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0));
  EXPECT_STREQ(name, "kvtester");
  CryptReleaseContext(prov, 0);
  ASSERT_TRUE(CryptAcquireContextA(&prov, "kvtester", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  CryptReleaseContext(prov, 0);
  ASSERT_TRUE(CryptAcquireContextA(&prov, "", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  CryptReleaseContext(prov, 0);
}

TEST_F(KeyContainerTest, ImportedKeyExportsInTheWindowsLayout) {
  HCRYPTPROV prov = ProviderWithKey("layout", AT_KEYEXCHANGE);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));

  DWORD size = 0;
  ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(size, 20u + 128 + 5 * 64 + 128);
  std::vector<BYTE> blob(size);
  DWORD small = size - 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &small));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(small, size);
  ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
  EXPECT_EQ(blob, ExpectedBlob(SharedTestKey(), CALG_RSA_KEYX, true));

  ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
  blob.resize(size);
  ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size));
  EXPECT_EQ(blob, ExpectedBlob(SharedTestKey(), CALG_RSA_KEYX, false));

  DWORD value = 0, len = sizeof(value);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_ALGID, reinterpret_cast<BYTE*>(&value), &len, 0));
  EXPECT_EQ(value, (DWORD)CALG_RSA_KEYX);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&value), &len, 0));
  EXPECT_EQ(value, 1024u);

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportKey(key, 0, 0x55, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_TYPE);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NO_KEY);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

TEST_F(KeyContainerTest, ExportabilityFollowsTheFlags) {
  HCRYPTPROV prov = ProviderWithKey("locked", AT_SIGNATURE, 0);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY_STATE);
  EXPECT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
  CryptDestroyKey(key);

  // An archivable key exports once, through the handle that generated it.
  HCRYPTKEY generated = 0;
  ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, (512u << 16) | CRYPT_ARCHIVABLE, &generated));
  EXPECT_TRUE(CryptExportKey(generated, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(size, 20u + 64 + 5 * 32 + 64);
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY_STATE);
  DWORD bits = 0, len = sizeof(bits);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &len, 0));
  EXPECT_EQ(bits, 512u);
  CryptDestroyKey(key);
  CryptDestroyKey(generated);

  for (DWORD bad : {376u, 16392u, 1028u}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptGenKey(prov, AT_SIGNATURE, bad << 16, &key)) << bad;
    EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_FLAGS) << bad;
  }
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGenKey(prov, 0x1234, 0, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_ALGID);
  CryptReleaseContext(prov, 0);
}

TEST_F(KeyContainerTest, BadBlobsAreRefused) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  std::vector<BYTE> blob = ExpectedBlob(SharedTestKey(), CALG_RSA_KEYX, true);
  HCRYPTKEY key = 0;
  std::vector<BYTE> bad = blob;
  bad[1] = 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptImportKey(prov, bad.data(), (DWORD)bad.size(), 0, 0, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_VER);
  bad = blob;
  bad[8] = 'X';
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptImportKey(prov, bad.data(), (DWORD)bad.size(), 0, 0, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
  // Every truncation of the blob is refused, none is read past its end.
  for (size_t cut = 0; cut < blob.size(); cut += 7) {
    std::vector<BYTE> part(blob.begin(), blob.begin() + cut);
    EXPECT_FALSE(CryptImportKey(prov, part.empty() ? blob.data() : part.data(), (DWORD)cut, 0, 0, &key)) << cut;
  }
  // A prime that does not divide the modulus.
  bad = blob;
  bad[20 + 128] ^= 1;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptImportKey(prov, bad.data(), (DWORD)bad.size(), 0, 0, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);

  // A public blob gives a key that can be exported only as public.
  std::vector<BYTE> pub = ExpectedBlob(SharedTestKey(), CALG_RSA_SIGN, false);
  ASSERT_TRUE(CryptImportKey(prov, pub.data(), (DWORD)pub.size(), 0, CRYPT_EXPORTABLE, &key));
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

// Run by PersistsAcrossProcesses in a separate process.
TEST_F(KeyContainerTest, DISABLED_ChildReadsPersistedKey) {
  const char* home = std::getenv("KV_CHILD_HOME");
  ASSERT_NE(home, nullptr);
  kv::test::ScopedEnv env("KORVESSA_HOME", home);
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, "persisted", MS_STRONG_PROV_A, PROV_RSA_FULL, 0));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  DWORD size = 0;
  ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
  std::vector<BYTE> blob(size);
  ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size));
  const char* expected = std::getenv("KV_CHILD_EXPECT");
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(kv::test::crypt::Hex(blob), expected);
  // Leave the container deleted so that the parent sees the change too.
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
  EXPECT_TRUE(CryptAcquireContextA(&prov, "persisted", MS_STRONG_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
}

TEST_F(KeyContainerTest, PersistsAcrossProcessesAndDeleteReallyRemoves) {
  HCRYPTPROV prov = ProviderWithKey("persisted", AT_SIGNATURE, CRYPT_EXPORTABLE, 1);
  CryptReleaseContext(prov, 0);
  // Hand the key over to a fresh process of this test binary; the child
  // checks the key and deletes the container.
  std::string command = "KV_CHILD_EXPECT=" + kv::test::crypt::Hex(ExpectedBlob(SharedTestKey(1), CALG_RSA_SIGN, false)) +
                        " KV_CHILD_HOME='" + home_.path() +
                        "' /proc/" + std::to_string(getpid()) +
                        "/exe --gtest_also_run_disabled_tests "
                        "--gtest_filter=KeyContainerTest.DISABLED_ChildReadsPersistedKey > /dev/null 2>&1";
  std::string out;
  EXPECT_EQ(kv::test::RunCommand(command, &out), 0) << out;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "persisted", MS_STRONG_PROV_A, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  // A new container of the same name starts empty.
  ASSERT_TRUE(CryptAcquireContextA(&prov, "persisted", MS_STRONG_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  HCRYPTKEY key = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NO_KEY);
  CryptReleaseContext(prov, 0);
}

TEST_F(KeyContainerTest, DatabaseIsPrivateAndHoldsNoPlainKey) {
  HCRYPTPROV prov = ProviderWithKey("secret", AT_KEYEXCHANGE, 0);
  CryptReleaseContext(prov, 0);
  std::string db = home_.path() + "/korvessa.db";
  struct stat st;
  ASSERT_EQ(stat(db.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string secretFile = home_.path() + "/key-containers.secret";
  ASSERT_EQ(stat(secretFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::string bytes = kv::test::ReadFile(db) + kv::test::ReadFile(db + "-wal");
  std::vector<BYTE> d = kv::test::crypt::RsaComponent(SharedTestKey(), OSSL_PKEY_PARAM_RSA_D);
  std::vector<BYTE> p = kv::test::crypt::RsaComponent(SharedTestKey(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  for (const auto& part : {d, p, kv::test::crypt::Reversed(d), kv::test::crypt::Reversed(p)}) {
    std::string needle(part.begin(), part.begin() + 16);
    EXPECT_EQ(bytes.find(needle), std::string::npos);
  }
  // Without the secret file the sealed key cannot be opened.
  ASSERT_EQ(rename(secretFile.c_str(), (secretFile + ".moved").c_str()), 0);
  ASSERT_TRUE(CryptAcquireContextA(&prov, "secret", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  HCRYPTKEY key = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  CryptReleaseContext(prov, 0);
}

}  // namespace

namespace {

TEST_F(KeyContainerTest, CertificateIsStoredWithTheKey) {
  HCRYPTPROV prov = ProviderWithKey("with-cert", AT_KEYEXCHANGE);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_NOT_FOUND);
  // Another key's certificate is refused.
  std::vector<BYTE> foreign = kv::test::crypt::SelfSignedCert(SharedTestKey(1), "Other");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSetKeyParam(key, KP_CERTIFICATE, foreign.data(), 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
  std::vector<BYTE> cert = kv::test::crypt::SelfSignedCert(SharedTestKey(0), "Owner");
  ASSERT_TRUE(CryptSetKeyParam(key, KP_CERTIFICATE, cert.data(), 0));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);

  ASSERT_TRUE(CryptAcquireContextA(&prov, "with-cert", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  size = 0;
  ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0));
  std::vector<BYTE> back(size);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, back.data(), &size, 0));
  EXPECT_EQ(back, cert);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

TEST_F(KeyContainerTest, UserProtectedKeysNeedAnInteractiveContext) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, "quiet", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET | CRYPT_SILENT));
  HCRYPTKEY key = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGenKey(prov, AT_SIGNATURE, (512u << 16) | CRYPT_USER_PROTECTED, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_SILENT_CONTEXT);
  CryptReleaseContext(prov, 0);
  ASSERT_TRUE(CryptAcquireContextA(&prov, "quiet", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  ASSERT_TRUE(CryptGenKey(prov, AT_SIGNATURE, (512u << 16) | CRYPT_USER_PROTECTED | CRYPT_EXPORTABLE, &key));
  CryptDestroyKey(key);
  // The flags persist with the key.
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  DWORD size = 0;
  EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

}  // namespace
