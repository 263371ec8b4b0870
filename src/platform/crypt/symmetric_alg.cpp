// Session-key algorithm table.
#include "crypt/symmetric_alg.h"

#include "ossl/owned.h"
#include "ossl/providers.h"

namespace kv::platform::crypt {
namespace {

const SymmetricAlg kAlgs[] = {
    {CALG_DES, 8, 64, 8},
    {CALG_3DES_112, 16, 128, 8},
    {CALG_3DES, 24, 192, 8},
    {CALG_RC4, 16, 128, 0},
    {CALG_AES_128, 16, 128, 16},
    {CALG_AES_192, 24, 192, 16},
    {CALG_AES_256, 32, 256, 16},
};

}  // namespace

const SymmetricAlg* FindSymmetricAlg(ALG_ID algId) {
  for (const SymmetricAlg& a : kAlgs) {
    if (a.algId == algId) return &a;
  }
  return nullptr;
}

bool SymmetricKeyLengthOk(const SymmetricAlg& alg, size_t bytes) {
  if (alg.algId == CALG_RC4) return bytes >= 5 && bytes <= 16;
  return bytes == alg.keyBytes;
}

std::vector<BYTE> CipherKeyBytes(const SymmetricAlg& alg, const std::vector<BYTE>& key) {
  std::vector<BYTE> out = key;
  if (alg.algId == CALG_3DES_112 && key.size() == 16) out.insert(out.end(), key.begin(), key.begin() + 8);
  return out;
}

const EVP_CIPHER* SymmetricCipher(const SymmetricAlg& alg, DWORD mode, size_t keyBytes) {
  EnsureLegacyProviders();
  bool cbc = mode == CRYPT_MODE_CBC, ecb = mode == CRYPT_MODE_ECB, cfb = mode == CRYPT_MODE_CFB;
  switch (alg.algId) {
    case CALG_DES:
      return cbc ? EVP_des_cbc() : ecb ? EVP_des_ecb() : cfb ? EVP_des_cfb8() : nullptr;
    case CALG_3DES_112:  // run as three-key with K3 = K1, see CipherKeyBytes
    case CALG_3DES:
      return cbc ? EVP_des_ede3_cbc() : ecb ? EVP_des_ede3_ecb() : cfb ? EVP_des_ede3_cfb8() : nullptr;
    case CALG_AES_128:
      return cbc ? EVP_aes_128_cbc() : ecb ? EVP_aes_128_ecb() : cfb ? EVP_aes_128_cfb8() : nullptr;
    case CALG_AES_192:
      return cbc ? EVP_aes_192_cbc() : ecb ? EVP_aes_192_ecb() : cfb ? EVP_aes_192_cfb8() : nullptr;
    case CALG_AES_256:
      return cbc ? EVP_aes_256_cbc() : ecb ? EVP_aes_256_ecb() : cfb ? EVP_aes_256_cfb8() : nullptr;
    case CALG_RC4:
      (void)keyBytes;
      return EVP_rc4();
  }
  return nullptr;
}

}  // namespace kv::platform::crypt
