// Provider contexts and public-key blobs as the system gives them, with no
// key of the tests' own.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>

#include <vector>

#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::kPairPermissions;
using kv::test::crypt::Permissions;
using ProviderConformanceTest = kv::test::HomeTest;

TEST_F(ProviderConformanceTest, ContextHandlesFailAsTheSystemDoes) {
  const struct {
    const char* what;
    BOOL (*call)();
    DWORD error;
  } cases[] = {
      {"release of no handle", [] { return CryptReleaseContext(0, 0); }, ERROR_INVALID_PARAMETER},
      {"release of no handle, flags", [] { return CryptReleaseContext(0, ~0u); }, ERROR_INVALID_PARAMETER},
      {"addref of no handle", [] { return CryptContextAddRef(0, nullptr, 0); }, ERROR_INVALID_PARAMETER},
      {"addref of a stray handle", [] { return CryptContextAddRef(0xdeadbeef, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"type 0 is checked before the out pointer",
       [] { return CryptAcquireContextA(nullptr, "kv-conf", nullptr, 0, 0); }, (DWORD)NTE_BAD_PROV_TYPE},
  };
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(c.call()) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }

  // Opening an existing key set clears the last error.
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, "kv-conf", nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  ASSERT_TRUE(CryptReleaseContext(prov, 0));
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(CryptAcquireContextA(&prov, "kv-conf", nullptr, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);

  // A size query of the container list gives the longest legal name; a
  // buffer that holds the name keeps its length.
  DWORD len = 0;
  SetLastError(0xdeadbeef);
  ASSERT_TRUE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &len, CRYPT_FIRST));
  EXPECT_EQ(len, (DWORD)MAX_PATH + 1);
  // Other programs' containers may come first (the Windows run shares its
  // machine with them): the walk must meet this one.
  char name[300];
  bool met = false;
  for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
    len = sizeof(name);
    if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &len, flags)) break;
    EXPECT_EQ(len, (DWORD)sizeof(name));
    met = met || strcmp(name, "kv-conf") == 0;
  }
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(met);

  // A key outliving its provider is refused, and so is its destruction.
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGenKey(prov, CALG_RC4, 0, &key));
  ASSERT_TRUE(CryptReleaseContext(prov, 0));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptDestroyKey(key));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(ProviderConformanceTest, PublicKeyBlobComesBackByteForByte) {
  // A 512-bit blob whose modulus has its top three bits clear: the declared
  // length, not the modulus's, is what the key has and gives back.
  std::vector<BYTE> blob = {0x06, 0x02, 0x00, 0x00, 0x00, 0xa4, 0x00, 0x00, 0x52, 0x53,
                            0x41, 0x31, 0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
  blob.resize(20 + 64, 0x11);
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key));
  EXPECT_EQ(Permissions(key), kPairPermissions);
  DWORD bits = 0, len = sizeof(bits);
  ASSERT_TRUE(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &len, 0));
  EXPECT_EQ(bits, 512u);
  std::vector<BYTE> out(200);
  len = static_cast<DWORD>(out.size());
  ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, out.data(), &len));
  out.resize(len);
  EXPECT_EQ(out, blob);
  // An RSA key has no salt.
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptGetKeyParam(key, KP_SALT, nullptr, &len, 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

}  // namespace
