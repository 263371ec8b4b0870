// Key container tables: crypt_containers and crypt_keys.
#include "crypt/container_store.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include "crypt/key_sealer.h"
#include "kvcommon/ansi.h"
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
    "  PRIMARY KEY (container, key_spec));";

sqlite3* OpenDb() {
  UserDatabase& db = UserDatabase::Instance();
  if (!db.EnsureSchema("crypt_containers", kSchema)) return nullptr;
  return db.Connection();
}

// Finds the container's row id; 0 when absent, -1 on error.
int64_t ContainerId(sqlite3* db, const ContainerName& name) {
  Statement st(db, "SELECT id FROM crypt_containers WHERE lookup = ?1 AND machine = ?2");
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

StoreResult CreateContainer(const ContainerName& name) {
  if (!OpenDb()) return StoreResult::kError;
  StoreResult result = StoreResult::kError;
  UserDatabase::Instance().Transaction([&](sqlite3* db) {
    int64_t id = ContainerId(db, name);
    if (id < 0) return false;
    if (id > 0) {
      result = StoreResult::kExists;
      return false;
    }
    Statement st(db, "INSERT INTO crypt_containers (name, lookup, machine) VALUES (?1, ?2, ?3)");
    st.Bind(1, name.display).Bind(2, name.lookup).Bind(3, name.machine ? 1 : 0);
    if (st.Step() != SQLITE_DONE) return false;
    result = StoreResult::kOk;
    return true;
  });
  return result;
}

StoreResult ContainerExists(const ContainerName& name) {
  sqlite3* db = OpenDb();
  if (!db) return StoreResult::kError;
  std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
  int64_t id = ContainerId(db, name);
  if (id < 0) return StoreResult::kError;
  return id > 0 ? StoreResult::kOk : StoreResult::kMissing;
}

StoreResult DeleteContainer(const ContainerName& name) {
  if (!OpenDb()) return StoreResult::kError;
  StoreResult result = StoreResult::kError;
  UserDatabase::Instance().Transaction([&](sqlite3* db) {
    int64_t id = ContainerId(db, name);
    if (id < 0) return false;
    if (id == 0) {
      result = StoreResult::kMissing;
      return false;
    }
    Statement keys(db, "DELETE FROM crypt_keys WHERE container = ?1");
    keys.Bind(1, id);
    if (keys.Step() != SQLITE_DONE) return false;
    Statement st(db, "DELETE FROM crypt_containers WHERE id = ?1");
    st.Bind(1, id);
    if (st.Step() != SQLITE_DONE) return false;
    result = StoreResult::kOk;
    return true;
  });
  return result;
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
  if (!OpenDb()) return StoreResult::kError;
  unsigned char* der = nullptr;
  int derLen = i2d_PrivateKey(pkey, &der);
  if (derLen <= 0) return StoreResult::kError;
  std::vector<uint8_t> plain(der, der + derLen);
  OPENSSL_clear_free(der, static_cast<size_t>(derLen));
  std::vector<uint8_t> sealed;
  bool sealedOk = SealSecret(plain, Binding(name, keySpec), &sealed);
  OPENSSL_cleanse(plain.data(), plain.size());
  if (!sealedOk) return StoreResult::kError;
  StoreResult result = StoreResult::kError;
  UserDatabase::Instance().Transaction([&](sqlite3* db) {
    int64_t id = ContainerId(db, name);
    if (id < 0) return false;
    if (id == 0) {
      result = StoreResult::kMissing;
      return false;
    }
    Statement st(db,
                 "INSERT OR REPLACE INTO crypt_keys (container, key_spec, alg_id, flags, sealed_key, certificate)"
                 " VALUES (?1, ?2, ?3, ?4, ?5, NULL)");
    st.Bind(1, id).Bind(2, keySpec).Bind(3, algId).Bind(4, flags).BindBlob(5, sealed.data(), sealed.size());
    if (st.Step() != SQLITE_DONE) return false;
    result = StoreResult::kOk;
    return true;
  });
  return result;
}

StoreResult LoadKey(const ContainerName& name, DWORD keySpec, StoredKey* key) {
  sqlite3* db = OpenDb();
  if (!db) return StoreResult::kError;
  std::vector<uint8_t> sealed;
  {
    std::lock_guard<std::recursive_mutex> lock(UserDatabase::Instance().Mutex());
    Statement st(db,
                 "SELECT k.alg_id, k.flags, k.sealed_key, k.certificate FROM crypt_keys k"
                 " JOIN crypt_containers c ON c.id = k.container"
                 " WHERE c.lookup = ?1 AND c.machine = ?2 AND k.key_spec = ?3");
    st.Bind(1, name.lookup).Bind(2, name.machine ? 1 : 0).Bind(3, keySpec);
    int rc = st.Step();
    if (rc == SQLITE_DONE) return StoreResult::kMissing;
    if (rc != SQLITE_ROW) return StoreResult::kError;
    key->algId = static_cast<ALG_ID>(st.ColumnInt(0));
    key->flags = static_cast<DWORD>(st.ColumnInt(1));
    sealed = st.ColumnBlob(2);
    key->certificate = st.ColumnIsNull(3) ? std::vector<uint8_t>() : st.ColumnBlob(3);
  }
  std::vector<uint8_t> plain;
  if (!OpenSealed(sealed, Binding(name, keySpec), &plain)) return StoreResult::kError;
  const unsigned char* p = plain.data();
  EVP_PKEY* pkey = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(plain.size()));
  OPENSSL_cleanse(plain.data(), plain.size());
  if (!pkey) return StoreResult::kError;
  key->pkey = ShareKey(pkey);
  return StoreResult::kOk;
}

StoreResult SaveCertificate(const ContainerName& name, DWORD keySpec, const std::vector<uint8_t>& cert) {
  if (!OpenDb()) return StoreResult::kError;
  StoreResult result = StoreResult::kError;
  UserDatabase::Instance().Transaction([&](sqlite3* db) {
    int64_t id = ContainerId(db, name);
    if (id < 0) return false;
    Statement st(db, "UPDATE crypt_keys SET certificate = ?1 WHERE container = ?2 AND key_spec = ?3");
    st.BindBlob(1, cert.data(), cert.size()).Bind(2, id).Bind(3, keySpec);
    if (st.Step() != SQLITE_DONE) return false;
    if (sqlite3_changes(db) == 0) {
      result = StoreResult::kMissing;
      return false;
    }
    result = StoreResult::kOk;
    return true;
  });
  return result;
}

}  // namespace kv::platform::crypt
