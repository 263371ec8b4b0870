// Providers and keys as Windows' RSA providers document them: context
// reference counting and its errors, the last error of a successful acquire,
// the container enumeration sizes, the exact round trip of a public-key blob,
// what the permissions of a key pair report and session keys in a SIMPLEBLOB.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <vector>

#include "platform/crypt/crypt_test_support.h"
#include "support/temp_home.h"

namespace {

using kv::test::crypt::kPairPermissions;
using kv::test::crypt::Permissions;
using kv::test::crypt::ProviderWithKey;
using kv::test::crypt::SharedTestKey;

using ProviderConformanceTest = kv::test::HomeTest;


TEST_F(ProviderConformanceTest, PairPermissionsFollowHowTheKeyWasMade) {
  HCRYPTPROV prov = ProviderWithKey("kv-perm", AT_KEYEXCHANGE, CRYPT_EXPORTABLE);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  EXPECT_EQ(Permissions(key), kPairPermissions | CRYPT_EXPORT);
  // Taking export away is accepted and changes nothing.
  DWORD value = kPairPermissions;
  EXPECT_TRUE(CryptSetKeyParam(key, KP_PERMISSIONS, reinterpret_cast<BYTE*>(&value), 0));
  EXPECT_EQ(Permissions(key), kPairPermissions | CRYPT_EXPORT);
  DWORD len = 0;
  EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &len));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);

  // A key pair that is not exportable cannot be granted export.
  prov = ProviderWithKey("kv-perm-sig", AT_SIGNATURE, 0);
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  EXPECT_EQ(Permissions(key), kPairPermissions);
  value = kPairPermissions | CRYPT_EXPORT;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptSetKeyParam(key, KP_PERMISSIONS, reinterpret_cast<BYTE*>(&value), 0));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_DATA);
  // A signature key does not encrypt.
  BYTE data[256] = "Korvessa";
  len = 12;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, data, &len, sizeof(data)));
  EXPECT_EQ(GetLastError(), (DWORD)NTE_BAD_KEY);
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

TEST_F(ProviderConformanceTest, SimpleBlobImportsUnderTheExchangeKey) {
  HCRYPTPROV prov = ProviderWithKey("kv-simple", AT_KEYEXCHANGE);
  HCRYPTKEY exchange = 0;
  ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &exchange));
  const std::vector<BYTE> secret = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(SharedTestKey(), nullptr);
  std::vector<BYTE> wrapped(128);
  size_t wrappedLen = wrapped.size();
  ASSERT_TRUE(ctx && EVP_PKEY_encrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_PKEY_encrypt(ctx, wrapped.data(), &wrappedLen, secret.data(), secret.size()) == 1);
  EVP_PKEY_CTX_free(ctx);
  ASSERT_EQ(wrappedLen, 128u);
  std::vector<BYTE> blob = {SIMPLEBLOB, CUR_BLOB_VERSION, 0, 0, 0x01, 0x68, 0, 0,  // CALG_RC4
                            0x00, 0xa4, 0, 0};                                      // CALG_RSA_KEYX
  blob.insert(blob.end(), wrapped.rbegin(), wrapped.rend());

  HCRYPTKEY session = 0;
  ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), exchange, CRYPT_EXPORTABLE, &session))
      << std::hex << GetLastError();
  std::vector<BYTE> plain(64);
  DWORD len = static_cast<DWORD>(plain.size());
  ASSERT_TRUE(CryptExportKey(session, 0, PLAINTEXTKEYBLOB, 0, plain.data(), &len));
  EXPECT_EQ(std::vector<BYTE>(plain.begin() + 12, plain.begin() + len), secret);
  CryptDestroyKey(session);

  // Without the exchange key, or with a damaged blob, it is refused.
  const struct {
    HCRYPTKEY wrapping;
    size_t cut;
    DWORD error;
  } cases[] = {{0, 0, (DWORD)NTE_BAD_PUBLIC_KEY}, {exchange, 1, (DWORD)NTE_BAD_DATA}};
  for (const auto& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size() - c.cut), c.wrapping, 0, &session));
    EXPECT_EQ(GetLastError(), c.error);
  }
  CryptDestroyKey(exchange);
  CryptReleaseContext(prov, 0);
}

}  // namespace
