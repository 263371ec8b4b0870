// The handle table's storage: one map under one lock, never destroyed, since
// objects may still be closed while other statics unwind.
#include "handles/handle_table.h"

#include <mutex>
#include <unordered_map>

namespace kv::platform {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_map<ULONG_PTR, std::shared_ptr<HandleObject>> entries;
  ULONG_PTR next = 0x1000;
};

Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

ULONG_PTR NextValue(Table& t) {
  for (;;) {
    ULONG_PTR v = t.next;
    t.next += 4;
    if (t.next >= 0x7FFFFFF0u) t.next = 0x1000;
    if (!t.entries.count(v)) return v;
  }
}

// The object leaves the table under the lock and is destroyed after it.
template <class Accepts>
bool RemoveIf(ULONG_PTR handle, Accepts accepts) {
  std::shared_ptr<HandleObject> doomed;
  Table& t = TheTable();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.entries.find(handle);
    if (it == t.entries.end() || !accepts(it->second->kind())) return false;
    doomed = std::move(it->second);
    t.entries.erase(it);
  }
  doomed.reset();
  return true;
}

}  // namespace

bool IsKernelKind(HandleKind kind) {
  switch (kind) {
    case HandleKind::File:
    case HandleKind::FileMapping:
    case HandleKind::Event:
    case HandleKind::Mutex:
    case HandleKind::RegistryKey:
      return true;
    default:
      return false;
  }
}

ULONG_PTR AddHandle(std::shared_ptr<HandleObject> object) {
  if (!object) return 0;
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  ULONG_PTR value = NextValue(t);
  t.entries.emplace(value, std::move(object));
  return value;
}

std::shared_ptr<HandleObject> FindHandle(ULONG_PTR handle, HandleKind kind) {
  if (handle == 0) return nullptr;
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.entries.find(handle);
  if (it == t.entries.end() || it->second->kind() != kind) return nullptr;
  return it->second;
}

bool VisitHandle(ULONG_PTR handle, HandleKind kind,
                 void (*take)(const std::shared_ptr<HandleObject>& object, void* context), void* context) {
  if (handle == 0) return false;
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.entries.find(handle);
  if (it == t.entries.end() || it->second->kind() != kind) return false;
  take(it->second, context);
  return true;
}

bool RemoveHandle(ULONG_PTR handle, bool (*accepts)(HandleKind)) {
  return RemoveIf(handle, accepts);
}

bool RemoveHandle(ULONG_PTR handle, HandleKind kind) {
  return RemoveIf(handle, [kind](HandleKind k) { return k == kind; });
}

size_t CountHandles(HandleKind kind) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  size_t n = 0;
  for (const auto& e : t.entries)
    if (e.second->kind() == kind) ++n;
  return n;
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, HandleKind kind) {
  auto object = FindHandle(reinterpret_cast<ULONG_PTR>(handle), kind);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace kv::platform

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (kv::platform::RemoveHandle(reinterpret_cast<ULONG_PTR>(hObject), kv::platform::IsKernelKind)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
