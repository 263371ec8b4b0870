// Token certificates in the current user's "MY" store.
#include "cert/token_view.h"

#include <strings.h>

#include <algorithm>

#include "crypt/provider_list.h"
#include "kvcommon/utf.h"

namespace kv::platform::cert {
namespace {

// Token certificates follow every database row (whose positions are row ids).
constexpr uint64_t kTokenSeqBase = uint64_t{1} << 48;

std::vector<uint8_t> KeyProvInfoOf(const std::u16string& container) {
  std::u16string provider = kv::Utf8ToUtf16Lossy(kv::platform::crypt::kTokenProviderName);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(container.c_str()));
  info.pwszProvName = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(provider.c_str()));
  info.dwProvType = PROV_RSA_FULL;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return SerializeKeyProvInfo(info);
}

}  // namespace

bool ShowsTokens(const Store* store) {
  return store->kind == StoreKind::kSystem && store->location == CERT_SYSTEM_STORE_CURRENT_USER_ID &&
         strcasecmp(store->name.c_str(), "MY") == 0;
}

void MergeTokenCertificates(Store* store, const std::vector<kv::platform::crypt::TokenCertificate>& listed,
                            std::vector<CertObject*>* shown, std::vector<CertObject*>* entries) {
  for (const auto& certificate : listed) {
    // A certificate the store holds itself (an accepted one, bound to the
    // same key) is shown once, as the store has it.
    if (std::any_of(entries->begin(), entries->end(), [&](CertObject* o) { return o->encoded == certificate.encoded; })) {
      continue;
    }
    std::vector<uint8_t> provInfo = KeyProvInfoOf(certificate.container);
    auto same = std::find_if(shown->begin(), shown->end(), [&](CertObject* o) {
      auto prop = o->props.find(CERT_KEY_PROV_INFO_PROP_ID);
      return o->encoded == certificate.encoded && prop != o->props.end() && prop->second == provInfo;
    });
    if (same != shown->end()) {
      entries->push_back(*same);
      shown->erase(same);
      continue;
    }
    HRESULT error;
    CertObject* object = NewCertObject(certificate.encoded.data(), certificate.encoded.size(), &error);
    if (!object) continue;  // not a certificate we can read: not shown
    object->fromToken = true;
    object->props[CERT_KEY_PROV_INFO_PROP_ID] = std::move(provInfo);
    object->store = store;
    object->ctx.hCertStore = store;
    object->inList = true;
    object->seq = kTokenSeqBase + ++store->tokenSeqs;
    object->refs = 0;
    entries->push_back(object);
  }
}

}  // namespace kv::platform::cert
