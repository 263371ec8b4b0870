// Providers and key containers: enumeration, acquiring with every flag and
// the errors Windows gives, persistence across processes, real deletion and
// the at-rest protection of private keys.
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

class KeyContainerTest : public kv::test::HomeTest {};

TEST(CryptEnumProviders, ListsTheDefaultProvidersInOrder) {
  const struct {
    const char* name;
    DWORD type;
  } expected[] = {
      {"Microsoft Base Cryptographic Provider v1.0", 1},
      {"Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", 13},
      {"Microsoft Base DSS Cryptographic Provider", 3},
      {"Microsoft Base Smart Card Crypto Provider", 1},
      {"Microsoft DH SChannel Cryptographic Provider", 18},
      {"Microsoft Enhanced Cryptographic Provider v1.0", 1},
      {"Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13},
      {"Microsoft Enhanced RSA and AES Cryptographic Provider", 24},
      {"Microsoft RSA SChannel Cryptographic Provider", 12},
      {"Microsoft Strong Cryptographic Provider", 1},
      // The stand-in's smart-card provider, as an installed card's provider is listed.
      {"PKCS #11 Smart Card Provider", 1},
  };
  DWORD index = 0;
  for (const auto& e : expected) {
    char name[256];
    DWORD size = sizeof(name), type = 0;
    ASSERT_TRUE(CryptEnumProvidersA(index++, nullptr, 0, &type, name, &size));
    EXPECT_STREQ(name, e.name);
    EXPECT_EQ(size, strlen(e.name) + 1);
    EXPECT_EQ(type, e.type);
  }
  DWORD size = 256, type = 0;
  char name[256];
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEnumProvidersA(index, nullptr, 0, &type, name, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
}

TEST(CryptEnumProviders, SizeQueryAndShortBuffer) {
  DWORD size = 0, type = 0;
  ASSERT_TRUE(CryptEnumProvidersA(0, nullptr, 0, &type, nullptr, &size));
  EXPECT_EQ(size, sizeof(MS_DEF_PROV_A));
  char small[4];
  size = sizeof(small);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEnumProvidersA(0, nullptr, 0, &type, small, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof(MS_DEF_PROV_A));
  DWORD reserved = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEnumProvidersA(0, &reserved, 0, &type, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEnumProvidersA(0, nullptr, 1, &type, nullptr, &size));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_FLAGS);
}

TEST_F(KeyContainerTest, NewOpenDeleteFollowTheWindowsErrors) {
  HCRYPTPROV prov = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "kv-test", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);

  ASSERT_TRUE(CryptAcquireContextA(&prov, "kv-test", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  EXPECT_NE(prov, 0u);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "KV-TEST", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_EXISTS);

  // Any RSA provider opens the same container; names ignore case.
  ASSERT_TRUE(CryptAcquireContextA(&prov, "Kv-Test", MS_DEF_PROV_A, PROV_RSA_FULL, 0));
  char name[64];
  DWORD size = sizeof(name);
  ASSERT_TRUE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0));
  EXPECT_STREQ(name, "Kv-Test");  // as this caller named it
  size = sizeof(name);
  ASSERT_TRUE(CryptGetProvParam(prov, PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0));
  EXPECT_STREQ(name, MS_DEF_PROV_A);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
  ASSERT_TRUE(CryptAcquireContextA(&prov, "kv-test", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  prov = 0x1234;
  ASSERT_TRUE(CryptAcquireContextA(&prov, "kv-test", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
  EXPECT_EQ(prov, 0u);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "kv-test", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "kv-test", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
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

TEST_F(KeyContainerTest, ProviderNamesTypesAndFlagsAreChecked) {
  HCRYPTPROV prov = 0;
  struct Case {
    const char* provider;
    DWORD type;
    DWORD flags;
    HRESULT error;
  } cases[] = {
      {"Vendor Smart Card CSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_KEYSET_NOT_DEF},
      {MS_ENHANCED_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NO_MATCH},
      {MS_ENHANCED_PROV_A, 0, CRYPT_VERIFYCONTEXT, NTE_BAD_PROV_TYPE},
      {MS_ENHANCED_PROV_A, 1000, CRYPT_VERIFYCONTEXT, NTE_BAD_PROV_TYPE},
      {nullptr, PROV_RSA_SIG, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NOT_DEF},
      {MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0x100, NTE_BAD_FLAGS},
      {MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET, NTE_BAD_FLAGS},
      {MS_SCARD_PROV_A, PROV_RSA_FULL, 0, (HRESULT)0x8010002E},
  };
  for (const Case& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, c.provider, c.type, c.flags)) << c.provider;
    EXPECT_EQ(GetLastError(), (DWORD)c.error) << (c.provider ? c.provider : "(null)") << " " << c.type;
  }
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "named", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_FLAGS);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(nullptr, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

  // A null provider name picks the type's default provider.
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT));
  char name[128];
  DWORD size = sizeof(name);
  ASSERT_TRUE(CryptGetProvParam(prov, PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0));
  EXPECT_STREQ(name, MS_ENH_RSA_AES_PROV_A);
  SetLastError(0xdeadbeef);
  size = sizeof(name);
  EXPECT_FALSE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
}

TEST_F(KeyContainerTest, MachineKeysetsAreSeparate) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, "shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                                   CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
  CryptReleaseContext(prov, 0);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  ASSERT_TRUE(CryptAcquireContextA(&prov, "shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET));
  CryptReleaseContext(prov, 0);
}

TEST_F(KeyContainerTest, HandlesOfTheWrongKindAreRefused) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  HCRYPTKEY key = 0;

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetUserKey(hash, AT_SIGNATURE, &key));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_UID);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyKey(prov));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyHash(prov));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_HASH);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptReleaseContext(0x12345678, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

  // Reference counting: two releases after one AddRef; a release with flags
  // is refused but drops its reference all the same.
  ASSERT_TRUE(CryptContextAddRef(prov, nullptr, 0));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptReleaseContext(prov, 1));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_FLAGS);
  EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("a"), 1, 0));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptReleaseContext(prov, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  // A hash outlives its provider as a handle but can no longer be used, nor
  // destroyed without an error.
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("a"), 1, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyHash(hash));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyHash(hash));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_HASH);
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
