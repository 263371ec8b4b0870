// Providers and key containers: enumeration, and acquiring with every flag
// and the errors Windows gives.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>

#include "support/conformance.h"
#include "support/temp_home.h"

namespace {

using KeyContainerTest = kv::test::HomeTest;

TEST(CryptEnumProviders, ListsTheDefaultProvidersInOrder) {
  KV_WINE_DIFFERS("the AES provider is listed under its Windows XP name, with \"(Prototype)\"");
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
  // Providers a card maker installed follow the system's own; the list ends.
  for (;;) {
    char name[256];
    DWORD size = sizeof(name), type = 0;
    SetLastError(0xdeadbeef);
    if (!CryptEnumProvidersA(index++, nullptr, 0, &type, name, &size)) break;
    EXPECT_NE(std::string(name).rfind("Microsoft ", 0), 0u) << name;
    ASSERT_LT(index, 64u);
  }
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
  };
  const Case wineDiffers[] = {
      {MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0x100, NTE_BAD_FLAGS},
      {MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET, NTE_BAD_FLAGS},
      {MS_SCARD_PROV_A, PROV_RSA_FULL, 0, (HRESULT)0x8010002E},
  };
  auto refused = [&](const Case& c) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, c.provider, c.type, c.flags)) << c.provider;
    EXPECT_EQ(GetLastError(), (DWORD)c.error) << (c.provider ? c.provider : "(null)") << " " << c.type;
  };
  for (const Case& c : cases) refused(c);
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
  KV_WINE_DIFFERS("rsaenh names a container for a CRYPT_VERIFYCONTEXT context, answers NTE_BAD_KEYSET to "
                  "unknown or contradictory flags, and no smart-card provider stands behind its name");
  SetLastError(0xdeadbeef);
  size = sizeof(name);
  EXPECT_FALSE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEYSET);
  for (const Case& c : wineDiffers) refused(c);
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
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyKey(prov));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyHash(prov));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptReleaseContext(0x12345678, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

  KV_WINE_DIFFERS("advapi32 hands the flags to the provider only on the last release, so an earlier release "
                  "with flags succeeds");
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
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

}  // namespace
