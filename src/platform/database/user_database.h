// The user's persistent state on Linux: one SQLite database under
// $KORVESSA_HOME (default ~/.local/share/korvessa) holding certificate stores,
// key containers and the registry. Each part of the stand-in declares its own
// tables through EnsureSchema; every change runs in a transaction.
//
// Every failing SQLite call is recorded for its thread as the Win32 error
// the failure stands for (a full disk, a read-only file system, a damaged
// file...), so the calls above can fail truthfully. A database found damaged
// (at open by a quick integrity check, or by any later call) is not used
// again by this process: nothing more is read from or written into it.
#pragma once

#include <sqlite3.h>
#include <windows.h>

#include <atomic>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kv::platform {

// The folder that holds the user's state: $KORVESSA_HOME, else
// $HOME/.local/share/korvessa. Not created here.
std::string KorvessaHome();

// Creates `path` and its missing parents with mode 0700.
bool MakeDirectories(const std::string& path);

// The Win32 error a failed SQLite call (result `rc` on `db`) stands for.
DWORD Win32ErrorFromSqlite(sqlite3* db, int rc);

// The thread's last recorded database failure as a Win32 error, 0 when there
// was none since ClearDatabaseError.
DWORD LastDatabaseError();
void ClearDatabaseError();
// Records a failed call; SQLITE_CORRUPT and SQLITE_NOTADB mark the user
// database damaged.
void NoteDatabaseFailure(sqlite3* db, int rc);
void NoteDatabaseError(DWORD win32Error);
// sqlite3_exec recording failures, except a busy database (callers retry).
int Exec(sqlite3* db, const char* sql);

// A prepared statement that finalises itself. One run on every signature or
// key read is built with kReuse: it is borrowed from the connection's cache
// of prepared statements (`sql` must then be a string literal, the cache's
// key) and given back reset, its bindings cleared, when it goes.
class Statement {
 public:
  enum Reuse { kReuse };
  Statement(sqlite3* db, const char* sql);
  Statement(sqlite3* db, const char* sql, Reuse);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& text);
  Statement& BindBlob(int index, const void* data, size_t size);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  void Reset();

  int64_t ColumnInt(int col) const;
  std::string ColumnText(int col) const;
  std::vector<uint8_t> ColumnBlob(int col) const;
  bool ColumnIsNull(int col) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  const char* cachedSql_ = nullptr;
};

class UserDatabase {
 public:
  // The process's connection to the current user's database. The connection
  // follows $KORVESSA_HOME: when it names another folder than at the last
  // call, the old connection is closed and the new database opened.
  static UserDatabase& Instance();

  // Opens (creating folder 0700 and file 0600 on first use) and returns the
  // connection, or null when the database cannot be opened. The returned
  // handle stays valid until the next Connection() call that follows a
  // change of $KORVESSA_HOME.
  sqlite3* Connection();

  // Runs `sql` (CREATE TABLE IF NOT EXISTS ...) once per connection.
  bool EnsureSchema(const char* name, const char* sql);
  // EnsureSchema returning the connection it checked (null on failure), for
  // a caller that needs both on every call.
  sqlite3* ConnectionWithSchema(const char* name, const char* sql);
  // How many connections this process has opened so far: a caller that does
  // something once per database notices a new one without reading the path.
  uint64_t Openings() const { return openings_; }

  // Runs `body` inside BEGIN IMMEDIATE ... COMMIT, retrying the whole
  // transaction while another process holds the write lock. `body` returns
  // false to roll back. Returns false on rollback or on a database error.
  bool Transaction(const std::function<bool(sqlite3*)>& body);

  // The lock that serialises use of the shared connection inside this process.
  std::recursive_mutex& Mutex() { return mutex_; }

  // Path of the database file for the current home.
  static std::string DatabasePath();

  // The cached statement for `sql` on `db` when `db` is the current
  // connection, taken out of the cache until given back; prepared on first
  // use. Null (failure recorded) when it cannot be prepared; *cached tells
  // whether it must be given back rather than finalised.
  sqlite3_stmt* TakeStatement(sqlite3* db, const char* sql, bool* cached);
  // Resets and keeps a taken statement; one whose connection has since been
  // replaced, or whose place was filled meanwhile, is finalised.
  void GiveBackStatement(const char* sql, sqlite3_stmt* stmt);
  // Another long-lived connection (the machine registry's) whose kReuse
  // statements are kept too, until ForgetStatements, which its owner calls
  // before closing it. These use a lock of their own, taken after any other.
  void KeepStatementsOf(sqlite3* db);
  void ForgetStatements(sqlite3* db);

  // Called when a call on `db` found the file damaged.
  void MarkDamaged(sqlite3* db);
  // Closes the connection (which checkpoints the log into the database)
  // when the process ends; a forked child leaves its parent's connection be.
  void CloseAtExit();

 private:
  UserDatabase() = default;
  ~UserDatabase();
  void CloseLocked();
  // 1 sound, 0 damaged, -1 could not be checked.
  int CheckIntegrity(sqlite3* db);

  std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;
  std::atomic<sqlite3*> damaged_{nullptr};
  pid_t opener_ = 0;
  bool exitHook_ = false;
  std::string openHome_;
  uint64_t openings_ = 0;
  std::vector<std::string> schemas_;
  // Prepared statements of db_, by the address of their SQL text.
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
  // The same for the connections of KeepStatementsOf, under otherMutex_.
  std::mutex otherMutex_;
  std::unordered_map<sqlite3*, std::unordered_map<const char*, sqlite3_stmt*>> otherStatements_;
};

}  // namespace kv::platform
