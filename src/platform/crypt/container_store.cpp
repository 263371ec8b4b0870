// Key container tables: crypt_containers and crypt_keys.
#include "crypt/container_store.h"
#include "crypt/rsa_blob.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "crypt/key_sealer.h"
#include "kvseam/ansi.h"
#include "kvcommon/utf.h"
#include "database/user_database.h"

namespace kv::platform::crypt {
namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS crypt_containers ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  name TEXT NOT NULL,"
    "  lookup TEXT NOT NULL,"
    "  machine INTEGER NOT NULL,"
    "  UNIQUE (lookup, machine));"
    "CREATE TABLE IF NOT EXISTS crypt_keys ("
    "  container INTEGER NOT NULL REFERENCES crypt_containers(id) ON DELETE CASCADE,"
    "  key_spec INTEGER NOT NULL,"
    "  alg_id INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL,"
    "  sealed_key BLOB NOT NULL,"
    "  certificate BLOB,"
    "  PRIMARY KEY (container, key_spec));"
    "CREATE TABLE IF NOT EXISTS crypt_temporary ("
    "  container INTEGER PRIMARY KEY REFERENCES crypt_containers(id) ON DELETE CASCADE,"
    "  pid INTEGER NOT NULL,"
    "  started INTEGER NOT NULL);";

thread_local DWORD t_storeError = 0;

// Every public call starts with a clean record of failures.
void BeginCall() {
  t_storeError = 0;
  ClearDatabaseError();
}

// When the process started, in clock ticks since boot (field 22 of
// /proc/<pid>/stat); with the pid it names one process, also after the pid
// is reused. 0 when unknown; -1 when the process is gone or a zombie.
int64_t ProcessStart(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return -1;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X") return -1;
  for (int i = 4; i <= 22 && (fields >> field); ++i) {
    if (i == 22) return std::strtoll(field.c_str(), nullptr, 10);
  }
  return 0;
}

// This process's own start, read once: it cannot change while the process
// runs, and a forked child (another pid) reads its own.
int64_t OwnStart() {
  static std::atomic<pid_t> readFor{0};
  static std::atomic<int64_t> started{0};
  pid_t self = getpid();
  if (readFor.load() != self) {
    started.store(std::max<int64_t>(ProcessStart(self), 0));
    readFor.store(self);
  }
  return started.load();
}

bool OwnerAlive(pid_t pid, int64_t started) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  int64_t now = ProcessStart(pid);
  if (now < 0) return false;
  return now == 0 || started == 0 || now == started;
}

bool TableExists(sqlite3* db, const char* table) {
  Statement st(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  return st.Bind(1, std::string(table)).Step() == SQLITE_ROW;
}

// Whether a certificate in a persistent store names the container in its
// key provider property (the name's UTF-16 code units appear in it).
int ReferencedByCertificate(sqlite3* db, const std::string& display) {
  if (!TableExists(db, "cert_properties")) return 0;
  std::u16string wide = kv::Utf8ToUtf16Lossy(display);
  std::vector<uint8_t> bytes;
  for (char16_t unit : wide) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  Statement st(db, "SELECT 1 FROM cert_properties WHERE prop_id = ?1 AND instr(value, ?2) > 0 LIMIT 1");
  st.Bind(1, static_cast<int64_t>(CERT_KEY_PROV_INFO_PROP_ID)).BindBlob(2, bytes.data(), bytes.size());
  int rc = st.Step();
  if (rc == SQLITE_ROW) return 1;
  return rc == SQLITE_DONE ? 0 : -1;
}

sqlite3* OpenDb() {
  UserDatabase& db = UserDatabase::Instance();
  std::lock_guard<std::recursive_mutex> lock(db.Mutex());
  sqlite3* connection = db.ConnectionWithSchema("crypt_containers", kSchema);
  if (!connection) return nullptr;
  // The first opening of each database in this process sweeps it; the path
  // is looked at only when a connection has been opened since.
  static uint64_t seenOpenings = 0;
  static std::string swept;
  if (seenOpenings != db.Openings()) {
    seenOpenings = db.Openings();
    std::string path = UserDatabase::DatabasePath();
    if (swept != path) {
      swept = path;
      SweepAbandonedContainers();
      return db.Connection();
    }
  }
  return connection;
}

// Finds the container's row id; 0 when absent, -1 on error.
int64_t ContainerId(sqlite3* db, const ContainerName& name) {
  Statement st(db, "SELECT id FROM crypt_containers WHERE lookup = ?1 AND machine = ?2", Statement::kReuse);
  if (!st.ok()) return -1;
  st.Bind(1, name.lookup).Bind(2, name.machine ? 1 : 0);
  int rc = st.Step();
  if (rc == SQLITE_ROW) return st.ColumnInt(0);
  return rc == SQLITE_DONE ? 0 : -1;
}

// Associated data that ties a sealed key to its container and slot.
std::string Binding(const ContainerName& name, DWORD keySpec) {
  return "kv-key|" + std::string(name.machine ? "M|" : "U|") + name.lookup + "|" + std::to_string(keySpec);
}

}  // namespace

DWORD StoreError() {
  if (t_storeError != 0) return t_storeError;
  if (LastDatabaseError() != 0) return LastDatabaseError();
  return static_cast<DWORD>(NTE_FAIL);
}

void NoteStoreError(DWORD error) { t_storeError = error; }

int SweepAbandonedContainers() {
  UserDatabase& users = UserDatabase::Instance();
  std::lock_guard<std::recursive_mutex> lock(users.Mutex());
  sqlite3* connection = users.Connection();
  if (!connection) return 0;
  struct Temporary {
    int64_t id;
    std::string display;
    pid_t pid;
    int64_t started;
  };
  std::vector<Temporary> found;
  {
    Statement st(connection,
                 "SELECT t.container, c.name, t.pid, t.started FROM crypt_temporary t"
                 " JOIN crypt_containers c ON c.id = t.container");
    while (st.Step() == SQLITE_ROW)
      found.push_back({st.ColumnInt(0), st.ColumnText(1), static_cast<pid_t>(st.ColumnInt(2)), st.ColumnInt(3)});
  }
  int swept = 0;
  for (const Temporary& t : found) {
    if (OwnerAlive(t.pid, t.started)) continue;
    users.Transaction([&](sqlite3* db) {
      int referenced = ReferencedByCertificate(db, t.display);
      if (referenced < 0) return false;
      // A certificate kept in a store needs the key: the container stays, and
      // keeps its mark, so that it goes once no certificate names it (another
      // import replaced that certificate, naming a container of its own).
      if (referenced) return true;
      Statement forget(db, "DELETE FROM crypt_temporary WHERE container = ?1");
      if (forget.Bind(1, t.id).Step() != SQLITE_DONE) return false;
      Statement keys(db, "DELETE FROM crypt_keys WHERE container = ?1");
      if (keys.Bind(1, t.id).Step() != SQLITE_DONE) return false;
      Statement st(db, "DELETE FROM crypt_containers WHERE id = ?1");
      if (st.Bind(1, t.id).Step() != SQLITE_DONE) return false;
      ++swept;
      return true;
    });
  }
  return swept;
}

ContainerName MakeContainerName(const std::u16string& wide, bool machine) {
  ContainerName name;
  name.machine = machine;
  name.display = kv::Utf16ToUtf8(wide);
  name.lookup = name.display;
  for (char& c : name.lookup) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

// One transaction on the container `name`: its id is looked up inside it (a
// failed lookup rolls back with kError), then `step(db, id)` runs, with id 0
// when there is no such container, and answers the call; only kOk commits.
template <typename Step>
StoreResult ContainerTransaction(const ContainerName& name, Step step) {
  StoreResult result = StoreResult::kError;
  UserDatabase::Instance().Transaction([&](sqlite3* db) {
    int64_t id = ContainerId(db, name);
    if (id < 0) return false;
    result = step(db, id);
    return result == StoreResult::kOk;
  });
  return result;
}

StoreResult CreateContainer(const ContainerName& name, bool temporary) {
  BeginCall();
  if (!OpenDb()) return StoreResult::kError;
  return ContainerTransaction(name, [&](sqlite3* db, int64_t id) {
    if (id > 0) return StoreResult::kExists;
    Statement st(db, "INSERT INTO crypt_containers (name, lookup, machine) VALUES (?1, ?2, ?3)",
                 Statement::kReuse);
    st.Bind(1, name.display).Bind(2, name.lookup).Bind(3, name.machine ? 1 : 0);
    if (st.Step() != SQLITE_DONE) return StoreResult::kError;
    if (temporary) {
      Statement mark(db, "INSERT INTO crypt_temporary (container, pid, started) VALUES (?1, ?2, ?3)",
                     Statement::kReuse);
      mark.Bind(1, sqlite3_last_insert_rowid(db))
          .Bind(2, static_cast<int64_t>(getpid()))
          .Bind(3, OwnStart());
      if (mark.Step() != SQLITE_DONE) return StoreResult::kError;
    }
    return StoreResult::kOk;
  });
}

StoreResult ContainerExists(const ContainerName& name) {
  BeginCall();
  sqlite3* db = OpenDb();
  if (!db) return StoreResult::kError;
  std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
  int64_t id = ContainerId(db, name);
  if (id < 0) return StoreResult::kError;
  return id > 0 ? StoreResult::kOk : StoreResult::kMissing;
}

StoreResult DeleteContainer(const ContainerName& name) {
  BeginCall();
  if (!OpenDb()) return StoreResult::kError;
  return ContainerTransaction(name, [&](sqlite3* db, int64_t id) {
    if (id == 0) return StoreResult::kMissing;
    Statement keys(db, "DELETE FROM crypt_keys WHERE container = ?1", Statement::kReuse);
    keys.Bind(1, id);
    if (keys.Step() != SQLITE_DONE) return StoreResult::kError;
    Statement st(db, "DELETE FROM crypt_containers WHERE id = ?1", Statement::kReuse);
    st.Bind(1, id);
    if (st.Step() != SQLITE_DONE) return StoreResult::kError;
    return StoreResult::kOk;
  });
}

std::vector<std::string> ListContainers(bool machine) {
  std::vector<std::string> names;
  sqlite3* db = OpenDb();
  if (!db) return names;
  std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
  Statement st(db, "SELECT name FROM crypt_containers WHERE machine = ?1 ORDER BY id");
  st.Bind(1, machine ? 1 : 0);
  while (st.Step() == SQLITE_ROW) names.push_back(st.ColumnText(0));
  return names;
}

StoreResult SaveKey(const ContainerName& name, DWORD keySpec, ALG_ID algId, DWORD flags, EVP_PKEY* pkey) {
  BeginCall();
  if (!OpenDb()) return StoreResult::kError;
  // RSAPrivateKey DER, written directly: OpenSSL's encoders cost more than
  // the rest of a save.
  std::vector<uint8_t> plain;
  if (!RsaToPrivateKeyDer(pkey, &plain)) {
    unsigned char* der = nullptr;
    int derLen = i2d_PrivateKey(pkey, &der);
    if (derLen <= 0) return StoreResult::kError;
    plain.assign(der, der + derLen);
    OPENSSL_clear_free(der, static_cast<size_t>(derLen));
  }
  std::vector<uint8_t> sealed;
  bool sealedOk = SealSecret(plain, Binding(name, keySpec), &sealed);
  OPENSSL_cleanse(plain.data(), plain.size());
  if (!sealedOk) return StoreResult::kError;
  return ContainerTransaction(name, [&](sqlite3* db, int64_t id) {
    if (id == 0) return StoreResult::kMissing;
    Statement st(db,
                 "INSERT OR REPLACE INTO crypt_keys (container, key_spec, alg_id, flags, sealed_key, certificate)"
                 " VALUES (?1, ?2, ?3, ?4, ?5, NULL)",
                 Statement::kReuse);
    st.Bind(1, id).Bind(2, keySpec).Bind(3, algId).Bind(4, flags).BindBlob(5, sealed.data(), sealed.size());
    return st.Step() == SQLITE_DONE ? StoreResult::kOk : StoreResult::kError;
  });
}

StoreResult LoadKey(const ContainerName& name, DWORD keySpec, StoredKey* key, OpenedKey* opened) {
  BeginCall();
  sqlite3* db = OpenDb();
  if (!db) return StoreResult::kError;
  std::vector<uint8_t> sealed;
  {
    std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
    Statement st(db,
                 "SELECT k.alg_id, k.flags, k.sealed_key, k.certificate FROM crypt_keys k"
                 " JOIN crypt_containers c ON c.id = k.container"
                 " WHERE c.lookup = ?1 AND c.machine = ?2 AND k.key_spec = ?3",
                 Statement::kReuse);
    st.Bind(1, name.lookup).Bind(2, name.machine ? 1 : 0).Bind(3, keySpec);
    int rc = st.Step();
    if (rc == SQLITE_DONE) return StoreResult::kMissing;
    if (rc != SQLITE_ROW) return StoreResult::kError;
    key->algId = static_cast<ALG_ID>(st.ColumnInt(0));
    key->flags = static_cast<DWORD>(st.ColumnInt(1));
    sealed = st.ColumnBlob(2);
    key->certificate = st.ColumnIsNull(3) ? std::vector<uint8_t>() : st.ColumnBlob(3);
  }
  if (opened && opened->pkey && opened->sealed == sealed) {
    key->pkey = opened->pkey;
    return StoreResult::kOk;
  }
  std::vector<uint8_t> plain;
  if (!OpenSealed(sealed, Binding(name, keySpec), &plain)) return StoreResult::kError;
  // Keys are kept as RSAPrivateKey DER, read directly; anything else goes to
  // OpenSSL's general reader.
  EVP_PKEY* pkey = RsaFromPrivateKeyDer(plain.data(), plain.size()).release();
  if (!pkey) {
    const unsigned char* p = plain.data();
    pkey = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(plain.size()));
  }
  OPENSSL_cleanse(plain.data(), plain.size());
  if (!pkey) return StoreResult::kError;
  key->pkey = ShareKey(pkey);
  if (opened) {
    opened->sealed = std::move(sealed);
    opened->pkey = key->pkey;
  }
  return StoreResult::kOk;
}

StoreResult SaveCertificate(const ContainerName& name, DWORD keySpec, const std::vector<uint8_t>& cert) {
  BeginCall();
  if (!OpenDb()) return StoreResult::kError;
  return ContainerTransaction(name, [&](sqlite3* db, int64_t id) {
    Statement st(db, "UPDATE crypt_keys SET certificate = ?1 WHERE container = ?2 AND key_spec = ?3");
    st.BindBlob(1, cert.data(), cert.size()).Bind(2, id).Bind(3, keySpec);
    if (st.Step() != SQLITE_DONE) return StoreResult::kError;
    return sqlite3_changes(db) == 0 ? StoreResult::kMissing : StoreResult::kOk;
  });
}

}  // namespace kv::platform::crypt
