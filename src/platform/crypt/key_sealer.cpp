// AES-256-GCM sealing of private keys under a per-user secret file.
#include "crypt/key_sealer.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "crypt/container_store.h"
#include "database/user_database.h"
#include "kernel/posix_error.h"

namespace kv::platform::crypt {
namespace {

constexpr size_t kSecretSize = 32;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;

bool ReadSecret(const std::string& path, uint8_t* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t got = 0;
  while (got < kSecretSize) {
    ssize_t n = read(fd, out + got, kSecretSize - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  return got == kSecretSize;
}

// Creates the secret atomically: written to a private temporary file, then
// linked into place, so a concurrent process either wins the link or reads the
// complete secret of the winner.
bool CreateSecret(const std::string& path, int* err) {
  uint8_t secret[kSecretSize];
  if (RAND_bytes(secret, sizeof(secret)) != 1) return false;
  std::string temp = path + ".tmp." + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *err = errno;
    OPENSSL_cleanse(secret, sizeof(secret));
    return false;
  }
  fchmod(fd, 0600);
  bool written = write(fd, secret, sizeof(secret)) == static_cast<ssize_t>(sizeof(secret));
  if (!written) *err = errno;
  written = (fsync(fd) == 0) && written;
  if (!written && *err == 0) *err = errno;
  close(fd);
  OPENSSL_cleanse(secret, sizeof(secret));
  bool linked = written && (link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
  if (written && !linked) *err = errno;
  unlink(temp.c_str());
  return linked;
}

bool LoadSecret(uint8_t* out) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::string path = SealingKeyPath();
  if (ReadSecret(path, out)) return true;
  // A secret that is there but cannot be read whole (truncated, unreadable)
  // is never replaced: every key sealed under it would be lost. The key set
  // is unusable, and is reported so.
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
    NoteStoreError(static_cast<DWORD>(NTE_BAD_KEYSET));
    return false;
  }
  int err = 0;
  if (!MakeDirectories(KorvessaHome())) {
    NoteStoreError(Win32ErrorFromErrno(errno));
    return false;
  }
  if (!CreateSecret(path, &err)) {
    NoteStoreError(err != 0 ? Win32ErrorFromErrno(err) : static_cast<DWORD>(NTE_FAIL));
    return false;
  }
  if (ReadSecret(path, out)) return true;
  NoteStoreError(static_cast<DWORD>(NTE_BAD_KEYSET));
  return false;
}

}  // namespace

std::string SealingKeyPath() { return KorvessaHome() + "/key-containers.secret"; }

bool SealSecret(const std::vector<uint8_t>& plain, const std::string& binding,
                std::vector<uint8_t>* sealed) {
  uint8_t key[kSecretSize];
  if (!LoadSecret(key)) return false;
  sealed->assign(kNonceSize + plain.size() + kTagSize, 0);
  uint8_t* nonce = sealed->data();
  bool ok = RAND_bytes(nonce, kNonceSize) == 1;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int len = 0;
  ok = ok && ctx && EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key, nonce) == 1;
  ok = ok && EVP_EncryptUpdate(ctx, nullptr, &len, reinterpret_cast<const uint8_t*>(binding.data()),
                               static_cast<int>(binding.size())) == 1;
  ok = ok && EVP_EncryptUpdate(ctx, sealed->data() + kNonceSize, &len, plain.data(),
                               static_cast<int>(plain.size())) == 1;
  ok = ok && EVP_EncryptFinal_ex(ctx, sealed->data() + kNonceSize + len, &len) == 1;
  ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, kTagSize,
                                 sealed->data() + kNonceSize + plain.size()) == 1;
  EVP_CIPHER_CTX_free(ctx);
  OPENSSL_cleanse(key, sizeof(key));
  if (!ok) sealed->clear();
  return ok;
}

bool OpenSealed(const std::vector<uint8_t>& sealed, const std::string& binding,
                std::vector<uint8_t>* plain) {
  if (sealed.size() < kNonceSize + kTagSize) return false;
  uint8_t key[kSecretSize];
  if (!LoadSecret(key)) return false;
  size_t bodySize = sealed.size() - kNonceSize - kTagSize;
  plain->assign(bodySize, 0);
  std::vector<uint8_t> tag(sealed.end() - kTagSize, sealed.end());
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int len = 0;
  bool ok = ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key, sealed.data()) == 1;
  ok = ok && EVP_DecryptUpdate(ctx, nullptr, &len, reinterpret_cast<const uint8_t*>(binding.data()),
                               static_cast<int>(binding.size())) == 1;
  ok = ok && EVP_DecryptUpdate(ctx, plain->data(), &len, sealed.data() + kNonceSize,
                               static_cast<int>(bodySize)) == 1;
  ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) == 1;
  ok = ok && EVP_DecryptFinal_ex(ctx, plain->data() + len, &len) == 1;
  EVP_CIPHER_CTX_free(ctx);
  OPENSSL_cleanse(key, sizeof(key));
  if (!ok) {
    OPENSSL_cleanse(plain->data(), plain->size());
    plain->clear();
  }
  return ok;
}

}  // namespace kv::platform::crypt
