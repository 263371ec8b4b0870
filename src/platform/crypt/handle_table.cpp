// The process-wide handle table behind HCRYPTPROV, HCRYPTKEY and HCRYPTHASH.
#include "crypt/handle_table.h"

#include <mutex>
#include <unordered_map>

namespace kv::platform::crypt {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<ULONG_PTR, std::shared_ptr<HandleObject>> objects;
  // Starts away from small integers so that a DWORD-sized constant passed by
  // mistake is not a live handle; steps by 8 like pointers would.
  ULONG_PTR next = 0x4b560000;
};

Table& TheTable() {
  static Table* table = new Table;  // outlives static destructors that release handles
  return *table;
}

}  // namespace

ULONG_PTR AddHandle(std::shared_ptr<HandleObject> object) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.next += 8;
  t.objects.emplace(t.next, std::move(object));
  return t.next;
}

std::shared_ptr<HandleObject> FindHandle(ULONG_PTR handle, HandleKind kind) {
  if (handle == 0) return nullptr;
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(handle);
  if (it == t.objects.end() || it->second->kind() != kind) return nullptr;
  return it->second;
}

bool RemoveHandle(ULONG_PTR handle, HandleKind kind) {
  std::shared_ptr<HandleObject> doomed;  // destroyed outside the lock
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(handle);
  if (it == t.objects.end() || it->second->kind() != kind) return false;
  doomed = std::move(it->second);
  t.objects.erase(it);
  return true;
}

DWORD BadHandleError(HandleKind kind) {
  switch (kind) {
    case HandleKind::kProvider:
      return static_cast<DWORD>(NTE_BAD_UID);
    case HandleKind::kKey:
      return static_cast<DWORD>(NTE_BAD_KEY);
    case HandleKind::kHash:
      return static_cast<DWORD>(NTE_BAD_HASH);
    case HandleKind::kMessage:
      return ERROR_INVALID_HANDLE;
  }
  return ERROR_INVALID_HANDLE;
}

}  // namespace kv::platform::crypt
