// One table for every provider, key and hash handle the stand-in gives out.
// A handle is an opaque number that is never reused, so a stale or forged
// handle, or one of the wrong kind, is looked up and refused with the error
// Windows documents for that argument instead of being dereferenced.
#pragma once

#include <windows.h>

#include <memory>

namespace kv::platform::crypt {

enum class HandleKind { kProvider, kKey, kHash, kMessage };

class HandleObject {
 public:
  explicit HandleObject(HandleKind kind) : kind_(kind) {}
  virtual ~HandleObject() = default;
  HandleKind kind() const { return kind_; }

 private:
  HandleKind kind_;
};

// Registers `object` and returns its new handle value (never 0).
ULONG_PTR AddHandle(std::shared_ptr<HandleObject> object);

// The object behind `handle` when it is of `kind`, else null.
std::shared_ptr<HandleObject> FindHandle(ULONG_PTR handle, HandleKind kind);

// Removes the handle; false when it is not a live handle of `kind`.
bool RemoveHandle(ULONG_PTR handle, HandleKind kind);

template <typename T>
std::shared_ptr<T> Find(ULONG_PTR handle) {
  return std::static_pointer_cast<T>(FindHandle(handle, T::kKind));
}

// The error Windows gives for a bad handle of each kind: NTE_BAD_UID for a
// provider, NTE_BAD_KEY for a key, NTE_BAD_HASH for a hash, and
// ERROR_INVALID_HANDLE for a message.
DWORD BadHandleError(HandleKind kind);

}  // namespace kv::platform::crypt
