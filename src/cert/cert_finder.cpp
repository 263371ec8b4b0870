// The store search: authority certificates skipped, key usage, filter and
// validity checked in that order, the best match chosen by the date flags.
#include "cert/cert_finder.h"

#include "cert/cert_info.h"
#include "cert/filter_expression.h"

namespace {

// Whether `start`/`end` beat the best so far under the flags' date rule; the
// 19-character date texts order as they compare.
bool IsBetter(LONG flags, const std::string& start, const std::string& end, const std::string& bestStart,
              const std::string& bestEnd) {
  if (flags & kFindEarliestStart) return start < bestStart;
  if (flags & kFindLatestEnd) return end > bestEnd;
  if (flags & kFindEarliestEnd) return end < bestEnd;
  return start > bestStart;
}

}  // namespace

ErrorCode CCertFinder::OpenMyStore() {
  Close();
  m_lastError = 0;
  m_store.reset(CertOpenSystemStoreA(0, "MY"));
  if (!m_store) {
    m_lastError = GetLastError();
    return ERR_OPEN_MY_STORE;
  }
  return ERR_SUCCESS;
}

ErrorCode CCertFinder::OpenMemoryStore() {
  Close();
  m_store.reset(CertOpenStore(CERT_STORE_PROV_MEMORY, kCertEncoding, 0, 0, nullptr));
  if (!m_store) {
    m_lastError = GetLastError();
    return ERR_OPEN_MEMORY_STORE;
  }
  return ERR_SUCCESS;
}

void CCertFinder::Close() {
  m_store.reset();
  m_lastError = 0;
}

KeyProvInfoPtr CCertFinder::GetKeyProvInfo(PCCERT_CONTEXT context) {
  if (!context) return nullptr;
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) || size == 0) {
    m_lastError = GetLastError();
    return nullptr;
  }
  KeyProvInfoPtr info(reinterpret_cast<CRYPT_KEY_PROV_INFO*>(new BYTE[size]));
  BOOL ok = CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, info.get(), &size);
  m_lastError = GetLastError();
  if (!ok) return nullptr;
  return info;
}

ErrorCode CCertFinder::Find(const CertSearchRequest& request) { return Search(request, SearchMode::AllOrBest); }

ErrorCode CCertFinder::Search(const CertSearchRequest& request, SearchMode mode) {
  if (!m_store || !request.results) return ERR_CERT_NOT_FOUND;
  m_lastError = 0;
  request.results->Clear();
  const std::vector<kv::cert::FilterAlternative> alternatives = kv::cert::ParseFilter(request.filter);
  const LONG flags = request.flags;
  const bool extended = (flags & kFindExtended) != 0;
  const bool keepBestOnly = mode == SearchMode::AllOrBest && (flags & kFindSelectMask) == kFindSelectBest;

  ErrorCode result = ERR_SUCCESS;
  bool accepted = false;
  bool haveBest = false;
  std::string bestStart, bestEnd;
  kv::OwnedCertificate cursor;
  while (kv::NextCertificate(m_store.get(), &cursor)) {
    PCCERT_CONTEXT context = cursor.get();
    CCertInfo info(context);
    if (!info.IsLoaded() || info.IsCA()) continue;

    if (request.requiredKeyUsage >= 1 &&
        (info.GetKeyUsage() & request.requiredKeyUsage) != request.requiredKeyUsage) {
      if (!accepted) {
        result = ERR_CERT_KEY_USAGE;
        m_lastError = GetLastError();
      }
      continue;
    }

    if (!alternatives.empty()) {
      kv::cert::CertificateComponents components =
          kv::cert::ComponentsOf(info.GetSubject(), info.GetIssuer(), info.GetSerial());
      bool matched = false;
      for (const auto& alt : alternatives) {
        matched = extended ? kv::cert::MatchesExtended(alt, components) : kv::cert::MatchesExact(alt, components);
        if (matched) break;
      }
      if (!matched) continue;
    }

    if (flags & kFindCheckValidity) {
      LONG validity = CertVerifyTimeValidity(const_cast<FILETIME*>(request.compareTime), context->pCertInfo);
      if (validity != 0) {
        if (!accepted) {
          result = validity > 0 ? ERR_CERT_EXPIRED : ERR_CERT_NOT_YET_VALID;
          m_lastError = GetLastError();
        }
        continue;
      }
    }

    std::string start = info.GetNotBeforeDateTime();
    std::string end = info.GetNotAfterDateTime();
    bool better = !haveBest || IsBetter(flags, start, end, bestStart, bestEnd);
    if (better) {
      haveBest = true;
      bestStart = start;
      bestEnd = end;
    }

    kv::OwnedCertificate copy(CertDuplicateCertificateContext(context));
    m_lastError = GetLastError();
    accepted = true;
    result = ERR_SUCCESS;
    if (mode == SearchMode::FirstOnly) {
      request.results->Add(std::move(copy));
      return ERR_SUCCESS;
    }
    if (keepBestOnly && !better) continue;
    if (keepBestOnly) request.results->Clear();
    request.results->Add(std::move(copy));
  }

  if (result == ERR_SUCCESS && request.results->Empty()) {
    result = ERR_CERT_NOT_FOUND;
    m_lastError = GetLastError();
  }
  return result;
}
