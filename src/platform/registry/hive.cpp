// SQLite storage of the registry hives: the schema, the connections of the
// user and machine hives, and the key and value primitives.
#include "registry/hive.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "database/user_database.h"
#include "registry/registry_admin.h"
#include "kvcommon/utf.h"
#include "registry/registry_text.h"

namespace kv::platform {

namespace {
bool g_machineAdministration = false;
std::mutex g_adminMutex;
}  // namespace

void SetMachineRegistryAdministration(bool enabled) {
  std::lock_guard<std::mutex> lock(g_adminMutex);
  g_machineAdministration = enabled;
}

bool MachineRegistryAdministration() {
  std::lock_guard<std::mutex> lock(g_adminMutex);
  return g_machineAdministration;
}

std::string MachineRegistryFolder() {
  const char* home = std::getenv("KORVESSA_MACHINE_HOME");
  if (home && *home) return home;
  return "/var/lib/korvessa";
}

std::string MachineRegistryPath() { return MachineRegistryFolder() + "/machine.db"; }

}  // namespace kv::platform

namespace kv::platform::registry {

namespace {

// Key 1 is the root of the hive. Subkey names are unique per parent in their
// folded form; values keep the order in which they were first set (rowid).
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS registry_keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER REFERENCES registry_keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " class TEXT NOT NULL DEFAULT '',"
    " written INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE(parent, fold));"
    "INSERT OR IGNORE INTO registry_keys(id, parent, name, fold) VALUES(1, NULL, '', '');"
    "CREATE TABLE IF NOT EXISTS registry_values("
    " key INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, fold));";

int64_t NowFileTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100 + 116444736000000000LL;
}

std::string FoldedUtf8(const std::u16string& name) { return kv::Utf16ToUtf8(FoldName(name)); }

// Runs `body` inside a transaction of its own, or inside a savepoint when the
// connection is already in a transaction (a caller that holds the user
// database's transaction and touches the registry from it).
LONG RunWrite(sqlite3* db, const std::function<LONG(sqlite3*)>& body) {
  if (!sqlite3_get_autocommit(db)) {
    if (Exec(db, "SAVEPOINT registry_write") != SQLITE_OK)
      return ERROR_REGISTRY_IO_FAILED;
    LONG result = body(db);
    if (result != ERROR_SUCCESS) sqlite3_exec(db, "ROLLBACK TO registry_write", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "RELEASE registry_write", nullptr, nullptr, nullptr);
    return result;
  }
  for (int attempt = 0; attempt < 200; ++attempt) {
    int rc = Exec(db, "BEGIN IMMEDIATE");
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (rc != SQLITE_OK) return ERROR_REGISTRY_IO_FAILED;
    LONG result = body(db);
    if (result != ERROR_SUCCESS) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return result;
    }
    rc = Exec(db, "COMMIT");
    if (rc == SQLITE_OK) return ERROR_SUCCESS;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc != SQLITE_BUSY) return ERROR_REGISTRY_IO_FAILED;
  }
  return ERROR_REGISTRY_IO_FAILED;
}

// Runs `body` on one read snapshot.
LONG RunRead(sqlite3* db, const std::function<LONG(sqlite3*)>& body) {
  if (!sqlite3_get_autocommit(db)) return body(db);
  // Kept prepared: a signature reads a machine key.
  if (Statement(db, "BEGIN", Statement::kReuse).Step() != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;
  LONG result = body(db);
  Statement(db, "COMMIT", Statement::kReuse).Step();
  return result;
}

// The machine database. Programs open it read-only (an absent database reads
// as an empty hive); administration opens it writable and creates it
// readable by every user. It uses a rollback journal so that readers need no
// write access to the folder.
class MachineStore {
 public:
  static MachineStore& Instance() {
    static MachineStore* store = new MachineStore();  // outlives static destructors
    return *store;
  }

  std::mutex& Mutex() { return mutex_; }

  // Under Mutex().
  sqlite3* Connection() {
    std::string path = MachineRegistryPath();
    bool writable = MachineRegistryAdministration();
    struct stat st;
    bool exists = stat(path.c_str(), &st) == 0;
    if (db_ && path == path_ && writable == writable_ && !(memory_ && exists)) return db_;
    Close();
    sqlite3* db = nullptr;
    if (writable) {
      std::string folder = MachineRegistryFolder();
      if (!MakeDirectories(folder)) return nullptr;
      chmod(folder.c_str(), 0755);
      mode_t old = umask(0022);
      int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                               nullptr);
      umask(old);
      if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
      }
      chmod(path.c_str(), 0644);
      sqlite3_busy_timeout(db, 10000);
      sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr);
      if (!ApplySchema(db)) {
        sqlite3_close_v2(db);
        return nullptr;
      }
      memory_ = false;
    } else if (exists) {
      if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
      }
      sqlite3_busy_timeout(db, 10000);
      memory_ = false;
    } else {
      if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK ||
          sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
      }
      memory_ = true;
    }
    db_ = db;
    path_ = path;
    writable_ = writable;
    // Key lookups run on every signature: their statements stay prepared.
    UserDatabase::Instance().KeepStatementsOf(db_);
    return db_;
  }

 private:
  static bool ApplySchema(sqlite3* db) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      int rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) return true;
      if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  void Close() {
    if (db_) {
      UserDatabase::Instance().ForgetStatements(db_);
      sqlite3_close_v2(db_);
    }
    db_ = nullptr;
    path_.clear();
    memory_ = false;
  }

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string path_;
  bool writable_ = false;
  bool memory_ = false;
};

sqlite3* UserConnection() {
  UserDatabase& users = UserDatabase::Instance();
  if (!users.EnsureSchema("registry", kSchema)) return nullptr;
  return users.Connection();
}

}  // namespace

std::string HiveIdentity(HiveKind hive) {
  return hive == HiveKind::User ? UserDatabase::DatabasePath() : MachineRegistryPath();
}

bool HiveWritable(HiveKind hive) { return hive == HiveKind::User || MachineRegistryAdministration(); }

namespace {

// The result of a hive call: a failure of the database itself, recorded
// while the call ran, is what the caller hears about, whatever the body
// made of it (a damaged table can look like a missing key).
LONG Truthful(LONG result) {
  DWORD failure = LastDatabaseError();
  if (failure != 0) return static_cast<LONG>(failure);
  return result;
}

LONG Read(HiveKind hive, const std::function<LONG(sqlite3*)>& body) {
  if (hive == HiveKind::User) {
    std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
    sqlite3* db = UserConnection();
    return db ? RunRead(db, body) : ERROR_REGISTRY_IO_FAILED;
  }
  MachineStore& store = MachineStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Connection();
  return db ? RunRead(db, body) : ERROR_REGISTRY_IO_FAILED;
}

LONG Write(HiveKind hive, const std::function<LONG(sqlite3*)>& body) {
  if (!HiveWritable(hive)) return ERROR_ACCESS_DENIED;
  if (hive == HiveKind::User) {
    std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
    sqlite3* db = UserConnection();
    return db ? RunWrite(db, body) : ERROR_REGISTRY_IO_FAILED;
  }
  MachineStore& store = MachineStore::Instance();
  std::lock_guard<std::mutex> lock(store.Mutex());
  sqlite3* db = store.Connection();
  if (!db) {
    // Administration without the file system's permission to change the
    // machine database is refused as Windows refuses a non-administrator.
    std::string folder = MachineRegistryFolder();
    return access(folder.c_str(), W_OK) == 0 ? ERROR_REGISTRY_IO_FAILED : ERROR_ACCESS_DENIED;
  }
  return RunWrite(db, body);
}

}  // namespace

LONG HiveRead(HiveKind hive, const std::function<LONG(sqlite3*)>& body) {
  ClearDatabaseError();
  return Truthful(Read(hive, body));
}

LONG HiveWrite(HiveKind hive, const std::function<LONG(sqlite3*)>& body) {
  ClearDatabaseError();
  return Truthful(Write(hive, body));
}

bool KeyExists(sqlite3* db, int64_t key) {
  Statement st(db, "SELECT 1 FROM registry_keys WHERE id = ?1", Statement::kReuse);
  return st.Bind(1, key).Step() == SQLITE_ROW;
}

namespace {

// ERROR_SUCCESS with the child's id, ERROR_FILE_NOT_FOUND, or a database error.
LONG FindChild(sqlite3* db, int64_t parent, const std::u16string& name, int64_t* child) {
  Statement st(db, "SELECT id FROM registry_keys WHERE parent = ?1 AND fold = ?2", Statement::kReuse);
  if (!st.ok()) return ERROR_REGISTRY_IO_FAILED;
  int rc = st.Bind(1, parent).Bind(2, FoldedUtf8(name)).Step();
  if (rc == SQLITE_ROW) {
    *child = st.ColumnInt(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ERROR_REGISTRY_IO_FAILED;
}

LONG TouchKey(sqlite3* db, int64_t key) {
  Statement st(db, "UPDATE registry_keys SET written = ?2 WHERE id = ?1");
  return st.Bind(1, key).Bind(2, NowFileTime()).Step() == SQLITE_DONE ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

}  // namespace

LONG FindKey(sqlite3* db, int64_t from, const std::vector<std::u16string>& parts, int64_t* found) {
  if (!KeyExists(db, from)) return ERROR_KEY_DELETED;
  int64_t current = from;
  for (const auto& part : parts) {
    LONG rc = FindChild(db, current, part, &current);
    if (rc != ERROR_SUCCESS) return rc;
  }
  *found = current;
  return ERROR_SUCCESS;
}

LONG CreateKeyPath(sqlite3* db, int64_t from, const std::vector<std::u16string>& parts, int64_t* found,
                   bool* created) {
  if (!KeyExists(db, from)) return ERROR_KEY_DELETED;
  int64_t current = from;
  *created = false;
  for (const auto& part : parts) {
    int64_t child = 0;
    LONG rc = FindChild(db, current, part, &child);
    if (rc == ERROR_FILE_NOT_FOUND) {
      Statement ins(db, "INSERT INTO registry_keys(parent, name, fold, written) VALUES(?1, ?2, ?3, ?4)");
      if (ins.Bind(1, current).Bind(2, kv::Utf16ToUtf8(part)).Bind(3, FoldedUtf8(part)).Bind(4, NowFileTime()).Step() !=
          SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
      child = sqlite3_last_insert_rowid(db);
      *created = true;
    } else if (rc != ERROR_SUCCESS) {
      return rc;
    } else {
      *created = false;
    }
    current = child;
  }
  *found = current;
  return ERROR_SUCCESS;
}

LONG RemoveKey(sqlite3* db, int64_t key) {
  if (key == kRootKey) return ERROR_ACCESS_DENIED;
  if (!KeyExists(db, key)) return ERROR_KEY_DELETED;
  Statement children(db, "SELECT 1 FROM registry_keys WHERE parent = ?1 LIMIT 1");
  int rc = children.Bind(1, key).Step();
  if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
  if (rc != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;
  Statement values(db, "DELETE FROM registry_values WHERE key = ?1");
  Statement del(db, "DELETE FROM registry_keys WHERE id = ?1");
  if (values.Bind(1, key).Step() != SQLITE_DONE || del.Bind(1, key).Step() != SQLITE_DONE)
    return ERROR_REGISTRY_IO_FAILED;
  return ERROR_SUCCESS;
}

LONG GetValue(sqlite3* db, int64_t key, const std::u16string& name, StoredValue* value) {
  if (!KeyExists(db, key)) return ERROR_KEY_DELETED;
  Statement st(db, "SELECT name, type, data FROM registry_values WHERE key = ?1 AND fold = ?2");
  if (!st.ok()) return ERROR_REGISTRY_IO_FAILED;
  int rc = st.Bind(1, key).Bind(2, FoldedUtf8(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  value->name = kv::Utf8ToUtf16Lossy(st.ColumnText(0));
  value->type = static_cast<DWORD>(st.ColumnInt(1));
  value->data = st.ColumnBlob(2);
  return ERROR_SUCCESS;
}

LONG PutValue(sqlite3* db, int64_t key, const std::u16string& name, DWORD type, const uint8_t* data,
              size_t size) {
  if (!KeyExists(db, key)) return ERROR_KEY_DELETED;
  // An existing value keeps its name's spelling and its place in the order.
  Statement st(db,
               "INSERT INTO registry_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
               "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (st.Bind(1, key)
          .Bind(2, kv::Utf16ToUtf8(name))
          .Bind(3, FoldedUtf8(name))
          .Bind(4, static_cast<int64_t>(type))
          .BindBlob(5, data, size)
          .Step() != SQLITE_DONE)
    return ERROR_REGISTRY_IO_FAILED;
  return TouchKey(db, key);
}

LONG RemoveValue(sqlite3* db, int64_t key, const std::u16string& name) {
  if (!KeyExists(db, key)) return ERROR_KEY_DELETED;
  Statement st(db, "DELETE FROM registry_values WHERE key = ?1 AND fold = ?2");
  if (st.Bind(1, key).Bind(2, FoldedUtf8(name)).Step() != SQLITE_DONE) return ERROR_REGISTRY_IO_FAILED;
  if (sqlite3_changes(db) == 0) return ERROR_FILE_NOT_FOUND;
  return TouchKey(db, key);
}

LONG SubkeyAt(sqlite3* db, int64_t key, DWORD index, std::u16string* name, int64_t* written) {
  if (!KeyExists(db, key)) return ERROR_KEY_DELETED;
  Statement st(db, "SELECT name, written FROM registry_keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
  int rc = st.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  *name = kv::Utf8ToUtf16Lossy(st.ColumnText(0));
  if (written) *written = st.ColumnInt(1);
  return ERROR_SUCCESS;
}

LONG ValueAt(sqlite3* db, int64_t key, DWORD index, StoredValue* value) {
  if (!KeyExists(db, key)) return ERROR_KEY_DELETED;
  Statement st(db, "SELECT name, type, data FROM registry_values WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
  int rc = st.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  value->name = kv::Utf8ToUtf16Lossy(st.ColumnText(0));
  value->type = static_cast<DWORD>(st.ColumnInt(1));
  value->data = st.ColumnBlob(2);
  return ERROR_SUCCESS;
}

LONG DescribeKey(sqlite3* db, int64_t key, KeyFacts* facts) {
  Statement self(db, "SELECT class, written FROM registry_keys WHERE id = ?1");
  if (self.Bind(1, key).Step() != SQLITE_ROW) return ERROR_KEY_DELETED;
  facts->className = kv::Utf8ToUtf16Lossy(self.ColumnText(0));
  facts->written = self.ColumnInt(1);
  Statement subkeys(db, "SELECT name FROM registry_keys WHERE parent = ?1");
  subkeys.Bind(1, key);
  while (subkeys.Step() == SQLITE_ROW) {
    ++facts->subkeys;
    facts->maxSubkeyName = std::max(facts->maxSubkeyName, kv::Utf8ToUtf16Lossy(subkeys.ColumnText(0)).size());
  }
  Statement values(db, "SELECT name, length(data) FROM registry_values WHERE key = ?1");
  values.Bind(1, key);
  while (values.Step() == SQLITE_ROW) {
    ++facts->values;
    facts->maxValueName = std::max(facts->maxValueName, kv::Utf8ToUtf16Lossy(values.ColumnText(0)).size());
    facts->maxValueData = std::max(facts->maxValueData, static_cast<size_t>(values.ColumnInt(1)));
  }
  return ERROR_SUCCESS;
}

}  // namespace kv::platform::registry
