// The process's one handle table. Every object the stand-in hands out by
// handle (files, mappings, events, mutexes, registry keys, and the crypto
// provider, key, hash and message handles) lives behind one typed entry, so
// a handle of the wrong kind, a closed handle or a made-up value is looked
// up and refused instead of touching the wrong object.
//
// Values are multiples of four, as Windows hands them out, never 0, and not
// reused soon after a close, so a stale handle is far more likely to be
// refused than to reach a new object.
//
// Adding a kind: add it to HandleKind, derive the object from HandleObject
// (its destructor releases what it holds) with a `static constexpr
// HandleKind kKind`, enter it with AddHandle and look it up with
// FindHandle<Type>. The lookups set no error: each family of calls reports
// a bad handle with its own Windows error (ERROR_INVALID_HANDLE for kernel
// objects, NTE_BAD_KEY for a key, ...).
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

namespace kv::platform {

enum class HandleKind {
  // Kernel objects: what CloseHandle closes. A registry key is one too on
  // Windows, though RegCloseKey is its usual call.
  File,
  FileMapping,
  Event,
  Mutex,
  RegistryKey,
  // Closed only by their own calls (CryptReleaseContext, ...).
  CryptProvider,
  CryptKey,
  CryptHash,
  CryptMessage,
};

// Whether CloseHandle is the call that closes this kind.
bool IsKernelKind(HandleKind kind);

class HandleObject {
 public:
  explicit HandleObject(HandleKind kind) : kind_(kind) {}
  virtual ~HandleObject() = default;
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;

  HandleKind kind() const { return kind_; }

 private:
  HandleKind kind_;
};

// Enters `object` (not null) and returns its new handle value. The table
// shares ownership until the handle is removed.
ULONG_PTR AddHandle(std::shared_ptr<HandleObject> object);

// The object behind `handle` if it is of `kind`, else null. The reference
// keeps the object alive even if another thread closes the handle meanwhile.
std::shared_ptr<HandleObject> FindHandle(ULONG_PTR handle, HandleKind kind);

// Calls `take(object, context)` under the table's lock when `handle` is a
// live handle of `kind`; false otherwise. Lets the typed lookup below take
// its one reference directly.
bool VisitHandle(ULONG_PTR handle, HandleKind kind,
                 void (*take)(const std::shared_ptr<HandleObject>& object, void* context), void* context);

// The typed lookup: the per-block cipher calls make one for every eight
// bytes, so the reference is taken once, already of the object's type.
template <class T>
std::shared_ptr<T> FindHandle(ULONG_PTR handle) {
  std::shared_ptr<T> found;
  VisitHandle(
      handle, T::kKind,
      [](const std::shared_ptr<HandleObject>& object, void* context) {
        *static_cast<std::shared_ptr<T>*>(context) = std::shared_ptr<T>(object, static_cast<T*>(object.get()));
      },
      &found);
  return found;
}

// Removes `handle` when it is a live handle of a kind `accepts` answers
// true for; false otherwise. The object goes when its last reference goes,
// outside the table's lock, so its destructor may use other handles.
bool RemoveHandle(ULONG_PTR handle, bool (*accepts)(HandleKind));
bool RemoveHandle(ULONG_PTR handle, HandleKind kind);

// Number of open handles of `kind` (tests use it to find leaks).
size_t CountHandles(HandleKind kind);

// Kernel-object spelling of the same table, for the calls that take HANDLE:
// LookupHandle sets ERROR_INVALID_HANDLE when it finds nothing.
inline HANDLE RegisterHandle(std::shared_ptr<HandleObject> object) {
  return reinterpret_cast<HANDLE>(AddHandle(std::move(object)));
}
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, HandleKind kind);
template <class T>
std::shared_ptr<T> LookupHandle(HANDLE handle) {
  return std::static_pointer_cast<T>(LookupHandle(handle, T::kKind));
}

}  // namespace kv::platform
