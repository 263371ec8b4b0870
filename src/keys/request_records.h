// PendingRequest records: one registry key per generated key under
// HKEY_CURRENT_USER\<registry base>\<container name>, remembering the
// provider, slot and public key until the certificate for it arrives. The
// records are read by acceptance and never removed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "vocabulary/error_codes.h"

namespace kv::keys {

struct PendingRequest {
  std::string containerName;
  std::string providerName;
  DWORD providerType = 0;
  DWORD keySpec = 0;
  std::vector<BYTE> publicKey;  // PUBLICKEYBLOB as the provider exports it
  std::string dateTime;         // "%4d/%02d/%02d %02d:%02d:%02d", local time
  std::string commonName;       // in the ANSI code page
};

// The local time as a record's "DateTime" text.
std::string RecordDateTime();

// Creates (or opens) the record's key and writes its six values (texts
// without their terminating zero). False with the registry's status in
// *error when the key or any value cannot be written.
bool WritePendingRequest(const std::string& base, const PendingRequest& record, DWORD* error);

// Finds the record whose "PublicKey" equals `publicKey` after the 8-byte
// blob header (whose algorithm field differs between signature and exchange
// keys). ERR_SUCCESS with the record (container, provider, type, slot);
// ERR_CERT_NOT_FOUND when no record matches (also when the base key does
// not exist) and ERR_ACCESS_DENIED when it exists but cannot be opened, each
// with the registry's status in *error.
ErrorCode FindPendingRequest(const std::string& base, const std::vector<BYTE>& publicKey, PendingRequest* found,
                             DWORD* error);

// Creates or opens `root` under HKEY_CURRENT_USER and writes and deletes a
// REG_DWORD value named `probeName`; false with the failing status in *error.
bool ProbeRegistryWrite(const std::string& root, const std::string& probeName, DWORD* error);

}  // namespace kv::keys
