// The certificates on present tokens that the personal store shows.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "crypt/token_keys.h"
#include "crypt/token_slots.h"

namespace kv::platform::crypt {
namespace {

// Certificates of one token, as last read; read again when the token is
// another or this process wrote to it.
struct ListedToken {
  std::string stamp;
  std::vector<TokenCertificate> certificates;
};

// The certificates of a token that go with a key: a certificate whose
// CKA_ID a key object carries, or, on a token that hides its keys until the
// PIN is given, any certificate with a CKA_ID that is not an authority's. A
// trust store's certificates (no keys, no login) are not a user's.
std::vector<TokenCertificate> ReadCertificates(const PresentToken& token) {
  std::vector<TokenCertificate> out;
  CK_FUNCTION_LIST* f = token.functions;
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  if (f->C_OpenSession(token.slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) return out;
  std::vector<std::vector<BYTE>> keyIds;
  for (CK_OBJECT_CLASS keyClass : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
    CK_ATTRIBUTE query[] = {{CKA_CLASS, &keyClass, sizeof(keyClass)}};
    for (CK_OBJECT_HANDLE key : FindObjects(f, session, query, 1)) {
      std::vector<BYTE> id;
      CK_RV rv;
      if (ReadAttribute(f, session, key, CKA_ID, &id, &rv) && !id.empty()) keyIds.push_back(std::move(id));
    }
  }
  const bool keysHidden = (token.flags & CKF_LOGIN_REQUIRED) != 0;
  CK_OBJECT_CLASS klass = CKO_CERTIFICATE;
  CK_CERTIFICATE_TYPE type = CKC_X_509;
  CK_ATTRIBUTE query[] = {{CKA_CLASS, &klass, sizeof(klass)}, {CKA_CERTIFICATE_TYPE, &type, sizeof(type)}};
  for (CK_OBJECT_HANDLE object : FindObjects(f, session, query, 2)) {
    std::vector<BYTE> value, id, category;
    CK_RV rv;
    if (!ReadAttribute(f, session, object, CKA_ID, &id, &rv) || id.empty()) continue;
    const bool keyed = std::find(keyIds.begin(), keyIds.end(), id) != keyIds.end();
    CK_ULONG authority = 2;  // CKA_CERTIFICATE_CATEGORY: certificate authority
    const bool isAuthority = ReadAttribute(f, session, object, CKA_CERTIFICATE_CATEGORY, &category, &rv) &&
                             category.size() == sizeof(CK_ULONG) &&
                             std::memcmp(category.data(), &authority, sizeof(authority)) == 0;
    if (!keyed && (!keysHidden || isAuthority)) continue;
    if (!ReadAttribute(f, session, object, CKA_VALUE, &value, &rv) || value.empty()) continue;
    out.push_back({std::move(value), ContainerOf(token, id)});
  }
  f->C_CloseSession(session);
  return out;
}

}  // namespace

void ListTokenCertificates(std::vector<TokenCertificate>* certificates, std::string* generation) {
  static std::mutex mutex;
  static auto* listed = new std::map<std::string, ListedToken>();  // by token, for the process
  certificates->clear();
  bool anySlot = false;
  std::vector<PresentToken> tokens = PresentTokens(&anySlot);
  const std::string writes = std::to_string(TokenWrites());
  *generation = writes;
  std::lock_guard<std::mutex> lock(mutex);
  std::map<std::string, ListedToken> next;
  for (const PresentToken& token : tokens) {
    std::string key = std::to_string(reinterpret_cast<uintptr_t>(token.functions)) + "/" + std::to_string(token.slot);
    std::string stamp = token.label + "/" + token.serial + "/" + writes;
    *generation += ";" + key + "/" + stamp;
    auto it = listed->find(key);
    ListedToken entry;
    if (it != listed->end() && it->second.stamp == stamp) {
      entry = std::move(it->second);
    } else {
      entry.stamp = stamp;
      entry.certificates = ReadCertificates(token);
    }
    certificates->insert(certificates->end(), entry.certificates.begin(), entry.certificates.end());
    next[key] = std::move(entry);
  }
  *listed = std::move(next);
}

}  // namespace kv::platform::crypt
