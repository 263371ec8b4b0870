// Writing, finding and probing PendingRequest records in the registry.
#include "keys/request_records.h"

#include <cstdio>
#include <cstring>

namespace kv::keys {
namespace {

// Longest subkey name the walk reads.
constexpr DWORD kSubkeyNameSize = 400;
// Longest "ProviderName" read back.
constexpr DWORD kProviderNameSize = 256;
// Part of a PUBLICKEYBLOB ignored by the comparison: its BLOBHEADER.
constexpr size_t kBlobHeaderSize = 8;

LSTATUS SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()));
}

LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

bool ReadDword(HKEY key, const char* name, DWORD* value) {
  DWORD size = sizeof *value;
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
}

// Whether the record under `key` holds `publicKey`.
bool SameKey(HKEY key, const std::vector<BYTE>& publicKey) {
  std::vector<BYTE> stored(publicKey.size());
  DWORD size = static_cast<DWORD>(stored.size());
  if (RegQueryValueExA(key, "PublicKey", nullptr, nullptr, stored.data(), &size) != ERROR_SUCCESS) return false;
  if (size != publicKey.size() || size < kBlobHeaderSize) return false;
  return std::memcmp(stored.data() + kBlobHeaderSize, publicKey.data() + kBlobHeaderSize,
                     size - kBlobHeaderSize) == 0;
}

void ReadBinding(HKEY key, PendingRequest* found) {
  ReadDword(key, "ProviderType", &found->providerType);
  ReadDword(key, "KeySpec", &found->keySpec);
  char name[kProviderNameSize + 1] = {};
  DWORD size = kProviderNameSize;
  if (RegQueryValueExA(key, "ProviderName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size) ==
      ERROR_SUCCESS) {
    // Stored without its terminator: the length is what was read.
    found->providerName.assign(name, strnlen(name, size));
  }
}

}  // namespace

std::string RecordDateTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[64] = {};
  std::snprintf(text, sizeof text, "%4d/%02d/%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  return text;
}

bool WritePendingRequest(const std::string& base, const PendingRequest& record, DWORD* error) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyA(HKEY_CURRENT_USER, (base + "\\" + record.containerName).c_str(), &key);
  // Every write counts: a record without its public key can never be
  // matched, and its key would be lost.
  if (status == ERROR_SUCCESS) status = SetText(key, "ProviderName", record.providerName);
  if (status == ERROR_SUCCESS) status = SetDword(key, "ProviderType", record.providerType);
  if (status == ERROR_SUCCESS) status = SetDword(key, "KeySpec", record.keySpec);
  if (status == ERROR_SUCCESS)
    status = RegSetValueExA(key, "PublicKey", 0, REG_BINARY, record.publicKey.data(),
                            static_cast<DWORD>(record.publicKey.size()));
  if (status == ERROR_SUCCESS) status = SetText(key, "DateTime", record.dateTime);
  if (status == ERROR_SUCCESS) status = SetText(key, "CommonName", record.commonName);
  if (key) RegCloseKey(key);
  *error = static_cast<DWORD>(status);
  return status == ERROR_SUCCESS;
}

ErrorCode FindPendingRequest(const std::string& base, const std::vector<BYTE>& publicKey, PendingRequest* found,
                             DWORD* error) {
  *error = 0;
  HKEY records = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &records);
  if (status != ERROR_SUCCESS) {
    *error = static_cast<DWORD>(status);
    // No request was ever made: no record can match. Only a folder that is
    // there but cannot be opened is a matter of rights.
    return status == ERROR_FILE_NOT_FOUND ? ERR_CERT_NOT_FOUND : ERR_ACCESS_DENIED;
  }
  ErrorCode result = ERR_CERT_NOT_FOUND;
  for (DWORD index = 0;; ++index) {
    char name[kSubkeyNameSize] = {};
    status = RegEnumKeyA(records, index, name, kSubkeyNameSize);
    if (status != ERROR_SUCCESS) {
      *error = static_cast<DWORD>(status);
      break;
    }
    HKEY record = nullptr;
    if (RegOpenKeyExA(records, name, 0, KEY_ALL_ACCESS, &record) != ERROR_SUCCESS) continue;
    bool match = SameKey(record, publicKey);
    if (match) {
      found->containerName = name;
      ReadBinding(record, found);
    }
    RegCloseKey(record);
    if (match) {
      result = ERR_SUCCESS;
      break;
    }
  }
  RegCloseKey(records);
  return result;
}

bool ProbeRegistryWrite(const std::string& root, const std::string& probeName, DWORD* error) {
  *error = 0;
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyA(HKEY_CURRENT_USER, root.c_str(), &key);
  if (status == ERROR_SUCCESS) {
    const DWORD probe = 1;
    status = RegSetValueExA(key, probeName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&probe),
                            sizeof probe);
    if (status == ERROR_SUCCESS) status = RegDeleteValueA(key, probeName.c_str());
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) *error = static_cast<DWORD>(status);
  return status == ERROR_SUCCESS;
}

}  // namespace kv::keys
