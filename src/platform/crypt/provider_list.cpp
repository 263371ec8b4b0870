// Provider table and CryptEnumProvidersA.
#include "crypt/provider_list.h"

#include <wincrypt.h>

#include <strings.h>

#include <cstring>

#include "crypt/out_buffer.h"

namespace kv::platform::crypt {
namespace {

const ProviderEntry kProviders[] = {
    {MS_DEF_PROV_A, PROV_RSA_FULL, ProviderSupport::kRsa},
    {MS_DEF_DSS_DH_PROV_A, PROV_DSS_DH, ProviderSupport::kAbsent},
    {MS_DEF_DSS_PROV_A, PROV_DSS, ProviderSupport::kAbsent},
    {MS_SCARD_PROV_A, PROV_RSA_FULL, ProviderSupport::kSmartCard},
    {MS_DEF_DH_SCHANNEL_PROV_A, PROV_DH_SCHANNEL, ProviderSupport::kAbsent},
    {MS_ENHANCED_PROV_A, PROV_RSA_FULL, ProviderSupport::kRsa},
    {MS_ENH_DSS_DH_PROV_A, PROV_DSS_DH, ProviderSupport::kAbsent},
    {MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, ProviderSupport::kRsa},
    {MS_DEF_RSA_SCHANNEL_PROV_A, PROV_RSA_SCHANNEL, ProviderSupport::kRsa},
    {MS_STRONG_PROV_A, PROV_RSA_FULL, ProviderSupport::kRsa},
    {kTokenProviderName, PROV_RSA_FULL, ProviderSupport::kToken},
};
constexpr DWORD kProviderCount = sizeof(kProviders) / sizeof(kProviders[0]);

}  // namespace

const ProviderEntry* ProviderAt(DWORD index) { return index < kProviderCount ? &kProviders[index] : nullptr; }

const ProviderEntry* FindProvider(const std::string& name) {
  for (const ProviderEntry& e : kProviders) {
    if (strcasecmp(e.name, name.c_str()) == 0) return &e;
  }
  return nullptr;
}

const ProviderEntry* DefaultProvider(DWORD type) {
  const char* name = nullptr;
  switch (type) {
    case PROV_RSA_FULL: name = MS_STRONG_PROV_A; break;
    case PROV_RSA_AES: name = MS_ENH_RSA_AES_PROV_A; break;
    case PROV_RSA_SCHANNEL: name = MS_DEF_RSA_SCHANNEL_PROV_A; break;
    case PROV_DSS: name = MS_DEF_DSS_PROV_A; break;
    case PROV_DSS_DH: name = MS_ENH_DSS_DH_PROV_A; break;
    case PROV_DH_SCHANNEL: name = MS_DEF_DH_SCHANNEL_PROV_A; break;
    default: return nullptr;
  }
  return FindProvider(name);
}

}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;

extern "C" BOOL WINAPI CryptEnumProvidersA(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                                           LPSTR szProvName, DWORD* pcbProvName) {
  if (pdwReserved || !pcbProvName) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  const ProviderEntry* entry = ProviderAt(dwIndex);
  if (!entry) return Fail(static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  if (pdwProvType) *pdwProvType = entry->type;
  return ReturnBytes(entry->name, std::strlen(entry->name) + 1, reinterpret_cast<BYTE*>(szProvName), pcbProvName);
}
