// CryptEncrypt and CryptDecrypt: session keys block by block with the
// provider's PKCS#5 padding on the final call, and RSA key exchange
// (PKCS#1 v1.5, little-endian as Windows returns it).
#include <openssl/rsa.h>

#include <cstring>

#include "crypt/crypt_objects.h"
#include "crypt/des_chain.h"
#include "crypt/hash_internal.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"
#include "crypt/symmetric_alg.h"

namespace kv::platform::crypt {
namespace {

// The chaining state of one direction, created on first use from the key, IV
// and mode, and kept until a final call.
EVP_CIPHER_CTX* ChainFor(Key& key, bool encrypt) {
  CipherCtxPtr& slot = encrypt ? key.encryptCtx : key.decryptCtx;
  if (slot) return slot.get();
  const SymmetricAlg* alg = FindSymmetricAlg(key.algId);
  if (!alg) return nullptr;
  const EVP_CIPHER* cipher = SymmetricCipher(*alg, key.mode, key.secret.size());
  if (!cipher) return nullptr;
  std::vector<BYTE> keyBytes = CipherKeyBytes(*alg, key.secret);
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  bool ok = ctx && EVP_CipherInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr, encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(keyBytes.size())) == 1 &&
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, keyBytes.data(), key.iv.empty() ? nullptr : key.iv.data(),
                              encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1;
  OPENSSL_cleanse(keyBytes.data(), keyBytes.size());
  if (!ok) return nullptr;
  slot = std::move(ctx);
  return slot.get();
}

bool RunCipher(EVP_CIPHER_CTX* ctx, BYTE* data, DWORD size) {
  if (size == 0) return true;
  int outLen = 0;
  return EVP_CipherUpdate(ctx, data, &outLen, data, static_cast<int>(size)) == 1 &&
         outLen == static_cast<int>(size);
}

// One direction of a session key: DES and triple-DES in CBC on the engine's
// own cipher, everything else on OpenSSL. False when the chain cannot be set
// up (NTE_BAD_ALGID) or the cipher fails (NTE_FAIL); a final call or a
// failure ends the chain.
BOOL RunSessionCipher(Key& key, bool encrypt, BYTE* data, DWORD size, BOOL final) {
  if (DesChainServes(key.algId, key.mode)) {
    std::shared_ptr<DesChain>& slot = encrypt ? key.desEncrypt : key.desDecrypt;
    if (!slot) slot = DesChain::Create(key.algId, key.secret, key.iv, encrypt);
    if (!slot) return Fail(NTE_BAD_ALGID);
    slot->Run(data, size);
    if (final) slot.reset();
    return TRUE;
  }
  EVP_CIPHER_CTX* ctx = ChainFor(key, encrypt);
  if (!ctx) return Fail(NTE_BAD_ALGID);
  bool ok = RunCipher(ctx, data, size);
  if (final || !ok) (encrypt ? key.encryptCtx : key.decryptCtx).reset();
  if (!ok) return Fail(NTE_FAIL);
  return TRUE;
}

BOOL RsaEncrypt(Key& key, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
  DWORD modBytes = (RsaBits(key.pkey.get()) + 7) / 8;
  bool oaep = (dwFlags & CRYPT_OAEP) != 0;
  DWORD overhead = oaep ? 42 : 11;
  if (*pdwDataLen > modBytes - overhead) return Fail(NTE_BAD_LEN);
  if (!pbData) {
    *pdwDataLen = modBytes;
    return TRUE;
  }
  if (dwBufLen < modBytes) {
    *pdwDataLen = modBytes;
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr));
  size_t outLen = modBytes;
  std::vector<BYTE> out(modBytes);
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), oaep ? RSA_PKCS1_OAEP_PADDING : RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), out.data(), &outLen, pbData, *pdwDataLen) != 1) {
    return Fail(NTE_FAIL);
  }
  ReverseBytes(out.data(), outLen);
  std::memcpy(pbData, out.data(), outLen);
  *pdwDataLen = static_cast<DWORD>(outLen);
  return TRUE;
}

BOOL RsaDecrypt(Key& key, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  if (!key.hasPrivate) return Fail(NTE_BAD_KEY);
  DWORD modBytes = (RsaBits(key.pkey.get()) + 7) / 8;
  if (*pdwDataLen != modBytes) return Fail(NTE_BAD_DATA);
  std::vector<BYTE> in(pbData, pbData + modBytes);
  ReverseBytes(in.data(), in.size());
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr));
  std::vector<BYTE> out(modBytes);
  size_t outLen = out.size();
  bool oaep = (dwFlags & CRYPT_OAEP) != 0;
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), oaep ? RSA_PKCS1_OAEP_PADDING : RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), out.data(), &outLen, in.data(), in.size()) != 1) {
    return Fail(NTE_BAD_DATA);
  }
  std::memcpy(pbData, out.data(), outLen);
  *pdwDataLen = static_cast<DWORD>(outLen);
  OPENSSL_cleanse(out.data(), out.size());
  return TRUE;
}

}  // namespace
}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;

extern "C" BOOL WINAPI CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                                    DWORD* pdwDataLen, DWORD dwBufLen) {
  auto key = LiveKey(hKey);
  if (!key) return FALSE;
  if (!pdwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  std::shared_ptr<Hash> hash;
  if (hHash && !(hash = LiveHash(hHash))) return FALSE;
  if (key->IsRsa()) {
    if (key->algId == CALG_RSA_SIGN) return Fail(NTE_BAD_KEY);  // a signature key does not encrypt
    if (!Final) return Fail(NTE_BAD_DATA);
    if (hash && pbData && !HashBytes(*hash, pbData, *pdwDataLen)) return FALSE;
    return RsaEncrypt(*key, dwFlags, pbData, pdwDataLen, dwBufLen);
  }
  if (!(key->permissions & CRYPT_ENCRYPT)) return Fail(NTE_PERM);
  const SymmetricAlg* alg = FindSymmetricAlg(key->algId);
  DWORD block = alg->blockBytes;
  DWORD length = *pdwDataLen;
  DWORD needed = length;
  if (block) {
    if (Final) {
      needed = (length / block + 1) * block;
    } else if (length % block) {
      return Fail(NTE_BAD_DATA);
    }
  }
  if (!pbData) {
    *pdwDataLen = needed;
    return TRUE;
  }
  if (dwBufLen < needed) {
    *pdwDataLen = needed;
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  if (hash && !HashBytes(*hash, pbData, length)) return FALSE;
  if (needed > length) std::memset(pbData + length, static_cast<int>(needed - length), needed - length);
  if (!RunSessionCipher(*key, true, pbData, needed, Final)) return FALSE;
  *pdwDataLen = needed;
  return TRUE;
}

extern "C" BOOL WINAPI CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                                    DWORD* pdwDataLen) {
  auto key = LiveKey(hKey);
  if (!key) return FALSE;
  if (!pdwDataLen || (!pbData && *pdwDataLen)) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  std::shared_ptr<Hash> hash;
  if (hHash && !(hash = LiveHash(hHash))) return FALSE;
  if (key->IsRsa()) {
    if (!Final) return Fail(NTE_BAD_DATA);
    if (!RsaDecrypt(*key, dwFlags, pbData, pdwDataLen)) return FALSE;
    return hash ? HashBytes(*hash, pbData, *pdwDataLen) : TRUE;
  }
  if (!(key->permissions & CRYPT_DECRYPT)) return Fail(NTE_PERM);
  const SymmetricAlg* alg = FindSymmetricAlg(key->algId);
  DWORD block = alg->blockBytes;
  DWORD length = *pdwDataLen;
  if (block && (length % block || (Final && length == 0))) return Fail(NTE_BAD_DATA);
  if (!RunSessionCipher(*key, false, pbData, length, Final)) return FALSE;
  if (block && Final) {
    // Every pad byte must carry the pad length; anything else is the sign of
    // a wrong key or damaged data.
    BYTE pad = pbData[length - 1];
    if (pad == 0 || pad > block) return Fail(NTE_BAD_DATA);
    for (DWORD i = 0; i < pad; ++i) {
      if (pbData[length - 1 - i] != pad) return Fail(NTE_BAD_DATA);
    }
    length -= pad;
  }
  if (hash && !HashBytes(*hash, pbData, length)) return FALSE;
  *pdwDataLen = length;
  return TRUE;
}
