// Acquiring and releasing provider contexts: key container creation, opening
// and deletion with the flags and errors of the Windows RSA providers.
#include <pwd.h>
#include <unistd.h>

#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "crypt/crypt_objects.h"
#include "crypt/out_buffer.h"
#include "crypt/provider_list.h"
#include "crypt/token_keys.h"
#include "kvseam/ansi.h"
#include "kvcommon/utf.h"

namespace kv::platform::crypt {
namespace {

constexpr DWORD kKnownAcquireFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                     CRYPT_MACHINE_KEYSET | CRYPT_SILENT | CRYPT_DEFAULT_CONTAINER_OPTIONAL;

// Windows names the user's default container after the logged-on user.
std::u16string DefaultContainerName() {
  const char* user = std::getenv("USER");
  std::string name = user && *user ? user : "";
  if (name.empty()) {
    if (struct passwd* pw = getpwuid(getuid())) name = pw->pw_name;
  }
  if (name.empty()) name = "user";
  return kv::Utf8ToUtf16Lossy(name);
}

// A card's container is on its token: it opens while the token is present;
// keys are neither made nor deleted through it (its own tools do that).
BOOL AcquireToken(HCRYPTPROV* phProv, const std::u16string* container, const ProviderEntry& entry, DWORD dwFlags) {
  auto prov = std::make_shared<Provider>();
  prov->providerName = entry.name;
  prov->providerType = entry.type;
  prov->silent = (dwFlags & CRYPT_SILENT) != 0;
  if (dwFlags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET)) return Fail(NTE_PERM);
  if (dwFlags & CRYPT_VERIFYCONTEXT) {
    prov->verifyContext = true;
  } else {
    if (!container || container->empty()) return Fail(NTE_BAD_KEYSET);
    prov->token = TokenKey::Open(*container);
    if (!prov->token) return FALSE;
    prov->container = MakeContainerName(*container, false);
  }
  *phProv = AddHandle(prov);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL Acquire(HCRYPTPROV* phProv, const std::u16string* container, const std::u16string* provider,
             DWORD dwProvType, DWORD dwFlags, bool temporary = false) {
  // Windows checks the type before the out pointer.
  if (dwProvType < 1 || dwProvType > 999) return Fail(NTE_BAD_PROV_TYPE);
  if (!phProv) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwFlags & ~kKnownAcquireFlags) return Fail(NTE_BAD_FLAGS);

  const ProviderEntry* entry = nullptr;
  if (!provider || provider->empty()) {
    entry = DefaultProvider(dwProvType);
    if (!entry) return Fail(NTE_PROV_TYPE_NOT_DEF);
  } else {
    entry = FindProvider(kv::Utf16ToUtf8(*provider));
    if (!entry) return Fail(NTE_KEYSET_NOT_DEF);
    if (entry->type != dwProvType) return Fail(NTE_PROV_TYPE_NO_MATCH);
  }
  if (entry->support == ProviderSupport::kSmartCard) return Fail(SCARD_E_NO_READERS_AVAILABLE);
  if (entry->support == ProviderSupport::kAbsent) return Fail(NTE_PROVIDER_DLL_FAIL);
  if (entry->support == ProviderSupport::kToken) return AcquireToken(phProv, container, *entry, dwFlags);

  DWORD action = dwFlags & (CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET);
  bool verify = (dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
  if ((dwFlags & CRYPT_NEWKEYSET) && (dwFlags & CRYPT_DELETEKEYSET)) return Fail(NTE_BAD_FLAGS);
  if (verify && (dwFlags & CRYPT_DELETEKEYSET)) return Fail(NTE_BAD_FLAGS);
  if (verify && container && !container->empty()) return Fail(NTE_BAD_FLAGS);

  auto prov = std::make_shared<Provider>();
  prov->providerName = entry->name;
  prov->providerType = entry->type;
  prov->verifyContext = verify;
  prov->silent = (dwFlags & CRYPT_SILENT) != 0;
  if (!verify) {
    std::u16string name = container && !container->empty() ? *container : DefaultContainerName();
    if (name.size() > MAX_PATH) return Fail(NTE_BAD_KEYSET_PARAM);
    prov->container = MakeContainerName(name, (dwFlags & CRYPT_MACHINE_KEYSET) != 0);
    StoreResult result;
    if (action == CRYPT_DELETEKEYSET) {
      result = DeleteContainer(prov->container);
      if (result == StoreResult::kMissing) return Fail(NTE_BAD_KEYSET);
      if (result != StoreResult::kOk) return Fail(StoreError());
      *phProv = 0;
      return TRUE;
    }
    if (action == CRYPT_NEWKEYSET) {
      result = CreateContainer(prov->container, temporary);
      if (result == StoreResult::kExists) return Fail(NTE_EXISTS);
    } else {
      result = ContainerExists(prov->container);
      if (result == StoreResult::kMissing) return Fail(NTE_BAD_KEYSET);
    }
    if (result != StoreResult::kOk) return Fail(StoreError());
    prov->openedKeys = OpenedKeysOf(prov->container);
  }
  *phProv = AddHandle(prov);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace

std::shared_ptr<OpenedKeys> OpenedKeysOf(const ContainerName& container) {
  static std::mutex mutex;
  static auto* live = new std::map<std::string, std::weak_ptr<OpenedKeys>>();  // outlives every context
  const std::string name = (container.machine ? "M" : "U") + container.lookup;
  std::lock_guard<std::mutex> lock(mutex);
  for (auto it = live->begin(); it != live->end();) it = it->second.expired() ? live->erase(it) : std::next(it);
  std::shared_ptr<OpenedKeys> keys = (*live)[name].lock();
  if (!keys) {
    keys = std::make_shared<OpenedKeys>();
    (*live)[name] = keys;
  }
  return keys;
}

BOOL AcquireNewTemporaryContainer(HCRYPTPROV* phProv, LPCSTR container, LPCSTR provider, DWORD provType,
                                  DWORD flags) {
  std::u16string wideContainer = kv::AnsiToUtf16(container);
  std::u16string wideProvider = kv::AnsiToUtf16(provider);
  return Acquire(phProv, container ? &wideContainer : nullptr, provider ? &wideProvider : nullptr, provType,
                 flags | CRYPT_NEWKEYSET, true);
}

std::shared_ptr<Provider> LiveProvider(HCRYPTPROV handle) {
  auto prov = FindHandle<Provider>(handle);
  if (!prov || prov->released) {
    // Windows checks the handle itself before its provider sees the call.
    SetLastError(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  return prov;
}

}  // namespace kv::platform::crypt

using namespace kv::platform::crypt;

extern "C" BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                            DWORD dwProvType, DWORD dwFlags) {
  std::u16string container = szContainer ? std::u16string(szContainer) : std::u16string();
  std::u16string provider = szProvider ? std::u16string(szProvider) : std::u16string();
  return Acquire(phProv, szContainer ? &container : nullptr, szProvider ? &provider : nullptr, dwProvType,
                 dwFlags);
}

extern "C" BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                            DWORD dwProvType, DWORD dwFlags) {
  std::u16string container = kv::AnsiToUtf16(szContainer);
  std::u16string provider = kv::AnsiToUtf16(szProvider);
  return Acquire(phProv, szContainer ? &container : nullptr, szProvider ? &provider : nullptr, dwProvType,
                 dwFlags);
}

// Reference counting is the system's own, not the provider's: a handle that
// is not a live context is an invalid parameter there.
extern "C" BOOL WINAPI CryptContextAddRef(HCRYPTPROV hProv, DWORD* pdwReserved, DWORD dwFlags) {
  if (pdwReserved || dwFlags) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  auto prov = FindHandle<Provider>(hProv);
  if (!prov || prov->released) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ++prov->references;
  return TRUE;
}

extern "C" BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  auto prov = FindHandle<Provider>(hProv);
  if (!prov || prov->released) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Flags are refused, but the reference is dropped all the same.
  if (--prov->references == 0) {
    prov->released = true;
    RemoveHandle(hProv, HandleKind::CryptProvider);
  }
  if (dwFlags) return Fail(NTE_BAD_FLAGS);
  return TRUE;
}

extern "C" BOOL WINAPI CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                         DWORD dwFlags) {
  auto prov = LiveProvider(hProv);
  if (!prov) return FALSE;
  if (!pdwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  auto text = [&](const std::string& s) { return ReturnBytes(s.c_str(), s.size() + 1, pbData, pdwDataLen); };
  switch (dwParam) {
    case PP_NAME:
      return text(prov->providerName);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
      if (prov->verifyContext) return Fail(NTE_BAD_KEYSET);
      return text(kv::Utf16ToAnsi(kv::Utf8ToUtf16Lossy(prov->container.display)));
    case PP_PROVTYPE:
      return ReturnDword(prov->providerType, pbData, pdwDataLen);
    case PP_IMPTYPE:
      return ReturnDword(prov->token ? 1 /* CRYPT_IMPL_HARDWARE */ : 2 /* CRYPT_IMPL_SOFTWARE */, pbData, pdwDataLen);
    case PP_VERSION:
      return ReturnDword(0x200, pbData, pdwDataLen);
    case PP_KEYSET_TYPE:
      if (prov->verifyContext) return Fail(NTE_BAD_KEYSET);
      return ReturnDword(prov->container.machine ? CRYPT_MACHINE_KEYSET : 0, pbData, pdwDataLen);
    case PP_ENUMCONTAINERS: {
      // The listing is taken at CRYPT_FIRST; CRYPT_NEXT walks that snapshot.
      static thread_local std::vector<std::string> listing;
      static thread_local size_t position = 0;
      if (dwFlags & CRYPT_FIRST) {
        listing = ListContainers(!prov->verifyContext && prov->container.machine);
        position = 0;
      }
      if (position >= listing.size()) return Fail(static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
      // Windows answers a size query with the longest name a container may
      // have, and leaves the length of a buffer that held the name alone.
      if (!pbData) {
        *pdwDataLen = MAX_PATH + 1;
        return TRUE;
      }
      const std::string name = kv::Utf16ToAnsi(kv::Utf8ToUtf16Lossy(listing[position]));
      if (*pdwDataLen < name.size() + 1) {
        *pdwDataLen = MAX_PATH + 1;
        return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
      }
      std::memcpy(pbData, name.c_str(), name.size() + 1);
      ++position;
      return TRUE;
    }
    default:
      return Fail(NTE_BAD_TYPE);
  }
}

extern "C" BOOL WINAPI CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  if (!LiveProvider(hProv)) return FALSE;
  if (dwLen && !pbBuffer) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (dwLen && RAND_bytes(pbBuffer, static_cast<int>(dwLen)) != 1) return Fail(NTE_FAIL);
  return TRUE;
}
