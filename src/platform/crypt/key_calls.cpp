// Key generation, retrieval, import, export and key parameters.
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "crypt/crypt_objects.h"
#include "crypt/key_generation_hook.h"
#include "crypt/out_buffer.h"
#include "crypt/rsa_blob.h"
#include "crypt/symmetric_alg.h"
#include "crypt/token_keys.h"

namespace kv::platform::crypt {
namespace {

constexpr DWORD kDefaultRsaBits = 1024;
constexpr DWORD kMinRsaBits = 384;
constexpr DWORD kMaxRsaBits = 16384;
// Flags that travel with a stored key pair; CRYPT_ARCHIVABLE belongs to the
// handle that generated or imported the key only.
constexpr DWORD kPersistentKeyFlags = CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED;

DWORD SlotOf(ALG_ID algId) {
  if (algId == AT_KEYEXCHANGE || algId == CALG_RSA_KEYX) return AT_KEYEXCHANGE;
  if (algId == AT_SIGNATURE || algId == CALG_RSA_SIGN) return AT_SIGNATURE;
  return 0;
}

ALG_ID AlgOfSlot(DWORD slot) { return slot == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX; }

DWORD DefaultPermissions(DWORD flags) {
  DWORD p = CRYPT_ENCRYPT | CRYPT_DECRYPT | CRYPT_READ | CRYPT_WRITE | CRYPT_MAC;
  if (flags & (CRYPT_EXPORTABLE | CRYPT_ARCHIVABLE)) p |= CRYPT_EXPORT;
  return p;
}

PkeyPtr GenerateRsa(DWORD bits) {
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* pkey = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1 ||
      EVP_PKEY_keygen(ctx.get(), &pkey) != 1) {
    return nullptr;
  }
  return PkeyPtr(pkey);
}

// Puts a key pair into the provider's slot: the container for a named
// context, memory for a verify context.
bool StorePair(Provider& prov, DWORD slot, ALG_ID algId, DWORD flags, const SharedPkey& pkey) {
  DWORD kept = flags & kPersistentKeyFlags;
  if (prov.verifyContext) {
    std::lock_guard<std::mutex> lock(prov.mutex);
    prov.ephemeralPairs[slot] = pkey;
    prov.ephemeralAlgs[slot] = algId;
    prov.ephemeralFlags[slot] = kept;
    prov.ephemeralCerts.erase(slot);
    return true;
  }
  return SaveKey(prov.container, slot, algId, kept, pkey.get()) == StoreResult::kOk;
}

std::shared_ptr<Key> NewPairKey(const std::shared_ptr<Provider>& prov, DWORD slot, ALG_ID algId, DWORD flags,
                                SharedPkey pkey, bool hasPrivate) {
  auto key = std::make_shared<Key>();
  key->provider = prov;
  key->algId = algId;
  key->flags = flags;
  key->keySpec = slot;
  key->persistent = slot != 0 && !prov->verifyContext;
  key->pkey = std::move(pkey);
  key->hasPrivate = hasPrivate;
  key->permissions = DefaultPermissions(flags);
  return key;
}

std::shared_ptr<Key> NewSessionKey(const std::shared_ptr<Provider>& prov, const SymmetricAlg& alg,
                                   std::vector<BYTE> secret, DWORD flags) {
  auto key = std::make_shared<Key>();
  key->provider = prov;
  key->algId = alg.algId;
  key->flags = flags;
  key->secret = std::move(secret);
  key->iv.assign(alg.blockBytes, 0);
  key->permissions = DefaultPermissions(flags);
  return key;
}

DWORD ReadDword(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// Length of the DER element at `data` (header included); 0 when malformed.
size_t DerElementLength(const BYTE* data) {
  if (data[0] != 0x30) return 0;
  BYTE first = data[1];
  if (first < 0x80) return 2 + first;
  size_t count = first & 0x7F;
  if (count == 0 || count > 4) return 0;
  size_t len = 0;
  for (size_t i = 0; i < count; ++i) len = (len << 8) | data[2 + i];
  return 2 + count + len;
}

// The session key of a SIMPLEBLOB: BLOBHEADER, the wrapping algorithm
// (CALG_RSA_KEYX) and the key encrypted with PKCS#1 v1.5 under the exchange
// key, least significant byte first. Fails with the CryptImportKey error.
bool UnwrapSimpleBlob(const Key& wrapping, const BYTE* data, DWORD size, std::vector<BYTE>* secret, DWORD* error) {
  *error = static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
  if (!wrapping.IsRsa() || !wrapping.hasPrivate || wrapping.algId != CALG_RSA_KEYX) return false;
  const size_t modBytes = (RsaBits(wrapping.pkey.get()) + 7) / 8;
  *error = static_cast<DWORD>(NTE_BAD_DATA);
  if (size != sizeof(BLOBHEADER) + sizeof(ALG_ID) + modBytes) return false;
  if (ReadDword(data + sizeof(BLOBHEADER)) != CALG_RSA_KEYX) {
    *error = static_cast<DWORD>(NTE_BAD_ALGID);
    return false;
  }
  std::vector<BYTE> in(data + sizeof(BLOBHEADER) + sizeof(ALG_ID), data + size);
  ReverseBytes(in.data(), in.size());
  std::vector<BYTE> out(modBytes);
  size_t outLen = out.size();
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(wrapping.pkey.get(), nullptr));
  bool ok = ctx && EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
            EVP_PKEY_decrypt(ctx.get(), out.data(), &outLen, in.data(), in.size()) == 1;
  if (ok) secret->assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(outLen));
  OPENSSL_cleanse(out.data(), out.size());
  return ok;
}

}  // namespace

std::shared_ptr<Key> LiveKey(HCRYPTKEY handle) {
  auto key = FindHandle<Key>(handle);
  if (!key) {
    // Windows checks the handle itself before its provider sees the call.
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  if (key->provider && key->provider->released) {
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  return key;
}

std::shared_ptr<Key> LoadUserKey(const std::shared_ptr<Provider>& prov, DWORD slot) {
  if (slot != AT_KEYEXCHANGE && slot != AT_SIGNATURE) {
    SetLastError(static_cast<DWORD>(NTE_NO_KEY));
    return nullptr;
  }
  if (prov->token) {
    // A card's container holds one pair, in the exchange slot; it cannot be
    // exported (no CRYPT_EXPORTABLE).
    if (slot != AT_KEYEXCHANGE) {
      SetLastError(static_cast<DWORD>(NTE_NO_KEY));
      return nullptr;
    }
    SharedPkey pub = prov->token->PublicKey(prov->silent);
    if (!pub) return nullptr;
    auto key = NewPairKey(prov, slot, CALG_RSA_KEYX, 0, std::move(pub), true);
    key->persistent = false;
    key->token = prov->token;
    key->certificate = prov->token->Certificate();
    return key;
  }
  if (prov->verifyContext) {
    std::lock_guard<std::mutex> lock(prov->mutex);
    auto it = prov->ephemeralPairs.find(slot);
    if (it == prov->ephemeralPairs.end()) {
      SetLastError(static_cast<DWORD>(NTE_NO_KEY));
      return nullptr;
    }
    auto key = NewPairKey(prov, slot, prov->ephemeralAlgs[slot], prov->ephemeralFlags[slot], it->second, true);
    key->certificate = prov->ephemeralCerts[slot];
    return key;
  }
  StoredKey stored;
  OpenedKey opened;
  if (prov->openedKeys) {
    std::lock_guard<std::mutex> lock(prov->openedKeys->mutex);
    auto it = prov->openedKeys->pairs.find(slot);
    if (it != prov->openedKeys->pairs.end()) opened = it->second;
  }
  StoreResult result = LoadKey(prov->container, slot, &stored, &opened);
  if (result == StoreResult::kOk && prov->openedKeys) {
    std::lock_guard<std::mutex> lock(prov->openedKeys->mutex);
    prov->openedKeys->pairs[slot] = std::move(opened);
  }
  if (result == StoreResult::kMissing) {
    SetLastError(static_cast<DWORD>(NTE_NO_KEY));
    return nullptr;
  }
  if (result != StoreResult::kOk) {
    // The container's record exists but cannot be opened (altered, or sealed
    // under a secret that is gone): Windows reports a damaged key set this way.
    // A failing database says what failed.
    DWORD error = StoreError();
    SetLastError(error == static_cast<DWORD>(NTE_FAIL) ? static_cast<DWORD>(NTE_BAD_KEYSET) : error);
    return nullptr;
  }
  auto key = NewPairKey(prov, slot, stored.algId, stored.flags, stored.pkey, true);
  key->certificate = std::move(stored.certificate);
  return key;
}

DWORD Key::RsaBitLen() const {
  DWORD bits = RsaBits(pkey.get());
  return bitLen > bits ? bitLen : bits;
}

}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;
using namespace kv::platform;

extern "C" BOOL WINAPI CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
  auto prov = LiveProvider(hProv);
  if (!prov) return FALSE;
  if (!phKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  DWORD slot = SlotOf(Algid);
  if (slot != 0) {
    DWORD bits = HIWORD(dwFlags);
    if (bits == 0) bits = kDefaultRsaBits;
    if (bits < kMinRsaBits || bits > kMaxRsaBits || bits % 8 != 0) return Fail(NTE_BAD_FLAGS);
    if ((dwFlags & CRYPT_USER_PROTECTED) && prov->silent) return Fail(NTE_SILENT_CONTEXT);
    if (prov->token) return Fail(NTE_PERM);  // a token's keys are made by its own tools
    ALG_ID algId = AlgOfSlot(slot);
    PkeyPtr generated = ApplyKeyAlteration(GenerateRsa(bits), algId);
    if (!generated) return Fail(NTE_FAIL);
    SharedPkey pkey = ShareKey(generated.release());
    DWORD flags = dwFlags & 0xFFFF;
    if (!StorePair(*prov, slot, algId, flags, pkey)) return Fail(StoreError());
    *phKey = AddHandle(NewPairKey(prov, slot, algId, flags, pkey, true));
    return TRUE;
  }
  const SymmetricAlg* alg = FindSymmetricAlg(Algid);
  if (!alg) return Fail(NTE_BAD_ALGID);
  std::vector<BYTE> secret(alg->keyBytes);
  if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) return Fail(NTE_FAIL);
  *phKey = AddHandle(NewSessionKey(prov, *alg, std::move(secret), dwFlags & 0xFFFF));
  return TRUE;
}

extern "C" BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  auto prov = LiveProvider(hProv);
  if (!prov) return FALSE;
  if (!phUserKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  auto key = LoadUserKey(prov, dwKeySpec);
  if (!key) return FALSE;
  *phUserKey = AddHandle(key);
  return TRUE;
}

extern "C" BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey) {
  auto key = FindHandle<Key>(hKey);
  if (!key || !RemoveHandle(hKey, HandleKind::CryptKey)) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // As with hashes: refused once its provider is gone, freed anyway.
  if (key->provider && key->provider->released) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  return TRUE;
}

extern "C" BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                                      BYTE* pbData, DWORD* pdwDataLen) {
  (void)dwFlags;
  auto key = LiveKey(hKey);
  if (!key) return FALSE;
  if (!pdwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (hExpKey) {
    // Wrapping an exported key under another key is not offered; a valid
    // wrapping key is refused the way a provider refuses an unusable one.
    if (!LiveKey(hExpKey)) return FALSE;
    return Fail(NTE_BAD_KEY);
  }
  std::vector<BYTE> blob;
  switch (dwBlobType) {
    case PUBLICKEYBLOB:
      if (!key->IsRsa()) return Fail(NTE_BAD_KEY);
      if (!RsaToBlob(key->pkey.get(), key->algId, false, &blob, key->bitLen)) return Fail(NTE_FAIL);
      break;
    case PRIVATEKEYBLOB:
      if (!key->IsRsa() || !key->hasPrivate) return Fail(NTE_BAD_KEY);
      if (!(key->flags & (CRYPT_EXPORTABLE | CRYPT_ARCHIVABLE))) return Fail(NTE_BAD_KEY_STATE);
      if (!RsaToBlob(key->pkey.get(), key->algId, true, &blob, key->bitLen)) return Fail(NTE_FAIL);
      break;
    case PLAINTEXTKEYBLOB: {
      if (key->IsRsa()) return Fail(NTE_BAD_TYPE);
      if (!(key->flags & CRYPT_EXPORTABLE)) return Fail(NTE_BAD_KEY_STATE);
      BLOBHEADER header{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, key->algId};
      DWORD size = static_cast<DWORD>(key->secret.size());
      blob.resize(sizeof(header) + sizeof(size) + key->secret.size());
      std::memcpy(blob.data(), &header, sizeof(header));
      std::memcpy(blob.data() + sizeof(header), &size, sizeof(size));
      std::memcpy(blob.data() + sizeof(header) + sizeof(size), key->secret.data(), key->secret.size());
      break;
    }
    default:
      return Fail(NTE_BAD_TYPE);
  }
  BOOL ok = ReturnBytes(blob, pbData, pdwDataLen);
  OPENSSL_cleanse(blob.data(), blob.size());
  return ok;
}

extern "C" BOOL WINAPI CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                                      DWORD dwFlags, HCRYPTKEY* phKey) {
  auto prov = LiveProvider(hProv);
  if (!prov) return FALSE;
  if (!pbData || !phKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwDataLen < sizeof(BLOBHEADER)) return Fail(NTE_BAD_DATA);
  std::shared_ptr<Key> wrapping;
  if (hPubKey && !(wrapping = LiveKey(hPubKey))) return FALSE;
  BYTE type = pbData[0];
  if (pbData[1] != CUR_BLOB_VERSION) return Fail(NTE_BAD_VER);
  DWORD flags = dwFlags & 0xFFFF;
  if (type == PUBLICKEYBLOB || type == PRIVATEKEYBLOB) {
    if (hPubKey) return Fail(NTE_BAD_KEY);  // encrypted private blobs are not offered
    ALG_ID algId = 0;
    bool isPrivate = false;
    DWORD error = 0, bitLen = 0;
    PkeyPtr parsed = RsaFromBlob(pbData, dwDataLen, &algId, &isPrivate, &error, &bitLen);
    if (!parsed) return Fail(error);
    SharedPkey pkey = ShareKey(parsed.release());
    if (!isPrivate) {
      auto key = NewPairKey(prov, 0, algId, flags, pkey, false);
      key->bitLen = bitLen;
      *phKey = AddHandle(key);
      return TRUE;
    }
    DWORD slot = SlotOf(algId);
    if ((flags & CRYPT_USER_PROTECTED) && prov->silent) return Fail(NTE_SILENT_CONTEXT);
    if (prov->token) return Fail(NTE_PERM);
    if (!StorePair(*prov, slot, algId, flags, pkey)) return Fail(StoreError());
    auto key = NewPairKey(prov, slot, algId, flags, pkey, true);
    key->bitLen = bitLen;
    *phKey = AddHandle(key);
    return TRUE;
  }
  if (type == SIMPLEBLOB) {
    if (!wrapping) return Fail(NTE_BAD_PUBLIC_KEY);
    const SymmetricAlg* alg = FindSymmetricAlg(ReadDword(pbData + 4));
    if (!alg) return Fail(NTE_BAD_ALGID);
    std::vector<BYTE> secret;
    DWORD error = 0;
    if (!UnwrapSimpleBlob(*wrapping, pbData, dwDataLen, &secret, &error)) return Fail(error);
    if (!SymmetricKeyLengthOk(*alg, secret.size())) {
      OPENSSL_cleanse(secret.data(), secret.size());
      return Fail(NTE_BAD_DATA);
    }
    *phKey = AddHandle(NewSessionKey(prov, *alg, std::move(secret), flags));
    return TRUE;
  }
  if (type == PLAINTEXTKEYBLOB) {
    if (hPubKey) return Fail(NTE_BAD_KEY);
    if (dwDataLen < sizeof(BLOBHEADER) + sizeof(DWORD)) return Fail(NTE_BAD_DATA);
    const SymmetricAlg* alg = FindSymmetricAlg(ReadDword(pbData + 4));
    if (!alg) return Fail(NTE_BAD_ALGID);
    DWORD size = ReadDword(pbData + 8);
    if (size > dwDataLen - 12 || !SymmetricKeyLengthOk(*alg, size)) return Fail(NTE_BAD_DATA);
    std::vector<BYTE> secret(pbData + 12, pbData + 12 + size);
    *phKey = AddHandle(NewSessionKey(prov, *alg, std::move(secret), flags));
    return TRUE;
  }
  return Fail(NTE_BAD_TYPE);
}

extern "C" BOOL WINAPI CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                        DWORD dwFlags) {
  auto key = LiveKey(hKey);
  if (!key) return FALSE;
  if (!pdwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  const SymmetricAlg* alg = key->IsRsa() ? nullptr : FindSymmetricAlg(key->algId);
  switch (dwParam) {
    case KP_ALGID:
      return ReturnDword(key->algId, pbData, pdwDataLen);
    case KP_KEYLEN:
      return ReturnDword(key->IsRsa() ? key->RsaBitLen() : alg->keyLenBits, pbData, pdwDataLen);
    case KP_BLOCKLEN:
      return ReturnDword(key->IsRsa() ? key->RsaBitLen() : alg->blockBytes * 8, pbData, pdwDataLen);
    case KP_PERMISSIONS:
      return ReturnDword(key->permissions, pbData, pdwDataLen);
    case KP_SALT:
      return Fail(key->IsRsa() ? NTE_BAD_KEY : NTE_BAD_TYPE);
    case KP_CERTIFICATE:
      if (!key->IsRsa()) return Fail(NTE_BAD_TYPE);
      if (key->certificate.empty()) return Fail(NTE_NOT_FOUND);
      return ReturnBytes(key->certificate, pbData, pdwDataLen);
    case KP_IV:
      if (!alg || alg->blockBytes == 0) return Fail(NTE_BAD_TYPE);
      return ReturnBytes(key->iv, pbData, pdwDataLen);
    case KP_MODE:
      if (!alg || alg->blockBytes == 0) return Fail(NTE_BAD_TYPE);
      return ReturnDword(key->mode, pbData, pdwDataLen);
    case KP_PADDING:
      if (!alg || alg->blockBytes == 0) return Fail(NTE_BAD_TYPE);
      return ReturnDword(key->padding, pbData, pdwDataLen);
    case KP_MODE_BITS:
      if (!alg || alg->blockBytes == 0) return Fail(NTE_BAD_TYPE);
      return ReturnDword(key->modeBits, pbData, pdwDataLen);
    default:
      return Fail(NTE_BAD_TYPE);
  }
}

extern "C" BOOL WINAPI CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  auto key = LiveKey(hKey);
  if (!key) return FALSE;
  if (!pbData) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  const SymmetricAlg* alg = key->IsRsa() ? nullptr : FindSymmetricAlg(key->algId);
  bool block = alg && alg->blockBytes != 0;
  DWORD value = 0;
  std::memcpy(&value, pbData, dwParam == KP_IV || dwParam == KP_CERTIFICATE ? 0 : sizeof(value));
  switch (dwParam) {
    case KP_IV:
      if (!block) return Fail(NTE_BAD_TYPE);
      key->iv.assign(pbData, pbData + alg->blockBytes);
      break;
    case KP_MODE:
      if (!block) return Fail(NTE_BAD_TYPE);
      if (value != CRYPT_MODE_CBC && value != CRYPT_MODE_ECB && value != CRYPT_MODE_CFB) return Fail(NTE_BAD_DATA);
      key->mode = value;
      break;
    case KP_PADDING:
      if (!block) return Fail(NTE_BAD_TYPE);
      if (value != PKCS5_PADDING) return Fail(NTE_BAD_DATA);
      key->padding = value;
      break;
    case KP_MODE_BITS:
      if (!block) return Fail(NTE_BAD_TYPE);
      if (value != 8) return Fail(NTE_BAD_DATA);
      key->modeBits = value;
      break;
    case KP_PERMISSIONS:
      // Permissions can only be taken away, and export never granted. A key
      // pair accepts the change but keeps its permissions, as Windows' RSA
      // providers do: whether it exports is decided by how it was made.
      if (value & ~key->permissions) return Fail(NTE_BAD_DATA);
      if (!key->IsRsa()) key->permissions = value;
      return TRUE;
    case KP_CERTIFICATE: {
      if (!key->IsRsa() || !key->hasPrivate) return Fail(NTE_BAD_TYPE);
      size_t length = DerElementLength(pbData);
      const unsigned char* p = pbData;
      X509* cert = length ? d2i_X509(nullptr, &p, static_cast<long>(length)) : nullptr;
      bool matches = cert && EVP_PKEY_eq(X509_get0_pubkey(cert), key->pkey.get()) == 1;
      X509_free(cert);
      if (!matches) return Fail(NTE_BAD_DATA);
      std::vector<BYTE> bytes(pbData, pbData + length);
      if (key->token) {
        if (!key->token->StoreCertificate(bytes, key->provider->silent)) return FALSE;
      } else if (key->persistent) {
        if (SaveCertificate(key->provider->container, key->keySpec, bytes) != StoreResult::kOk) return Fail(StoreError());
      } else if (key->keySpec && key->provider) {
        std::lock_guard<std::mutex> lock(key->provider->mutex);
        key->provider->ephemeralCerts[key->keySpec] = bytes;
      }
      key->certificate = std::move(bytes);
      return TRUE;
    }
    default:
      return Fail(NTE_BAD_TYPE);
  }
  // A changed IV or mode starts a new chain.
  key->encryptCtx.reset();
  key->decryptCtx.reset();
  key->desEncrypt.reset();
  key->desDecrypt.reset();
  return TRUE;
}
