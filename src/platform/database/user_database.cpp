// The user's SQLite database: location, creation with private permissions,
// WAL journaling with a busy timeout, schemas and retrying transactions.
#include "database/user_database.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "kernel/posix_error.h"

namespace kv::platform {

namespace {

thread_local DWORD t_databaseError = 0;

bool OnReadOnlyFileSystem(sqlite3* db) {
  const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
  if (!file || !*file) return false;
  std::string folder(file);
  folder.resize(folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/') + 1);
  struct statvfs vfs;
  return statvfs(folder.empty() ? "." : folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
}

}  // namespace

DWORD Win32ErrorFromSqlite(sqlite3* db, int rc) {
  const int system = db ? sqlite3_system_errno(db) : 0;
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return ERROR_SUCCESS;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return ERROR_FILE_CORRUPT;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_LOCK_VIOLATION;
    case SQLITE_READONLY:
      // Opened read-only because the file system or the file's permissions
      // would not let it be written.
      if (system == EROFS || OnReadOnlyFileSystem(db)) return ERROR_WRITE_PROTECT;
      return ERROR_ACCESS_DENIED;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      // On a read-only file system the errno of SQLite's last attempt may be
      // that of a fallback (the log file it could not create is "missing").
      if (system == EROFS || OnReadOnlyFileSystem(db)) return ERROR_WRITE_PROTECT;
      if (system != 0) return Win32ErrorFromErrno(system);
      return (rc & 0xFF) == SQLITE_CANTOPEN ? static_cast<DWORD>(ERROR_OPEN_FAILED) : ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD LastDatabaseError() { return t_databaseError; }
void ClearDatabaseError() { t_databaseError = 0; }
void NoteDatabaseError(DWORD win32Error) { t_databaseError = win32Error; }

void NoteDatabaseFailure(sqlite3* db, int rc) {
  if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
  t_databaseError = Win32ErrorFromSqlite(db, rc);
  if ((rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB) UserDatabase::Instance().MarkDamaged(db);
}

int Exec(sqlite3* db, const char* sql) {
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && (rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) NoteDatabaseFailure(db, rc);
  return rc;
}

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
  if (!db) return;
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    NoteDatabaseFailure(db, rc);
    stmt_ = nullptr;
  }
}

Statement::Statement(sqlite3* db, const char* sql, Reuse) {
  if (!db) return;
  bool cached = false;
  stmt_ = UserDatabase::Instance().TakeStatement(db, sql, &cached);
  if (cached) cachedSql_ = sql;
}

Statement::~Statement() {
  if (cachedSql_)
    UserDatabase::Instance().GiveBackStatement(cachedSql_, stmt_);
  else
    sqlite3_finalize(stmt_);
}

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

int Statement::Step() {
  if (!stmt_) return SQLITE_MISUSE;
  int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) NoteDatabaseFailure(sqlite3_db_handle(stmt_), rc);
  return rc;
}

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
  // A forked child must not close its parent's connection: closing would
  // checkpoint and remove the log the parent still writes to.
  const bool ours = db_ && opener_ == getpid();
  for (auto& entry : statements_) {
    if (ours) sqlite3_finalize(entry.second);
  }
  statements_.clear();
  if (ours) sqlite3_close_v2(db_);
  db_ = nullptr;
  damaged_ = nullptr;
  schemas_.clear();
  openHome_.clear();
}

std::string UserDatabase::DatabasePath() { return KorvessaHome() + "/korvessa.db"; }

namespace {

// Takes `sql`'s statement out of `cache`; null when it has none.
sqlite3_stmt* TakeCached(std::unordered_map<const char*, sqlite3_stmt*>* cache, const char* sql) {
  auto it = cache->find(sql);
  if (it == cache->end()) return nullptr;
  sqlite3_stmt* stmt = it->second;
  cache->erase(it);
  // The key is an address: a text built at run time may reuse one.
  if (std::strcmp(sqlite3_sql(stmt), sql) == 0) return stmt;
  sqlite3_finalize(stmt);
  return nullptr;
}

}  // namespace

sqlite3_stmt* UserDatabase::TakeStatement(sqlite3* db, const char* sql, bool* cached) {
  sqlite3_stmt* stmt = nullptr;
  std::unique_lock<std::mutex> other(otherMutex_);
  auto kept = otherStatements_.find(db);
  if (kept != otherStatements_.end()) {
    *cached = true;
    stmt = TakeCached(&kept->second, sql);
  } else {
    other.unlock();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    *cached = db == db_;
    if (*cached) stmt = TakeCached(&statements_, sql);
  }
  if (other.owns_lock()) other.unlock();
  if (stmt) return stmt;
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    NoteDatabaseFailure(db, rc);
    sqlite3_finalize(stmt);
    *cached = false;
    return nullptr;
  }
  return stmt;
}

void UserDatabase::GiveBackStatement(const char* sql, sqlite3_stmt* stmt) {
  if (!stmt) return;
  {
    std::lock_guard<std::mutex> other(otherMutex_);
    auto kept = otherStatements_.find(sqlite3_db_handle(stmt));
    if (kept != otherStatements_.end()) {
      sqlite3_reset(stmt);
      sqlite3_clear_bindings(stmt);
      if (!kept->second.emplace(sql, stmt).second) sqlite3_finalize(stmt);
      return;
    }
  }
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // Reset at once: a statement left stepping would hold its read snapshot
  // and keep the log from being checkpointed.
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  if (sqlite3_db_handle(stmt) != db_ || !statements_.emplace(sql, stmt).second) sqlite3_finalize(stmt);
}

void UserDatabase::KeepStatementsOf(sqlite3* db) {
  std::lock_guard<std::mutex> other(otherMutex_);
  otherStatements_.emplace(db, std::unordered_map<const char*, sqlite3_stmt*>());
}

void UserDatabase::ForgetStatements(sqlite3* db) {
  std::lock_guard<std::mutex> other(otherMutex_);
  auto kept = otherStatements_.find(db);
  if (kept == otherStatements_.end()) return;
  for (auto& entry : kept->second) sqlite3_finalize(entry.second);
  otherStatements_.erase(kept);
}

void UserDatabase::MarkDamaged(sqlite3* db) {
  if (db) damaged_ = db;
}

void UserDatabase::CloseAtExit() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (db_ && opener_ == getpid()) CloseLocked();
}

int UserDatabase::CheckIntegrity(sqlite3* db) {
  // Cheap enough once per process: structure only, no index cross-checks.
  Statement check(db, "PRAGMA quick_check(1)");
  int rc = check.Step();
  if (rc == SQLITE_ROW && check.ColumnText(0) == "ok") return 1;
  if (rc == SQLITE_ROW || LastDatabaseError() == ERROR_FILE_CORRUPT) {
    NoteDatabaseError(ERROR_FILE_CORRUPT);
    return 0;
  }
  return -1;
}

sqlite3* UserDatabase::Connection() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // The usual case, the home unchanged, is compared without building its path.
  const char* named = std::getenv("KORVESSA_HOME");
  if (db_ && named && *named && openHome_ == named) {
    if (damaged_ != db_) return db_;
    NoteDatabaseError(ERROR_FILE_CORRUPT);
    return nullptr;
  }
  std::string home = KorvessaHome();
  if (db_ && home == openHome_) {
    if (damaged_ != db_) return db_;
    NoteDatabaseError(ERROR_FILE_CORRUPT);
    return nullptr;
  }
  CloseLocked();
  if (!MakeDirectories(home)) {
    NoteDatabaseError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  chmod(home.c_str(), 0700);
  std::string path = home + "/korvessa.db";
  // Create the file with private permissions before SQLite opens it.
  mode_t old = umask(0077);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  umask(old);
  if (rc != SQLITE_OK) {
    NoteDatabaseFailure(db, rc);
    sqlite3_close_v2(db);
    return nullptr;
  }
  chmod(path.c_str(), 0600);
  sqlite3_busy_timeout(db, 10000);
  // The journal mode is the first read of the file: a file that is not a
  // database at all fails here. While another process opens the same file
  // the mode change can be refused as busy at once, without the busy
  // handler's wait, so it is tried again.
  for (int attempt = 0;; ++attempt) {
    rc = Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    if (((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) || attempt == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool corrupt = (rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB;
  int integrity = corrupt ? 0 : rc == SQLITE_OK ? CheckIntegrity(db) : -1;
  if (integrity < 0) {
    // Not readable now (a read-only file system, no permission...): the
    // failure is recorded and the next call tries again.
    sqlite3_close_v2(db);
    return nullptr;
  }
  if (integrity == 0) {
    NoteDatabaseError(ERROR_FILE_CORRUPT);
    // Kept open but marked, so the check is not repeated on every call.
    damaged_ = db;
  }
  db_ = db;
  openHome_ = home;
  opener_ = getpid();
  ++openings_;
  if (!exitHook_) {
    exitHook_ = true;
    std::atexit([] { UserDatabase::Instance().CloseAtExit(); });
  }
  if (damaged_ == db_) return nullptr;
  return db_;
}

bool UserDatabase::EnsureSchema(const char* name, const char* sql) { return ConnectionWithSchema(name, sql) != nullptr; }

sqlite3* UserDatabase::ConnectionWithSchema(const char* name, const char* sql) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  sqlite3* db = Connection();
  if (!db) return nullptr;
  if (std::find(schemas_.begin(), schemas_.end(), name) != schemas_.end()) return db;
  for (int attempt = 0; attempt < 50; ++attempt) {
    int rc = Exec(db, sql);
    if (rc == SQLITE_OK) {
      schemas_.emplace_back(name);
      return db;
    }
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

bool UserDatabase::Transaction(const std::function<bool(sqlite3*)>& body) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  sqlite3* db = Connection();
  if (!db) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int rc = Exec(db, "BEGIN IMMEDIATE");
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (rc != SQLITE_OK) return false;
    if (!body(db)) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    rc = Exec(db, "COMMIT");
    if (rc == SQLITE_OK) return true;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if ((rc & 0xFF) != SQLITE_BUSY) return false;
  }
  return false;
}

}  // namespace kv::platform
