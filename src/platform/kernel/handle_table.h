// The process's kernel handle table. Every kernel object (file, file mapping,
// event, ...) lives behind one typed entry, so a handle of the wrong kind, a
// closed handle or a made-up value yields ERROR_INVALID_HANDLE instead of
// touching the wrong object.
//
// Adding a kind: add it to HandleKind, derive the object from KernelObject
// (its destructor releases what it holds), create it with RegisterHandle and
// look it up with LookupHandle<Type>. CloseHandle needs no change.
#pragma once

#include <windows.h>

#include <memory>

namespace kv::platform {

enum class HandleKind {
  File,
  FileMapping,
  Event,
  Mutex,
  RegistryKey,
};

class KernelObject {
 public:
  explicit KernelObject(HandleKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  HandleKind kind() const { return kind_; }

 private:
  HandleKind kind_;
};

// Enters `object` in the table and returns its new handle (never null and
// never INVALID_HANDLE_VALUE). The table shares ownership until CloseHandle.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object behind `handle` if it is of `kind`; otherwise null, with
// ERROR_INVALID_HANDLE as the thread's last error. The returned reference
// keeps the object alive even if another thread closes the handle meanwhile.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, HandleKind kind);

template <class T>
std::shared_ptr<T> LookupHandle(HANDLE handle) {
  return std::static_pointer_cast<T>(LookupHandle(handle, T::kKind));
}

// Removes `handle` from the table; false (and ERROR_INVALID_HANDLE) when the
// handle is unknown. The object goes when its last reference goes.
bool UnregisterHandle(HANDLE handle);

// Number of open handles of `kind` (tests use it to find leaks).
size_t CountHandles(HandleKind kind);

}  // namespace kv::platform
