// The request manager's construction and settings: the installed RSA
// providers, the provider new keys are generated in, key size, key flags,
// key slot and the records' registry folder.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

#include "keys/cert_request_manager.h"

namespace {

// Size the enumeration's name buffer is given before each call.
constexpr DWORD kProviderNameBuffer = 256;

}  // namespace

CCertRequestManager::CCertRequestManager() {
  // Any failure ends the list, the normal end included.
  for (DWORD index = 0;; ++index) {
    char name[kProviderNameBuffer] = {};
    DWORD size = kProviderNameBuffer;
    DWORD type = 0;
    if (!CryptEnumProvidersA(index, nullptr, 0, &type, name, &size)) break;
    if (type != PROV_RSA_FULL && type != PROV_RSA_AES) continue;
    std::string entry(name);
    if (std::find(m_providerNames.begin(), m_providerNames.end(), entry) == m_providerNames.end())
      m_providerNames.push_back(entry);
  }
}

void CCertRequestManager::ChooseProvider(const std::string& name) {
  Fail(ERR_CSP_NAME_MISSING);
  if (name.empty()) {
    Fail(ERR_BAD_PARAM);
    return;
  }
  // Whatever was asked for, keys go into the one provider every supported
  // system has; the other names are accepted for compatibility only.
  const std::string candidate = kRequestProviderName;
  m_providerType = PROV_RSA_FULL;
  if (std::find(m_providerNames.begin(), m_providerNames.end(), candidate) != m_providerNames.end()) {
    m_providerName = candidate;
    Succeed();
  }
}

void CCertRequestManager::SetRegistryBase(const std::string& name) { m_registryBase = kRegistryRoot + name; }

ErrorCode CCertRequestManager::SetKeyBits(LONG bits) {
  if (bits != 1024 && bits != 2048 && bits != 4096) return ERR_KEY_LENGTH;
  m_keyBits = bits;
  return ERR_SUCCESS;
}

void CCertRequestManager::SetKeyFlagsMode(LONG flags) {
  m_keyFlagsMode = (flags == 0 || flags == 2 || flags == 3) ? flags : 1;
}

void CCertRequestManager::SetKeySpec(DWORD spec) { m_keySpec = spec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE; }

