// The kernel handle table and CloseHandle. Handle values are multiples of four
// (as Windows hands them out) and are not reused soon after a close, so a
// stale handle is far more likely to be refused than to hit a new object.
#include "kernel/handle_table.h"

#include <mutex>
#include <unordered_map>

namespace kv::platform {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> entries;
  uintptr_t next = 0x1000;
};

Table& TheTable() {
  // Never destroyed: objects may still be closed while other statics unwind.
  static Table* table = new Table;
  return *table;
}

uintptr_t NextValue(Table& t) {
  for (;;) {
    uintptr_t v = t.next;
    t.next += 4;
    if (t.next >= 0x7FFFFFF0u) t.next = 0x1000;
    if (!t.entries.count(v)) return v;
  }
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  uintptr_t value = NextValue(t);
  t.entries.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, HandleKind kind) {
  Table& t = TheTable();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.entries.find(reinterpret_cast<uintptr_t>(handle));
    if (it != t.entries.end() && it->second->kind() == kind) return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

bool UnregisterHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> doomed;
  Table& t = TheTable();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.entries.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.entries.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    doomed = std::move(it->second);
    t.entries.erase(it);
  }
  // The object's destructor runs here, outside the table's lock, so it may
  // itself look up or close other handles.
  doomed.reset();
  return true;
}

size_t CountHandles(HandleKind kind) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  size_t n = 0;
  for (const auto& e : t.entries)
    if (e.second->kind() == kind) ++n;
  return n;
}

}  // namespace kv::platform

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
  return kv::platform::UnregisterHandle(hObject) ? TRUE : FALSE;
}
