// CDerBlob storage.
#include "codec/der/der_blob.h"

#include <cstdlib>
#include <cstring>

CDerBlob::~CDerBlob() { Clear(); }

void CDerBlob::Clear() {
  std::free(m_bytes);
  m_bytes = nullptr;
  m_length = 0;
  m_capacity = 0;
}

bool CDerBlob::Reserve(DWORD needed) {
  // `needed` excludes the trailing zero byte.
  if (needed > kMaxLength) return false;
  if (m_bytes != nullptr && needed < m_capacity) return true;
  uint64_t capacity = m_capacity < 64 ? 64 : uint64_t(m_capacity) * 2;
  if (capacity < uint64_t(needed) + 1) capacity = uint64_t(needed) + 1;
  if (capacity > uint64_t(kMaxLength) + 1) capacity = uint64_t(kMaxLength) + 1;
  BYTE* grown = static_cast<BYTE*>(std::calloc(size_t(capacity), 1));
  if (grown == nullptr) return false;
  if (m_length > 0) std::memcpy(grown, m_bytes, m_length);
  std::free(m_bytes);
  m_bytes = grown;
  m_capacity = DWORD(capacity);
  return true;
}

BYTE CDerBlob::Allocate(DWORD n) {
  Clear();
  if (n == 0) return 1;
  if (!Reserve(n)) return 0;
  m_length = n;
  return 1;
}

BYTE CDerBlob::Assign(const void* src, int32_t n) {
  if (src == nullptr || n < 0) return 0;
  if (n > 0 && Holds(src)) return 0;  // would copy from freed storage
  if (!Allocate(DWORD(n))) return 0;
  if (n > 0) std::memcpy(m_bytes, src, size_t(n));
  return 1;
}

BYTE CDerBlob::Append(const void* src, int32_t n) {
  if (src == nullptr || n <= 0) return 0;
  if (uint64_t(m_length) + uint64_t(n) > kMaxLength) return 0;
  // Appending a blob's own bytes: keep them valid across the reallocation.
  const bool own = Holds(src);
  const size_t offset = own ? size_t(reinterpret_cast<uintptr_t>(src) - reinterpret_cast<uintptr_t>(m_bytes)) : 0;
  if (!Reserve(m_length + DWORD(n))) return 0;
  const BYTE* from = own ? m_bytes + offset : static_cast<const BYTE*>(src);
  std::memmove(m_bytes + m_length, from, size_t(n));
  m_length += DWORD(n);
  m_bytes[m_length] = 0;
  return 1;
}

bool CDerBlob::Holds(const void* p) const {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p), begin = reinterpret_cast<uintptr_t>(m_bytes);
  return m_bytes != nullptr && at >= begin && at < begin + m_capacity;
}
