// The user's SQLite database: location, creation with private permissions,
// WAL journaling with a busy timeout, schemas and retrying transactions.
#include "database/user_database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

namespace kv::platform {

std::string KorvessaHome() {
  const char* home = std::getenv("KORVESSA_HOME");
  if (home && *home) return home;
  const char* user = std::getenv("HOME");
  std::string base = (user && *user) ? user : "/tmp";
  return base + "/.local/share/korvessa";
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Statement::Statement(sqlite3* db, const char* sql) {
  if (db && sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
  if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  if (stmt_) {
    // A zero-length blob must still be a blob, not NULL.
    static const char empty = 0;
    sqlite3_bind_blob(stmt_, index, size ? data : &empty, static_cast<int>(size), SQLITE_TRANSIENT);
  }
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (stmt_) sqlite3_bind_null(stmt_, index);
  return *this;
}

int Statement::Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }

void Statement::Reset() {
  if (stmt_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

int64_t Statement::ColumnInt(int col) const { return stmt_ ? sqlite3_column_int64(stmt_, col) : 0; }

std::string Statement::ColumnText(int col) const {
  if (!stmt_) return {};
  const unsigned char* text = sqlite3_column_text(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> Statement::ColumnBlob(int col) const {
  if (!stmt_) return {};
  const uint8_t* blob = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
  int n = sqlite3_column_bytes(stmt_, col);
  return blob ? std::vector<uint8_t>(blob, blob + n) : std::vector<uint8_t>();
}

bool Statement::ColumnIsNull(int col) const {
  return !stmt_ || sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

UserDatabase& UserDatabase::Instance() {
  // Never destroyed: static destructors of other objects may still use it.
  static UserDatabase* instance = new UserDatabase();
  return *instance;
}

UserDatabase::~UserDatabase() { CloseLocked(); }

void UserDatabase::CloseLocked() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  schemas_.clear();
  openHome_.clear();
}

std::string UserDatabase::DatabasePath() { return KorvessaHome() + "/korvessa.db"; }

sqlite3* UserDatabase::Connection() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string home = KorvessaHome();
  if (db_ && home == openHome_) return db_;
  CloseLocked();
  if (!MakeDirectories(home)) return nullptr;
  chmod(home.c_str(), 0700);
  std::string path = home + "/korvessa.db";
  // Create the file with private permissions before SQLite opens it.
  mode_t old = umask(0077);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  umask(old);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  chmod(path.c_str(), 0600);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", nullptr,
               nullptr, nullptr);
  db_ = db;
  openHome_ = home;
  return db_;
}

bool UserDatabase::EnsureSchema(const char* name, const char* sql) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  sqlite3* db = Connection();
  if (!db) return false;
  if (std::find(schemas_.begin(), schemas_.end(), name) != schemas_.end()) return true;
  for (int attempt = 0; attempt < 50; ++attempt) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      schemas_.emplace_back(name);
      return true;
    }
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool UserDatabase::Transaction(const std::function<bool(sqlite3*)>& body) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  sqlite3* db = Connection();
  if (!db) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (rc != SQLITE_OK) return false;
    if (!body(db)) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc != SQLITE_BUSY) return false;
  }
  return false;
}

}  // namespace kv::platform
