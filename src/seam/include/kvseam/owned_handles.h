// Owning holders for the CryptoAPI handles the engine opens above the seam:
// each handle type's release call is named once here, so a failing path
// cannot leak a store, a certificate context, a provider, a key, a hash or a
// message. Header-only, on both sides of the seam (the real calls on
// Windows, the stand-in's on Linux).
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace kv {

// Move-only owner of one handle; the zero value is "none".
template <typename Handle, void (*Release)(Handle)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle(); }
  // Gives the handle up without releasing it.
  Handle release() {
    Handle handle = handle_;
    handle_ = Handle();
    return handle;
  }
  void reset(Handle handle = Handle()) {
    if (handle_ != Handle()) Release(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Handle();
};

namespace owned_release {
inline void Store(HCERTSTORE store) { CertCloseStore(store, 0); }
inline void StoreForced(HCERTSTORE store) { CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
inline void Certificate(PCCERT_CONTEXT context) { CertFreeCertificateContext(context); }
inline void Provider(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
inline void Key(HCRYPTKEY key) { CryptDestroyKey(key); }
inline void Hash(HCRYPTHASH hash) { CryptDestroyHash(hash); }
inline void Message(HCRYPTMSG message) { CryptMsgClose(message); }
}  // namespace owned_release

using OwnedStore = Owned<HCERTSTORE, owned_release::Store>;
// A store whose close also frees the contexts still taken from it.
using OwnedStoreForced = Owned<HCERTSTORE, owned_release::StoreForced>;
using OwnedCertificate = Owned<PCCERT_CONTEXT, owned_release::Certificate>;
using OwnedProvider = Owned<HCRYPTPROV, owned_release::Provider>;
using OwnedKey = Owned<HCRYPTKEY, owned_release::Key>;
using OwnedHash = Owned<HCRYPTHASH, owned_release::Hash>;
using OwnedMessage = Owned<HCRYPTMSG, owned_release::Message>;

// One step of an enumeration of `store`: the context held is handed to the
// call (which frees it) and the next one taken; false at the end, with the
// call's last error left as it set it. Leaving the loop early frees the
// context held.
inline bool NextCertificate(HCERTSTORE store, OwnedCertificate* cursor) {
  cursor->reset(CertEnumCertificatesInStore(store, cursor->release()));
  return static_cast<bool>(*cursor);
}

}  // namespace kv
