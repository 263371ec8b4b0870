// The objects behind provider, key and hash handles.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypt/container_store.h"
#include "handles/handle_table.h"
#include "ossl/owned.h"
#include "ossl/providers.h"

namespace kv::platform::crypt {

// The crypto calls' handles live in the process's one handle table; these
// names let the calls outside the namespace reach it through
// `using namespace kv::platform::crypt`.
using kv::platform::AddHandle;
using kv::platform::FindHandle;
using kv::platform::HandleKind;
using kv::platform::HandleObject;
using kv::platform::RemoveHandle;

class DesChain;
class TokenKey;

// An acquired provider context: one container (or none for
// CRYPT_VERIFYCONTEXT) of one of the providers we serve.
// Key pairs opened from one container, by key slot: a second context on the
// container (the AES-capable provider a SHA-2 signature is made through,
// acquired for each signature) uses them instead of unsealing and decoding
// the key again; a changed record is still opened anew.
struct OpenedKeys {
  std::mutex mutex;
  std::map<DWORD, OpenedKey> pairs;
};
// The opened keys of a container's live contexts, made when there are none.
std::shared_ptr<OpenedKeys> OpenedKeysOf(const ContainerName& container);

class Provider : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::CryptProvider;
  Provider() : HandleObject(kKind) {}

  std::string providerName;
  DWORD providerType = 0;
  bool verifyContext = false;
  bool silent = false;
  ContainerName container;
  std::atomic<int> references{1};
  // CryptReleaseContext drops the handle; keys and hashes made from it fail
  // afterwards, as they do on Windows.
  std::atomic<bool> released{false};

  // Key pairs of a verify context live only in memory, by key slot.
  std::mutex mutex;
  std::map<DWORD, SharedPkey> ephemeralPairs;
  std::map<DWORD, ALG_ID> ephemeralAlgs;
  std::map<DWORD, DWORD> ephemeralFlags;
  std::map<DWORD, std::vector<BYTE>> ephemeralCerts;
  // Container key pairs as last opened, shared by every context on the same
  // container while any of them lives (null for a verify context).
  std::shared_ptr<OpenedKeys> openedKeys;
  // The smart-card provider's container: its one key pair, on the token.
  std::shared_ptr<TokenKey> token;
};

// A key: an RSA pair or public key, or a symmetric session key with its
// cipher settings and chaining state.
class Key : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::CryptKey;
  Key() : HandleObject(kKind) {}

  std::shared_ptr<Provider> provider;
  ALG_ID algId = 0;
  DWORD flags = 0;        // CRYPT_EXPORTABLE, CRYPT_ARCHIVABLE, CRYPT_USER_PROTECTED
  DWORD keySpec = 0;      // slot of a container key pair; 0 otherwise
  bool persistent = false;  // the pair lives in the provider's container

  // Asymmetric keys.
  SharedPkey pkey;
  bool hasPrivate = false;
  DWORD bitLen = 0;  // bit length an imported blob declared; 0 for the modulus's own
  std::vector<BYTE> certificate;
  // A pair on a token: `pkey` is its public half; the private half signs on
  // the token and never leaves it.
  std::shared_ptr<TokenKey> token;

  // Symmetric keys.
  std::vector<BYTE> secret;
  std::vector<BYTE> iv;
  DWORD mode = CRYPT_MODE_CBC;
  DWORD padding = PKCS5_PADDING;
  DWORD modeBits = 8;
  DWORD permissions = 0;
  CipherCtxPtr encryptCtx;  // chaining state between non-final calls
  CipherCtxPtr decryptCtx;
  std::shared_ptr<DesChain> desEncrypt;  // DES and triple-DES in CBC: the engine's own cipher
  std::shared_ptr<DesChain> desDecrypt;

  bool IsRsa() const { return pkey != nullptr; }
  DWORD RsaBitLen() const;
  ~Key() override {
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  }
};

class Hash : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::CryptHash;
  Hash() : HandleObject(kKind) {}

  std::shared_ptr<Provider> provider;
  ALG_ID algId = 0;
  MdCtxPtr ctx;      // MD5 or the single digest
  MdCtxPtr ctxSha1;  // second half of CALG_SSL3_SHAMD5
  bool finished = false;
  std::vector<BYTE> value;
};

// Looks up a live provider; sets ERROR_INVALID_PARAMETER and returns null otherwise.
std::shared_ptr<Provider> LiveProvider(HCRYPTPROV handle);
// Looks up a key whose provider is still acquired; sets NTE_BAD_KEY (bad
// handle) or ERROR_INVALID_PARAMETER (provider released) and returns null
// otherwise, as Windows does.
std::shared_ptr<Key> LiveKey(HCRYPTKEY handle);
std::shared_ptr<Hash> LiveHash(HCRYPTHASH handle);

// The key pair in `keySpec` of the provider's container (or its memory for a
// verify context). Sets NTE_NO_KEY when the slot is empty.
std::shared_ptr<Key> LoadUserKey(const std::shared_ptr<Provider>& provider, DWORD keySpec);

}  // namespace kv::platform::crypt
