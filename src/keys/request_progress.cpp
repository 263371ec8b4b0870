// The in-progress mark of a key generation, and the sweep of marks left by
// generations whose process is gone.
#include "keys/request_progress.h"

#include <wincrypt.h>

#include <vector>

namespace kv::keys {
namespace {

// The value that marks a record whose key generation has not finished.
constexpr char kMarkValue[] = "InProgress";
// Longest subkey name read by the sweep.
constexpr DWORD kSubkeyNameSize = 400;

std::string MutexName(const std::string& container) { return "Korvessa.PendingRequest." + container; }

bool Marked(HKEY records, const std::string& name) {
  HKEY record = nullptr;
  if (RegOpenKeyExA(records, name.c_str(), 0, KEY_READ, &record) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  bool marked = RegQueryValueExA(record, kMarkValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
  RegCloseKey(record);
  return marked;
}

// Deletes a container; one that is already gone counts as deleted.
bool DeleteContainer(const std::string& container, const std::string& provider, DWORD providerType) {
  HCRYPTPROV gone = 0;
  if (CryptAcquireContextA(&gone, container.c_str(), provider.c_str(), providerType, CRYPT_DELETEKEYSET))
    return true;
  return GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET);
}

// Waits for nobody: true with the mutex owned when no living process holds
// it (an owner that died leaves it abandoned, which is as good).
HANDLE TakeIfFree(const std::string& container) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName(container).c_str());
  if (!mutex) return nullptr;
  DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex;
  CloseHandle(mutex);
  return nullptr;
}

}  // namespace

RequestInProgress::~RequestInProgress() {
  if (!m_mutex) return;
  ReleaseMutex(m_mutex);
  CloseHandle(m_mutex);
}

bool RequestInProgress::Begin(const std::string& base, const std::string& container, DWORD* error) {
  *error = 0;
  m_base = base;
  m_container = container;
  // Held before the mark exists, so that no sweep ever sees a mark of a
  // living generation without its mutex.
  m_mutex = TakeIfFree(container);
  if (!m_mutex) {
    *error = ERROR_ALREADY_EXISTS;
    return false;
  }
  HKEY record = nullptr;
  DWORD disposition = 0;
  LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, (base + "\\" + container).c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &record, &disposition);
  if (status != ERROR_SUCCESS) {
    *error = static_cast<DWORD>(status);
    return false;
  }
  if (disposition != REG_CREATED_NEW_KEY) {
    // Another key's record under the same name: not ours to mark or delete.
    RegCloseKey(record);
    *error = ERROR_ALREADY_EXISTS;
    return false;
  }
  m_begun = true;
  const DWORD mark = 1;
  status = RegSetValueExA(record, kMarkValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mark), sizeof mark);
  RegCloseKey(record);
  if (status != ERROR_SUCCESS) {
    *error = static_cast<DWORD>(status);
    return false;
  }
  return true;
}

bool RequestInProgress::Commit(DWORD* error) {
  HKEY record = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, (m_base + "\\" + m_container).c_str(), 0, KEY_ALL_ACCESS,
                                 &record);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueA(record, kMarkValue);
    RegCloseKey(record);
  }
  *error = static_cast<DWORD>(status);
  return status == ERROR_SUCCESS;
}

void RequestInProgress::Abandon(bool containerMade, const std::string& provider, DWORD providerType) {
  if (containerMade && !DeleteContainer(m_container, provider, providerType)) return;
  if (!m_begun) return;
  HKEY records = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, m_base.c_str(), 0, KEY_ALL_ACCESS, &records) != ERROR_SUCCESS) return;
  RegDeleteKeyA(records, m_container.c_str());
  RegCloseKey(records);
}

int SweepAbandonedRequests(const std::string& base, const std::string& provider, DWORD providerType) {
  HKEY records = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &records) != ERROR_SUCCESS) return 0;
  std::vector<std::string> marked;
  for (DWORD index = 0;; ++index) {
    char name[kSubkeyNameSize] = {};
    if (RegEnumKeyA(records, index, name, kSubkeyNameSize) != ERROR_SUCCESS) break;
    if (Marked(records, name)) marked.push_back(name);
  }
  int swept = 0;
  for (const std::string& container : marked) {
    HANDLE mutex = TakeIfFree(container);
    if (!mutex) continue;  // its generation is still running
    // Checked again under the mutex: the generation may have finished since.
    if (Marked(records, container) && DeleteContainer(container, provider, providerType) &&
        RegDeleteKeyA(records, container.c_str()) == ERROR_SUCCESS)
      ++swept;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  RegCloseKey(records);
  return swept;
}

}  // namespace kv::keys
