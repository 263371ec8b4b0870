// Contexts on one container share the key pairs they opened: a SHA-256
// signature through the AES-capable provider uses the key of the plain RSA
// context, and a key replaced through one context is what the other signs
// with next.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/conformance.h"
#include "support/temp_home.h"

namespace {

class SharedOpenedKeysTest : public kv::test::HomeTest {};

std::vector<BYTE> SignSha256(HCRYPTPROV prov, const std::vector<BYTE>& value) {
  HCRYPTHASH hash = 0;
  std::vector<BYTE> signature(512);
  DWORD size = static_cast<DWORD>(signature.size());
  if (!CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash)) return {};
  bool ok = CryptSetHashParam(hash, HP_HASHVAL, value.data(), 0) &&
            CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature.data(), &size);
  CryptDestroyHash(hash);
  signature.resize(ok ? size : 0);
  return signature;
}

bool Verifies(HCRYPTPROV prov, HCRYPTKEY publicKey, const std::vector<BYTE>& value, const std::vector<BYTE>& signature) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash)) return false;
  bool ok = CryptSetHashParam(hash, HP_HASHVAL, value.data(), 0) &&
            CryptVerifySignatureA(hash, signature.data(), static_cast<DWORD>(signature.size()), publicKey, nullptr, 0);
  CryptDestroyHash(hash);
  return ok;
}

TEST_F(SharedOpenedKeysTest, ReplacedKeyIsSeenByTheOtherContext) {
  KV_WINE_DIFFERS("rsaenh reads a container's key pairs once, when a context is acquired, and stores them "
                  "only when that context is released, so a context opened earlier never sees a new key");
  HCRYPTPROV full = 0, aes = 0, verifier = 0;
  ASSERT_TRUE(CryptAcquireContextA(&full, "kv-shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  ASSERT_TRUE(CryptAcquireContextA(&aes, "kv-shared", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0));
  ASSERT_TRUE(CryptAcquireContextA(&verifier, nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  const std::vector<BYTE> value(32, 0x5A);
  for (int round = 0; round < 2; ++round) {
    // The plain context makes (then replaces) the key and opens it.
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(full, AT_SIGNATURE, (1024u << 16) | CRYPT_EXPORTABLE, &key));
    CryptDestroyKey(key);
    ASSERT_TRUE(CryptGetUserKey(full, AT_SIGNATURE, &key));
    std::vector<BYTE> blob(1024);
    DWORD size = static_cast<DWORD>(blob.size());
    ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size));
    CryptDestroyKey(key);
    HCRYPTKEY publicKey = 0;
    ASSERT_TRUE(CryptImportKey(verifier, blob.data(), size, 0, 0, &publicKey));
    // The AES context signs with the key as it is now, twice over.
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(Verifies(verifier, publicKey, value, SignSha256(aes, value))) << round;
    CryptDestroyKey(publicKey);
  }
  CryptReleaseContext(verifier, 0);
  CryptReleaseContext(aes, 0);
  CryptReleaseContext(full, 0);
}

}  // namespace
