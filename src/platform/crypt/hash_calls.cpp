// Hash objects, and signing and verifying their values with a container's RSA
// keys (PKCS#1 v1.5, signatures least significant byte first).
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "crypt/hash_internal.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"
#include "crypt/token_keys.h"

namespace kv::platform::crypt {
namespace {

const EVP_MD* DigestOf(ALG_ID algId) {
  switch (algId) {
    case CALG_MD5: return EVP_md5();
    case CALG_SHA1: return EVP_sha1();
    case CALG_SHA_256: return EVP_sha256();
    case CALG_SHA_384: return EVP_sha384();
    case CALG_SHA_512: return EVP_sha512();
    default: return nullptr;
  }
}

bool ServedBy(const Provider& prov, ALG_ID algId) {
  if (algId == CALG_SHA_256 || algId == CALG_SHA_384 || algId == CALG_SHA_512) {
    // As on Windows, only the AES-capable provider type offers SHA-2, and
    // the smart-card provider, whose card signs what it is given.
    return prov.providerType == PROV_RSA_AES || prov.token != nullptr;
  }
  return algId == CALG_MD5 || algId == CALG_SHA1 || algId == CALG_SSL3_SHAMD5;
}

MdCtxPtr StartDigest(const EVP_MD* md) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return nullptr;
  return ctx;
}

// The key used to sign with `keySpec`, or null with NTE_NO_KEY / NTE_BAD_ALGID.
std::shared_ptr<Key> SigningKey(const std::shared_ptr<Provider>& prov, DWORD keySpec) {
  if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) {
    SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
    return nullptr;
  }
  return LoadUserKey(prov, keySpec);
}

// The card is given the DigestInfo (or, with CRYPT_NOHASHOID, the bare
// value) and pads it itself: the private key never leaves it.
BOOL SignOnToken(Key& key, const std::vector<BYTE>& value, const EVP_MD* md, BYTE* out, DWORD* outLen) {
  std::vector<BYTE> input;
  if (md) {
    X509_SIG* info = X509_SIG_new();
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_getm(info, &algorithm, &digest);
    int length = -1;
    if (info && X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr) == 1 &&
        ASN1_OCTET_STRING_set(digest, value.data(), static_cast<int>(value.size())) == 1) {
      length = i2d_X509_SIG(info, nullptr);
    }
    if (length > 0) {
      input.resize(static_cast<size_t>(length));
      unsigned char* p = input.data();
      i2d_X509_SIG(info, &p);
    }
    X509_SIG_free(info);
    if (input.empty()) return Fail(NTE_FAIL);
  } else {
    input = value;
  }
  std::vector<BYTE> signature;
  if (!key.token->Sign(input, key.provider && key.provider->silent, &signature)) return FALSE;
  if (signature.size() > *outLen) {
    *outLen = static_cast<DWORD>(signature.size());
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  std::memcpy(out, signature.data(), signature.size());
  ReverseBytes(out, signature.size());
  *outLen = static_cast<DWORD>(signature.size());
  return TRUE;
}

}  // namespace

DWORD HashSize(ALG_ID algId) {
  if (algId == CALG_SSL3_SHAMD5) return 36;
  const EVP_MD* md = DigestOf(algId);
  return md ? static_cast<DWORD>(EVP_MD_get_size(md)) : 0;
}

const EVP_MD* SignatureDigest(ALG_ID algId) { return DigestOf(algId); }

BOOL HashBytes(Hash& hash, const BYTE* data, DWORD size) {
  if (hash.finished) return Fail(NTE_BAD_HASH_STATE);
  if (size == 0) return TRUE;
  if (EVP_DigestUpdate(hash.ctx.get(), data, size) != 1) return Fail(NTE_FAIL);
  if (hash.ctxSha1 && EVP_DigestUpdate(hash.ctxSha1.get(), data, size) != 1) return Fail(NTE_FAIL);
  return TRUE;
}

const std::vector<BYTE>& HashValue(Hash& hash) {
  if (!hash.finished) {
    BYTE md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    hash.value.clear();
    if (EVP_DigestFinal_ex(hash.ctx.get(), md, &len) == 1) hash.value.assign(md, md + len);
    if (hash.ctxSha1 && EVP_DigestFinal_ex(hash.ctxSha1.get(), md, &len) == 1) {
      hash.value.insert(hash.value.end(), md, md + len);
    }
    hash.finished = true;
  }
  return hash.value;
}

std::shared_ptr<Hash> LiveHash(HCRYPTHASH handle) {
  auto hash = FindHandle<Hash>(handle);
  if (!hash) {
    // Windows checks the handle itself before its provider sees the call.
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  if (hash->provider && hash->provider->released) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  return hash;
}

}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
using namespace kv::platform;

extern "C" BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                       HCRYPTHASH* phHash) {
  auto prov = LiveProvider(hProv);
  if (!prov) return FALSE;
  if (!phHash) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  if (!ServedBy(*prov, Algid)) return Fail(NTE_BAD_ALGID);
  if (hKey) return Fail(NTE_BAD_KEY);  // keyed hashes (MAC, HMAC) are not offered
  auto hash = std::make_shared<Hash>();
  hash->provider = prov;
  hash->algId = Algid;
  if (Algid == CALG_SSL3_SHAMD5) {
    hash->ctx = StartDigest(EVP_md5());
    hash->ctxSha1 = StartDigest(EVP_sha1());
    if (!hash->ctxSha1) return Fail(NTE_FAIL);
  } else {
    hash->ctx = StartDigest(DigestOf(Algid));
  }
  if (!hash->ctx) return Fail(NTE_FAIL);
  *phHash = AddHandle(hash);
  return TRUE;
}

extern "C" BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  auto hash = LiveHash(hHash);
  if (!hash) return FALSE;
  if (dwFlags & ~1u /* CRYPT_USERDATA */) return Fail(NTE_BAD_FLAGS);
  if (!pbData && dwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  return HashBytes(*hash, pbData, dwDataLen);
}

extern "C" BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                         DWORD dwFlags) {
  auto hash = LiveHash(hHash);
  if (!hash) return FALSE;
  if (!pdwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  switch (dwParam) {
    case HP_ALGID:
      return ReturnDword(hash->algId, pbData, pdwDataLen);
    case HP_HASHSIZE:
      return ReturnDword(HashSize(hash->algId), pbData, pdwDataLen);
    case HP_HASHVAL:
      // A size query leaves the hash open for more data, as on Windows.
      if (!pbData) return ReturnBytes(nullptr, HashSize(hash->algId), nullptr, pdwDataLen);
      if (*pdwDataLen < HashSize(hash->algId)) return ReturnBytes(nullptr, HashSize(hash->algId), pbData, pdwDataLen);
      return ReturnBytes(HashValue(*hash), pbData, pdwDataLen);
    default:
      return Fail(NTE_BAD_TYPE);
  }
}

extern "C" BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  auto hash = LiveHash(hHash);
  if (!hash) return FALSE;
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  if (!pbData) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwParam != HP_HASHVAL) return Fail(NTE_BAD_TYPE);
  hash->value.assign(pbData, pbData + HashSize(hash->algId));
  hash->finished = true;
  return TRUE;
}

extern "C" BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
  auto hash = FindHandle<Hash>(hHash);
  if (!hash || !RemoveHandle(hHash, HandleKind::CryptHash)) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Windows refuses a hash whose provider is gone; the object is freed anyway.
  if (hash->provider && hash->provider->released) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  return TRUE;
}

extern "C" BOOL WINAPI CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
                                      BYTE* pbSignature, DWORD* pdwSigLen) {
  (void)szDescription;
  auto hash = LiveHash(hHash);
  if (!hash) return FALSE;
  if (!pdwSigLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags & ~(DWORD)(CRYPT_NOHASHOID | CRYPT_X931_FORMAT)) return Fail(NTE_BAD_FLAGS);
  if (dwFlags & CRYPT_X931_FORMAT) return Fail(NTE_BAD_FLAGS);
  auto key = SigningKey(hash->provider, dwKeySpec);
  if (!key) return FALSE;
  DWORD sigLen = (RsaBits(key->pkey.get()) + 7) / 8;
  if (!pbSignature) {
    *pdwSigLen = sigLen;
    return TRUE;
  }
  if (*pdwSigLen < sigLen) {
    *pdwSigLen = sigLen;
    return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
  }
  const std::vector<BYTE>& value = HashValue(*hash);
  const EVP_MD* md = (dwFlags & CRYPT_NOHASHOID) ? nullptr : SignatureDigest(hash->algId);
  if (key->token) return SignOnToken(*key, value, md, pbSignature, pdwSigLen);
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key->pkey.get(), nullptr));
  size_t outLen = sigLen;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      (md && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1) ||
      EVP_PKEY_sign(ctx.get(), pbSignature, &outLen, value.data(), value.size()) != 1) {
    return Fail(NTE_BAD_DATA);
  }
  ReverseBytes(pbSignature, outLen);
  *pdwSigLen = static_cast<DWORD>(outLen);
  return TRUE;
}

extern "C" BOOL WINAPI CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                                             HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags) {
  (void)szDescription;
  auto hash = LiveHash(hHash);
  if (!hash) return FALSE;
  auto key = LiveKey(hPubKey);
  if (!key) return FALSE;
  if (!pbSignature) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags & ~(DWORD)CRYPT_NOHASHOID) return Fail(NTE_BAD_FLAGS);
  if (!key->IsRsa()) return Fail(NTE_BAD_KEY);
  DWORD sigLen = (RsaBits(key->pkey.get()) + 7) / 8;
  if (dwSigLen != sigLen) return Fail(NTE_BAD_SIGNATURE);
  std::vector<BYTE> signature(pbSignature, pbSignature + dwSigLen);
  ReverseBytes(signature.data(), signature.size());
  const std::vector<BYTE>& value = HashValue(*hash);
  const EVP_MD* md = (dwFlags & CRYPT_NOHASHOID) ? nullptr : SignatureDigest(hash->algId);
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key->pkey.get(), nullptr));
  if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      (md && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1) ||
      EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), value.data(), value.size()) != 1) {
    return Fail(NTE_BAD_SIGNATURE);
  }
  return TRUE;
}
