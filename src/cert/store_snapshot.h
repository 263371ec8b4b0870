// The personal store's certificates as GetIECertCount last listed them: their
// encodings, read back by the 1-based index the GetIECert* operations take,
// so an index keeps naming the certificate it named when the list was made.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace kv::cert {

class StoreSnapshot {
 public:
  void Clear() { m_certificates.clear(); }
  void Add(const BYTE* der, DWORD size) { m_certificates.emplace_back(der, der + size); }
  size_t Count() const { return m_certificates.size(); }
  // The encoding at `index` (1 to Count()), or null outside the list.
  const std::vector<BYTE>* At(LONG index) const {
    if (index < 1 || static_cast<size_t>(index) > m_certificates.size()) return nullptr;
    return &m_certificates[static_cast<size_t>(index) - 1];
  }

 private:
  std::vector<std::vector<BYTE>> m_certificates;
};

}  // namespace kv::cert
