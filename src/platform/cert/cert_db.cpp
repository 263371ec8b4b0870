// System certificate stores in the user's SQLite database.
#include "cert/cert_db.h"

#include <wincrypt.h>
#include <strings.h>

#include "database/user_database.h"

namespace kv::platform::cert {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS cert_stores("
    "  location INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, PRIMARY KEY(location, name));"
    "CREATE TABLE IF NOT EXISTS cert_certificates("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, location INTEGER NOT NULL,"
    "  store TEXT NOT NULL COLLATE NOCASE, sha1 BLOB NOT NULL, der BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS cert_certificates_by_hash ON cert_certificates(location, store, sha1);"
    // A store read in row order from this index needs no sort of its blobs.
    "CREATE INDEX IF NOT EXISTS cert_certificates_by_store ON cert_certificates(location, store);"
    "CREATE TABLE IF NOT EXISTS cert_properties("
    "  cert_id INTEGER NOT NULL REFERENCES cert_certificates(id) ON DELETE CASCADE,"
    "  prop_id INTEGER NOT NULL, value BLOB NOT NULL, PRIMARY KEY(cert_id, prop_id));";

UserDatabase& Db() { return UserDatabase::Instance(); }

// Commits made by this process; other processes' commits show in PRAGMA data_version.
uint64_t g_localWrites = 0;

bool Committed(bool ok) {
  if (ok) ++g_localWrites;
  return ok;
}

bool IsPredefined(const std::string& name) {
  auto eq = [&](const char* s) { return strcasecmp(name.c_str(), s) == 0; };
  return eq("MY") || eq("ROOT") || eq("CA") || eq("TRUST") || eq("DISALLOWED");
}

bool InsertCert(sqlite3* db, DWORD location, const std::string& name, const std::vector<uint8_t>& der,
                const PropertyMap& props, int64_t* id) {
  std::vector<uint8_t> sha1 = Sha1Of(der);
  Statement insert(db, "INSERT INTO cert_certificates(location, store, sha1, der) VALUES(?,?,?,?)");
  insert.Bind(1, static_cast<int64_t>(location)).Bind(2, name);
  insert.BindBlob(3, sha1.data(), sha1.size()).BindBlob(4, der.data(), der.size());
  if (insert.Step() != SQLITE_DONE) return false;
  *id = sqlite3_last_insert_rowid(db);
  for (const auto& [propId, value] : props) {
    if (!IsPersistedProperty(propId)) continue;
    Statement put(db, "INSERT OR REPLACE INTO cert_properties(cert_id, prop_id, value) VALUES(?,?,?)");
    put.Bind(1, *id).Bind(2, static_cast<int64_t>(propId)).BindBlob(3, value.data(), value.size());
    if (put.Step() != SQLITE_DONE) return false;
  }
  return true;
}

bool ReadProps(sqlite3* db, int64_t id, PropertyMap* props) {
  Statement read(db, "SELECT prop_id, value FROM cert_properties WHERE cert_id = ?");
  read.Bind(1, id);
  int rc;
  while ((rc = read.Step()) == SQLITE_ROW) (*props)[static_cast<DWORD>(read.ColumnInt(0))] = read.ColumnBlob(1);
  return rc == SQLITE_DONE;
}

bool DeleteRow(sqlite3* db, int64_t id) {
  Statement del(db, "DELETE FROM cert_certificates WHERE id = ?");
  del.Bind(1, id);
  return del.Step() == SQLITE_DONE;
}

}  // namespace

bool IsPersistedProperty(DWORD propId) {
  return propId != CERT_KEY_PROV_HANDLE_PROP_ID && propId != CERT_KEY_CONTEXT_PROP_ID &&
         propId != CERT_ACCESS_STATE_PROP_ID;
}

bool EnsureCertSchema() { return Db().EnsureSchema("cert", kSchema); }

bool StoreExists(DWORD location, const std::string& name, bool* exists) {
  if (!EnsureCertSchema()) return false;
  if (IsPredefined(name)) {
    *exists = true;
    return true;
  }
  std::lock_guard<std::recursive_mutex> lock(Db().Mutex());
  Statement find(Db().Connection(), "SELECT 1 FROM cert_stores WHERE location = ? AND name = ?");
  find.Bind(1, static_cast<int64_t>(location)).Bind(2, name);
  int rc = find.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
  *exists = rc == SQLITE_ROW;
  return true;
}

bool CreateStoreRecord(DWORD location, const std::string& name) {
  if (!EnsureCertSchema()) return false;
  return Committed(Db().Transaction([&](sqlite3* db) {
    Statement put(db, "INSERT OR IGNORE INTO cert_stores(location, name) VALUES(?,?)");
    put.Bind(1, static_cast<int64_t>(location)).Bind(2, name);
    return put.Step() == SQLITE_DONE;
  }));
}

bool DeleteStoreRecord(DWORD location, const std::string& name) {
  if (!EnsureCertSchema()) return false;
  return Committed(Db().Transaction([&](sqlite3* db) {
    Statement certs(db, "DELETE FROM cert_certificates WHERE location = ? AND store = ?");
    certs.Bind(1, static_cast<int64_t>(location)).Bind(2, name);
    Statement store(db, "DELETE FROM cert_stores WHERE location = ? AND name = ?");
    store.Bind(1, static_cast<int64_t>(location)).Bind(2, name);
    return certs.Step() == SQLITE_DONE && store.Step() == SQLITE_DONE;
  }));
}

bool LoadStore(DWORD location, const std::string& name, std::vector<StoredCert>* out) {
  out->clear();
  if (!EnsureCertSchema()) return false;
  std::lock_guard<std::recursive_mutex> lock(Db().Mutex());
  // One statement reads one snapshot, so a concurrent writer is seen entirely or not at all.
  Statement read(Db().Connection(),
                 "SELECT c.id, c.der, p.prop_id, p.value FROM cert_certificates c "
                 "LEFT JOIN cert_properties p ON p.cert_id = c.id "
                 "WHERE c.location = ? AND c.store = ? ORDER BY c.id, p.prop_id");
  read.Bind(1, static_cast<int64_t>(location)).Bind(2, name);
  int rc;
  while ((rc = read.Step()) == SQLITE_ROW) {
    int64_t id = read.ColumnInt(0);
    if (out->empty() || out->back().id != id) {
      out->emplace_back();
      out->back().id = id;
      out->back().der = read.ColumnBlob(1);
    }
    if (!read.ColumnIsNull(2)) out->back().props[static_cast<DWORD>(read.ColumnInt(2))] = read.ColumnBlob(3);
  }
  return rc == SQLITE_DONE;
}

bool AddToStore(DWORD location, const std::string& name, const std::vector<uint8_t>& der,
                const PropertyMap& props, DWORD disposition, int64_t* resultId, HRESULT* hr) {
  *hr = 0;
  if (!EnsureCertSchema()) {
    *hr = HRESULT_FROM_WIN32(ERROR_CANTWRITE);
    return false;
  }
  std::vector<uint8_t> sha1 = Sha1Of(der);
  bool ok = Db().Transaction([&](sqlite3* db) {
    // A system store keeps one copy per SHA-1 hash, as the registry names
    // each certificate's key after it: adding one that is there already,
    // even with CERT_STORE_ADD_ALWAYS, writes over the stored copy and its
    // properties.
    int64_t existing = 0;
    Statement find(db,
                   "SELECT id FROM cert_certificates WHERE location = ? AND store = ? AND sha1 = ? "
                   "ORDER BY id LIMIT 1");
    find.Bind(1, static_cast<int64_t>(location)).Bind(2, name).BindBlob(3, sha1.data(), sha1.size());
    int rc = find.Step();
    if (rc == SQLITE_ROW)
      existing = find.ColumnInt(0);
    else if (rc != SQLITE_DONE)
      return false;
    if (!existing) return InsertCert(db, location, name, der, props, resultId);
    switch (disposition) {
      case CERT_STORE_ADD_NEW:
        *hr = CRYPT_E_EXISTS;
        return false;
      case CERT_STORE_ADD_USE_EXISTING: {
        for (const auto& [propId, value] : props) {
          if (!IsPersistedProperty(propId)) continue;
          Statement put(db, "INSERT OR IGNORE INTO cert_properties(cert_id, prop_id, value) VALUES(?,?,?)");
          put.Bind(1, existing).Bind(2, static_cast<int64_t>(propId)).BindBlob(3, value.data(), value.size());
          if (put.Step() != SQLITE_DONE) return false;
        }
        *resultId = existing;
        return true;
      }
      case CERT_STORE_ADD_ALWAYS:
      case CERT_STORE_ADD_REPLACE_EXISTING:
      case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES: {
        PropertyMap merged;
        if (disposition == CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES && !ReadProps(db, existing, &merged))
          return false;
        for (const auto& [propId, value] : props) merged[propId] = value;
        if (!DeleteRow(db, existing)) return false;
        return InsertCert(db, location, name, der, merged, resultId);
      }
      default:
        *hr = E_INVALIDARG;
        return false;
    }
  });
  if (!ok && *hr == 0) *hr = HRESULT_FROM_WIN32(ERROR_CANTWRITE);
  return Committed(ok);
}

bool DeleteStoredCert(int64_t id) {
  if (!EnsureCertSchema()) return false;
  return Committed(Db().Transaction([&](sqlite3* db) { return DeleteRow(db, id); }));
}

bool WriteStoredProperty(int64_t id, DWORD propId, const std::vector<uint8_t>* value) {
  if (!EnsureCertSchema()) return false;
  return Committed(Db().Transaction([&](sqlite3* db) {
    if (!value) {
      Statement del(db, "DELETE FROM cert_properties WHERE cert_id = ? AND prop_id = ?");
      del.Bind(1, id).Bind(2, static_cast<int64_t>(propId));
      return del.Step() == SQLITE_DONE;
    }
    // A certificate deleted meanwhile by another process keeps the value in memory only.
    Statement exists(db, "SELECT 1 FROM cert_certificates WHERE id = ?");
    exists.Bind(1, id);
    int rc = exists.Step();
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return false;
    Statement put(db, "INSERT OR REPLACE INTO cert_properties(cert_id, prop_id, value) VALUES(?,?,?)");
    put.Bind(1, id).Bind(2, static_cast<int64_t>(propId)).BindBlob(3, value->data(), value->size());
    return put.Step() == SQLITE_DONE;
  }));
}

bool CertTablesVersion(std::string* version) {
  if (!EnsureCertSchema()) return false;
  std::lock_guard<std::recursive_mutex> lock(Db().Mutex());
  Statement pragma(Db().Connection(), "PRAGMA data_version", Statement::kReuse);
  if (pragma.Step() != SQLITE_ROW) return false;
  *version = KorvessaHome() + "|" + std::to_string(pragma.ColumnInt(0)) + "|" + std::to_string(g_localWrites);
  return true;
}

}  // namespace kv::platform::cert
