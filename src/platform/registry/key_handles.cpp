// Registry key handles: a map from handle values to open keys. Values are
// never reused within a process, so a stale handle cannot reach a key opened
// later.
#include "registry/key_handles.h"

#include <map>
#include <mutex>

namespace kv::platform::registry {

namespace {

struct Table {
  std::mutex mutex;
  std::map<uintptr_t, OpenKey> keys;
  // Multiples of 4 like kernel handles, starting well above small integers
  // that a caller might pass by mistake.
  uintptr_t next = 0x1000;
};

Table& TheTable() {
  static Table* table = new Table();  // outlives static destructors
  return *table;
}

}  // namespace

HKEY AddKeyHandle(const OpenKey& key) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  uintptr_t value = t.next;
  t.next += 4;
  t.keys.emplace(value, key);
  return reinterpret_cast<HKEY>(value);
}

bool FindKeyHandle(HKEY handle, OpenKey* key) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.keys.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.keys.end()) return false;
  *key = it->second;
  return true;
}

bool RemoveKeyHandle(HKEY handle) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.keys.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

}  // namespace kv::platform::registry
