// Registry key handles live in the process's kernel handle table as objects
// of their own kind, so a file handle passed as a key (or a key passed to a
// file call) is refused, and a closed key handle is not reused soon.
#include "registry/key_handles.h"

#include <memory>

#include "handles/handle_table.h"

namespace kv::platform::registry {

namespace {

class KeyObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::RegistryKey;
  explicit KeyObject(const OpenKey& key) : HandleObject(kKind), key_(key) {}
  const OpenKey& key() const { return key_; }

 private:
  OpenKey key_;
};

}  // namespace

HKEY AddKeyHandle(const OpenKey& key) {
  return reinterpret_cast<HKEY>(RegisterHandle(std::make_shared<KeyObject>(key)));
}

bool FindKeyHandle(HKEY handle, OpenKey* key) {
  std::shared_ptr<KeyObject> object = LookupHandle<KeyObject>(reinterpret_cast<HANDLE>(handle));
  if (!object) return false;
  *key = object->key();
  return true;
}

bool RemoveKeyHandle(HKEY handle) {
  if (RemoveHandle(reinterpret_cast<ULONG_PTR>(handle), HandleKind::RegistryKey)) return true;
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

}  // namespace kv::platform::registry
