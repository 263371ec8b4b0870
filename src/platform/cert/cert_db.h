// Persistence of system certificate stores in the user's database: one row
// per certificate (DER, SHA-1) and one per persisted property. Every change
// runs in one transaction, so a crash leaves either the old or the new state
// and concurrent processes serialise on the write lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cert/cert_object.h"

namespace kv::platform::cert {

struct StoredCert {
  int64_t id = 0;
  std::vector<uint8_t> der;
  PropertyMap props;
};

// Whether a property is written to the database (handles and key contexts are not).
bool IsPersistedProperty(DWORD propId);

// Creates the tables on first use; false when the database cannot be opened.
bool EnsureCertSchema();

// Store existence (MY, ROOT and CA always exist).
bool StoreExists(DWORD location, const std::string& name, bool* exists);
bool CreateStoreRecord(DWORD location, const std::string& name);
bool DeleteStoreRecord(DWORD location, const std::string& name);

// All certificates of a store in insertion order.
bool LoadStore(DWORD location, const std::string& name, std::vector<StoredCert>* out);

// Adds `der` with `props` according to a CERT_STORE_ADD_* disposition, in one
// transaction. *resultId receives the row that now represents the
// certificate; *hr the Windows error when false is returned.
bool AddToStore(DWORD location, const std::string& name, const std::vector<uint8_t>& der,
                const PropertyMap& props, DWORD disposition, int64_t* resultId, HRESULT* hr);

// Identifies the state of the certificate tables as this process last saw
// them: it changes whenever this process or another one commits a change.
// False when the database cannot be read.
bool CertTablesVersion(std::string* version);

bool DeleteStoredCert(int64_t id);
// Writes (value non-null) or removes one property of a stored certificate.
bool WriteStoredProperty(int64_t id, DWORD propId, const std::vector<uint8_t>* value);

}  // namespace kv::platform::cert
