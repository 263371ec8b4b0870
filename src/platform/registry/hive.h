// The two stores behind the registry: the user hive in the user's database
// and the machine hive in the machine database. Each hive holds a tree of keys
// (key 1 is the hive's root) and their values; the functions below work on one
// open connection and return Win32 error numbers.
#pragma once

#include <sqlite3.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv::platform::registry {

enum class HiveKind { User, Machine };

constexpr int64_t kRootKey = 1;

struct StoredValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct KeyFacts {
  std::u16string className;
  int64_t written = 0;  // FILETIME ticks
  DWORD subkeys = 0;
  size_t maxSubkeyName = 0;
  DWORD values = 0;
  size_t maxValueName = 0;
  size_t maxValueData = 0;
};

// Path of the database that currently backs the hive; a handle opened on
// another database (the home moved) no longer names a key.
std::string HiveIdentity(HiveKind hive);
// Whether this process may change the hive.
bool HiveWritable(HiveKind hive);

// Runs `body` on the hive's connection under the hive's lock. Reads see a
// consistent database; writes run in one immediate transaction that commits
// only when `body` returns ERROR_SUCCESS. A failure of the database itself
// gives the error it stands for (ERROR_DISK_FULL, ERROR_WRITE_PROTECT,
// ERROR_FILE_CORRUPT, ERROR_ACCESS_DENIED...), else ERROR_REGISTRY_IO_FAILED.
LONG HiveRead(HiveKind hive, const std::function<LONG(sqlite3*)>& body);
LONG HiveWrite(HiveKind hive, const std::function<LONG(sqlite3*)>& body);

bool KeyExists(sqlite3* db, int64_t key);
// Walks `parts` down from `from`; ERROR_FILE_NOT_FOUND when a key is missing.
LONG FindKey(sqlite3* db, int64_t from, const std::vector<std::u16string>& parts, int64_t* found);
// As FindKey, creating the missing keys; `created` tells whether the last one
// was new.
LONG CreateKeyPath(sqlite3* db, int64_t from, const std::vector<std::u16string>& parts, int64_t* found,
                   bool* created);
// Deletes a key without subkeys, with its values; ERROR_ACCESS_DENIED when it
// has subkeys, as Windows refuses then.
LONG RemoveKey(sqlite3* db, int64_t key);

LONG GetValue(sqlite3* db, int64_t key, const std::u16string& name, StoredValue* value);
LONG PutValue(sqlite3* db, int64_t key, const std::u16string& name, DWORD type, const uint8_t* data,
              size_t size);
LONG RemoveValue(sqlite3* db, int64_t key, const std::u16string& name);

// The index-th subkey in name order, or ERROR_NO_MORE_ITEMS.
LONG SubkeyAt(sqlite3* db, int64_t key, DWORD index, std::u16string* name, int64_t* written);
// The index-th value in the order the values were first set, or ERROR_NO_MORE_ITEMS.
LONG ValueAt(sqlite3* db, int64_t key, DWORD index, StoredValue* value);
LONG DescribeKey(sqlite3* db, int64_t key, KeyFacts* facts);

}  // namespace kv::platform::registry
